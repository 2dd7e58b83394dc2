#include "common/crc32.h"

#include <array>

#include "common/crc32_paths.h"

namespace sv {

namespace {

using Crc32Tables = std::array<std::array<uint32_t, 256>, 8>;

// Table 0 is the classic byte table; table k+1 advances table k's entry by one more zero byte,
// so that one step can fold eight input bytes with eight lookups.
constexpr Crc32Tables MakeTables() {
  Crc32Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

// Computed by the compiler: nothing to fill at start-up, nothing shared to race on.
constexpr Crc32Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x77073096u && kTables[0][255] == 0x2D02EF8Du);

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Decided once during static initialisation, before any thread runs; until then the tables serve.
const bool kUseFolding = Crc32FoldingAvailable();

}  // namespace

uint32_t Crc32UpdateTables(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const auto& t = kTables;
  while (length >= 8) {
    const uint32_t lo = LoadLe32(p) ^ reg;
    const uint32_t hi = LoadLe32(p + 4);
    reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    length -= 8;
  }
  while (length-- > 0) reg = (reg >> 8) ^ t[0][(reg ^ *p++) & 0xFF];
  return reg;
}

namespace {

// Polynomials over GF(2) in the reflected order of the CRC: bit 31 is x^0.
uint32_t MultiplyModP(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
  }
  return product;
}

}  // namespace

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
  // Appending lengthB zero bytes multiplies the register by x^(8 lengthB): square-and-multiply
  // over the bits of the length, starting from x^8.
  uint32_t shift = 1u << 31;
  uint32_t power = 1u << 23;  // x^8
  for (uint64_t n = lengthB; n != 0; n >>= 1) {
    if (n & 1) shift = MultiplyModP(power, shift);
    power = MultiplyModP(power, power);
  }
  return MultiplyModP(shift, crcA) ^ crcB;
}

uint32_t Crc32Update(uint32_t reg, const void* data, size_t length) {
  if (kUseFolding && length >= kCrc32FoldingMin) return Crc32UpdateFolding(reg, data, length);
  return Crc32UpdateTables(reg, data, length);
}

std::string FormatCrc32(uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[size_t(i)] = kDigits[value & 0xF];
  return text;
}

bool ParseHex32(std::string_view text, uint32_t& valueOut) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return false;
  uint32_t value = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = uint32_t(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = uint32_t(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = uint32_t(c - 'A' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  valueOut = value;
  return true;
}

}  // namespace sv
