#pragma once
// Streaming decoder for ".lz" files: a 4-byte little-endian length, then an LZO1X stream.
// Fixed memory per decode (1 MiB input, 64 KiB window); never reads or writes out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "release/lz_stream.h"

namespace sv {

struct LzResult {
  bool ok = false;
  uint64_t out_size = 0;
  uint32_t crc = 0;
  uint32_t expected_size = 0;
  std::wstring error_text;
};

// Asked before every input refill; true cancels the decode.
using LzCancelFn = bool (*)(void* context);

// writer may be null: output is then only counted and checksummed.
LzResult LzDecode(LzReader& reader, LzWriter* writer, LzCancelFn cancel, void* cancelContext);
bool LzDecodeToMemory(const void* data, size_t size, std::vector<uint8_t>& out,
                      std::wstring* errorOut = nullptr);

}  // namespace sv
