// Reads arbitrary bytes as a zip: whatever it takes must be a valid package entry, and the
// count matches what was added.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "builder/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  const bool ok = sv::ReadZipBytes(std::string_view(reinterpret_cast<const char*>(data), size), builder, added, &error);
  if (!ok && error.empty()) std::abort();
  if (builder.package.entries.size() > size_t(added)) std::abort();
  for (const sv::SkinPackageEntry& entry : builder.package.entries) {
    if (entry.name.empty() || entry.data.size() > sv::kSkinFileMaxSize) std::abort();
  }
  return 0;
}
