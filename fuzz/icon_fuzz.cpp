// Reads arbitrary bytes as an icon file and as a picture to make an icon from. An icon that passes
// the check has every image inside the file and a group directory of one 14-byte entry per image;
// an icon the builder makes from a picture passes its own check with its six sizes.
#include <cstdint>
#include <string>

#include "builder/icon_file.h"
#include "fuzz/fuzz_check.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = sv::fuzz::Bytes(data, size);
  std::wstring error;
  if (sv::CheckIcoFile(bytes, &error)) {
    Check(sv::HasIcoHeader(bytes));
    const auto images = sv::IcoImages(bytes);
    Check(!images.empty());
    for (std::string_view image : images) {
      Check(image.data() >= bytes.data() && image.data() + image.size() <= bytes.data() + bytes.size());
    }
    Check(sv::BuildIconGroup(bytes).size() == 6 + 14 * images.size());
  } else {
    Check(!error.empty());
  }

  std::string ico;
  if (sv::ConvertImageToIcon(bytes, ico, &error)) {
    Check(sv::CheckIcoFile(ico) && sv::IcoImages(ico).size() == 6);
  } else {
    Check(!error.empty() && ico.empty());
  }
  return 0;
}
