// Feeds arbitrary bytes to the in-memory LZ decoder: it must never read or write out of bounds,
// and a stream it accepts must have produced exactly the length its header declares.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "patcher/engine/lz_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  std::wstring error;
  const bool ok = sv::LzDecodeToMemory(data, size, out, &error);
  if (ok) {
    const uint32_t declared = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                              uint32_t(data[3]) << 24;
    if (out.size() != declared || !error.empty()) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
