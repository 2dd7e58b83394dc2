// CRC-32 by carry-less multiplication: the running remainder is kept as 512 bits in four SSE
// registers and folded forward 64 bytes at a time, then reduced to 32 bits (Gopal et al., "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ Instruction", Intel 2009, with the constants
// of the bit-reflected polynomial 0xEDB88320). Compiled for the instruction set on this function
// only and chosen at run time, so the program still runs on processors without it.
#include "common/crc32_paths.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#if defined(__i386__)
// 32-bit Windows keeps the stack only 4-byte aligned; SSE spills need 16.
#define SV_CRC_TARGET __attribute__((target("pclmul,sse4.1"), force_align_arg_pointer))
#else
#define SV_CRC_TARGET __attribute__((target("pclmul,sse4.1")))
#endif

namespace sv {

bool Crc32FoldingAvailable() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

namespace {

// x^n mod P for the fold distances, bit-reflected: 512+32 / 512-32 bits (k1, k2), 128+32 / 128-32
// bits (k3, k4), 64 bits (k5); then P itself and the Barrett constant floor(x^64 / P).
constexpr long long kK1 = 0x154442bd4LL, kK2 = 0x1c6e41596LL;
constexpr long long kK3 = 0x1751997d0LL, kK4 = 0x0ccaa009eLL;
constexpr long long kK5 = 0x163cd6124LL;
constexpr long long kPoly = 0x1db710641LL, kMu = 0x1f7011641LL;

SV_CRC_TARGET inline __m128i Fold(__m128i acc, __m128i constants, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(acc, constants, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

SV_CRC_TARGET inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// length is at least 64 and a multiple of 16.
SV_CRC_TARGET uint32_t FoldBlocks(uint32_t reg, const uint8_t* p, size_t length) {
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(reg)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  length -= 64;

  const __m128i k1k2 = _mm_set_epi64x(kK2, kK1);
  while (length >= 64) {
    x1 = Fold(x1, k1k2, Load(p));
    x2 = Fold(x2, k1k2, Load(p + 16));
    x3 = Fold(x3, k1k2, Load(p + 32));
    x4 = Fold(x4, k1k2, Load(p + 48));
    p += 64;
    length -= 64;
  }

  const __m128i k3k4 = _mm_set_epi64x(kK4, kK3);
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  while (length >= 16) {
    x1 = Fold(x1, k3k4, Load(p));
    p += 16;
    length -= 16;
  }

  // 128 bits to 64, then to 32 + 32.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  const __m128i k5 = _mm_set_epi64x(0, kK5);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));

  // Barrett reduction to the 32-bit remainder.
  const __m128i poly = _mm_set_epi64x(kMu, kPoly);
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), poly, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, q), 1));
}

}  // namespace

uint32_t Crc32UpdateFolding(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (length < kCrc32FoldingMin) return Crc32UpdateTables(reg, p, length);
  const size_t blocks = length & ~size_t(15);
  reg = FoldBlocks(reg, p, blocks);
  return Crc32UpdateTables(reg, p + blocks, length - blocks);
}

}  // namespace sv

#else

namespace sv {

bool Crc32FoldingAvailable() { return false; }

uint32_t Crc32UpdateFolding(uint32_t reg, const void* data, size_t length) {
  return Crc32UpdateTables(reg, data, length);
}

}  // namespace sv

#endif
