// Reads arbitrary bytes as a skin's "skin.xml" in an otherwise sound package (URL file, language
// file and a small background picture), loads the skin and composes and lays out a frame from it,
// so that every control rule meets hostile attributes and the drawing stays inside the frame.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/skin_frame.h"
#include "skin/skin_package.h"

using sv::fuzz::Check;

namespace {

// An uncompressed 24-bit BMP, the one format every build decodes.
std::string SmallBmp(int32_t width, int32_t height) {
  const uint32_t row = uint32_t(width * 3 + 3) & ~3u;
  const uint32_t pixels = row * uint32_t(height);
  std::string bmp(54 + pixels, '\0');
  auto put32 = [&bmp](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, uint32_t(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(width));
  put32(22, uint32_t(height));
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, pixels);
  for (uint32_t i = 0; i < pixels; ++i) bmp[54 + i] = char(i * 37);
  return bmp;
}

const sv::SkinPackage& BasePackage() {
  static const sv::SkinPackage package = [] {
    sv::SkinPackageBuilder builder;
    builder.put("torrentpatch.url.xml",
                "<url remoteConfigPath='http://127.0.0.1/c.xml' languagePath='tr.locale.xml'/>");
    builder.put("tr.locale.xml",
                "<torrent_locale><string key='BTN_START'>Basla \\n %s</string></torrent_locale>");
    builder.put("main.bmp", SmallBmp(40, 30));
    builder.put("button.bmp", SmallBmp(12, 8));
    builder.put("gauge.bmp", SmallBmp(20, 4));
    sv::SkinPackage parsed;
    parsed.parse(builder.serialize());
    return parsed;
  }();
  return package;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::SkinPackage package = BasePackage();
  package.entries.push_back({"skin.xml", std::string(sv::fuzz::Bytes(data, size))});
  sv::SkinDefinition skin;
  std::wstring error;
  if (!skin.load(package, &error)) {
    Check(!error.empty());
    return 0;
  }
  sv::fuzz::DrawFrame(skin, false);
  return 0;
}
