// Reads arbitrary bytes as a skin package; a package that parses must serialise back to the same
// entries, and is then loaded as a skin and composed into a frame, so that the definition rules
// and the pixel work run on whatever the package holds. A wrong CRC is put right once, so that
// mutations reach past the checksum.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "fuzz/skin_frame.h"
#include "skin/skin_package.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::SkinPackage package;
  std::wstring error;
  if (!package.parse(data, size, &error)) {
    Check(!error.empty());
    if (error != L"Skin paketi bozuk (CRC).") return 0;
    std::string fixed(reinterpret_cast<const char*>(data), size);
    const uint32_t crc = sv::Crc32(fixed.data(), size - 4);
    for (int i = 0; i < 4; ++i) fixed[size - 4 + size_t(i)] = char((crc >> (8 * i)) & 0xFF);
    if (!package.parse(fixed, &error)) return 0;
  }
  Check(package.entries.size() <= sv::kSkinPackageMaxEntries);

  // Unique lower-case names survive a rebuild unchanged.
  std::set<std::string> names;
  bool rebuildable = true;
  sv::SkinPackageBuilder builder;
  for (const sv::SkinPackageEntry& entry : package.entries) {
    for (char c : entry.name) rebuildable = rebuildable && !(c >= 'A' && c <= 'Z');
    rebuildable = rebuildable && names.insert(entry.name).second;
    builder.put(entry.name, entry.data);
  }
  if (rebuildable) {
    sv::SkinPackage again;
    Check(again.parse(builder.serialize()));
    Check(again.entries.size() == package.entries.size());
    for (size_t i = 0; i < again.entries.size(); ++i) {
      Check(again.entries[i].name == package.entries[i].name);
      Check(again.entries[i].data == package.entries[i].data);
    }
  }

  sv::SkinDefinition skin;
  if (!skin.load(package, &error)) return 0;
  sv::fuzz::DrawFrame(skin, true);
  return 0;
}
