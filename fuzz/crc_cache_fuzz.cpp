// Reads arbitrary bytes as the CRC cache: whatever it takes, written back and read again, gives
// the same entries and run path, and writing that again gives the same bytes.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
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
  for (auto a = map.begin(), b = again.begin(); a != map.end(); ++a, ++b) {
    Check(a->first == b->first && a->second.size == b->second.size &&
          a->second.lastWrite == b->second.lastWrite && a->second.crc == b->second.crc);
  }
  Check(sv::FormatCrcCache(again, againRun) == written);
  return 0;
}
