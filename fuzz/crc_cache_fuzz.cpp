// Reads arbitrary bytes as the CRC cache: whatever it takes, written back and read again, gives
// the same entries and run path, and writing that again gives the same bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "common/text.h"
#include "patcher/engine/crc_cache.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::CrcCacheMap map;
  std::wstring runPath;
  if (!sv::ParseCrcCache(sv::fuzz::Bytes(data, size), map, runPath)) {
    Check(map.empty());
    return 0;
  }
  const std::string written = sv::FormatCrcCache(map, runPath);
  sv::CrcCacheMap again;
  std::wstring againRun;
  Check(sv::ParseCrcCache(written, again, againRun));
  Check(againRun == runPath && again.size() == map.size());
  // Every entry read comes back with the same values under the same key.
  map.ForEachInKeyOrder([&](std::string_view key, const sv::CrcCacheEntry& entry) {
    const sv::CrcCacheEntry* back = again.find(sv::toWide(key));
    Check(back && back->size == entry.size && back->lastWrite == entry.lastWrite &&
          back->crc == entry.crc);
  });
  Check(sv::FormatCrcCache(again, againRun) == written);
  return 0;
}
