#pragma once
// Inline helpers of the match searches.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sv {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Length of the common prefix of a and b, reading a no further than `limit`.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, const uint8_t* limit) {
  const uint8_t* start = a;
  if constexpr (std::endian::native == std::endian::little) {
    while (limit - a >= 8) {
      uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      if (uint64_t diff = x ^ y) return size_t(a - start) + size_t(std::countr_zero(diff) >> 3);
      a += 8;
      b += 8;
    }
  }
  while (a < limit && *a == *b) {
    ++a;
    ++b;
  }
  return size_t(a - start);
}

}  // namespace sv
