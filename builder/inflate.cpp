#include "builder/inflate.h"

#include <cstdint>
#include <cstring>

namespace sv {

namespace {

constexpr int kMaxBits = 15;      // longest code of RFC 1951
constexpr int kFastBits = 10;     // codes this short are found with one table look-up
constexpr int kMaxLitLen = 288;   // 286 usable, 2 more in the fixed code
constexpr int kMaxDist = 32;      // 30 usable, 2 more in the fixed code

[[noreturn]] void Fail(const wchar_t* message) { throw InfError{message}; }

// A canonical Huffman code: the per-length counts and the symbols in code order (enough to decode
// bit by bit), plus a table over the next kFastBits input bits for the short codes. A table entry
// holds length << 9 | symbol; 0 sends the decoder to the bit-by-bit path.
struct Huffman {
  uint16_t count[kMaxBits + 1];
  uint16_t symbol[kMaxLitLen];
  uint16_t fast[1u << kFastBits];
};

// Builds the code from the lengths. Returns 0 for a complete code, a negative value when the
// lengths are over-subscribed and a positive one when the code is incomplete.
int Build(Huffman& h, const uint8_t* length, int n) {
  std::memset(h.count, 0, sizeof h.count);
  for (int s = 0; s < n; ++s) h.count[length[s]]++;
  if (h.count[0] == n) {
    std::memset(h.fast, 0, sizeof h.fast);
    return 0;  // no codes: complete, nothing can be decoded
  }
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left <<= 1;
    left -= h.count[len];
    if (left < 0) return left;
  }
  uint16_t offset[kMaxBits + 1];
  offset[1] = 0;
  for (int len = 1; len < kMaxBits; ++len) offset[len + 1] = uint16_t(offset[len] + h.count[len]);
  for (int s = 0; s < n; ++s) {
    if (length[s] != 0) h.symbol[offset[length[s]]++] = uint16_t(s);
  }
  // Table: walk the symbols in code order with their canonical codes; the stream sends a code's
  // bits from its most significant one, so the table index is the code bit-reversed.
  std::memset(h.fast, 0, sizeof h.fast);
  unsigned code = 0;
  int index = 0;
  for (int len = 1; len <= kFastBits; ++len) {
    for (int k = 0; k < h.count[len]; ++k, ++index, ++code) {
      unsigned reversed = 0;
      for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
      const uint16_t entry = uint16_t(len << 9 | h.symbol[index]);
      for (unsigned i = reversed; i < (1u << kFastBits); i += 1u << len) h.fast[i] = entry;
    }
    code <<= 1;
  }
  return left;
}

struct FixedCodes {
  Huffman lit, dist;
  FixedCodes() {
    uint8_t lengths[kMaxLitLen];
    int s = 0;
    for (; s < 144; ++s) lengths[s] = 8;
    for (; s < 256; ++s) lengths[s] = 9;
    for (; s < 280; ++s) lengths[s] = 7;
    for (; s < 288; ++s) lengths[s] = 8;
    Build(lit, lengths, 288);
    for (s = 0; s < 30 + 2; ++s) lengths[s] = 5;
    Build(dist, lengths, 32);
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes codes;  // built once per process, thread-safe since C++11
  return codes;
}

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,    4,    5,    7,    9,    13,    17,    25,
                                    33,  49,  65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class Decoder {
public:
  Decoder(const uint8_t* data, size_t size, std::string& out, size_t expected, size_t maxSize)
      : in_(data), end_(data + size), out_(out), limit_(expected), max_(expected ? expected : maxSize) {
    out_.clear();
    size_t initial = expected;
    if (initial == 0) initial = size < max_ / 4 ? size * 4 + 64 : max_;
    out_.resize(initial < max_ ? initial : max_);
  }

  void Run() {
    bool last = false;
    while (!last) {
      last = Bits(1) != 0;
      const unsigned type = Bits(2);
      if (type == 0) {
        Stored();
      } else if (type == 1) {
        Codes(Fixed().lit, Fixed().dist);
      } else if (type == 2) {
        Dynamic();
      } else {
        Fail(L"Gecersiz deflate blok turu.");
      }
    }
    if (limit_ != 0 && pos_ != limit_) Fail(L"Deflate cikti boyutu uyusmuyor.");
    out_.resize(pos_);
  }

private:
  // Tops the bit buffer up to at least 56 bits while input is left. With eight bytes at hand one
  // unaligned little-endian load does it, and only the bytes taken into the buffer count as read.
  void Refill() {
    if (end_ - in_ >= 8) {
      uint64_t v;
      std::memcpy(&v, in_, 8);  // both builds are little-endian
      buf_ |= v << count_;
      in_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && in_ < end_) {
      buf_ |= uint64_t(*in_++) << count_;
      count_ += 8;
    }
  }

  void Need(unsigned n) {
    if (count_ < n) {
      Refill();
      if (count_ < n) Fail(L"Deflate verisi erken bitti.");
    }
  }

  unsigned Bits(unsigned n) {
    Need(n);
    const unsigned v = unsigned(buf_ & ((uint64_t(1) << n) - 1));
    buf_ >>= n;
    count_ -= n;
    return v;
  }

  // Bit by bit over the per-length counts: exact about where the input ends.
  unsigned DecodeSlow(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code |= int(Bits(1));
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    Fail(L"Deflate Huffman kodu gecersiz.");
  }

  unsigned Decode(const Huffman& h) {
    if (count_ < kMaxBits) Refill();
    if (count_ >= kMaxBits) {
      const unsigned entry = h.fast[buf_ & ((1u << kFastBits) - 1)];
      if (entry != 0) {
        const unsigned len = entry >> 9;
        buf_ >>= len;
        count_ -= len;
        return entry & 0x1FF;
      }
    }
    return DecodeSlow(h);
  }

  // Room for n more output bytes.
  char* Room(size_t n) {
    if (n > out_.size() - pos_) {
      if (n > max_ - pos_) Fail(L"Deflate ciktisi beklenen boyutu asti.");
      size_t grown = out_.size() < max_ / 2 ? out_.size() * 2 : max_;
      if (grown < pos_ + n) grown = pos_ + n;
      out_.resize(grown);
    }
    return out_.data() + pos_;
  }

  void Stored() {
    // Back to a byte boundary; whole bytes still in the buffer go back to the input.
    buf_ >>= count_ & 7;
    count_ &= ~7u;
    in_ -= count_ >> 3;
    buf_ = 0;
    count_ = 0;
    if (end_ - in_ < 4) Fail(L"Deflate verisi erken bitti.");
    const unsigned len = unsigned(in_[0]) | unsigned(in_[1]) << 8;
    const unsigned nlen = unsigned(in_[2]) | unsigned(in_[3]) << 8;
    in_ += 4;
    if (len != (~nlen & 0xFFFFu)) Fail(L"Deflate saklanan blok bozuk.");
    if (size_t(end_ - in_) < len) Fail(L"Deflate verisi erken bitti.");
    char* dst = Room(len);
    if (len != 0) std::memcpy(dst, in_, len);
    in_ += len;
    pos_ += len;
  }

  void Dynamic() {
    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int nlen = int(Bits(5)) + 257;
    const int ndist = int(Bits(5)) + 1;
    const int ncode = int(Bits(4)) + 4;
    if (nlen > 286 || ndist > 30) Fail(L"Deflate dinamik blok sayilari gecersiz.");
    uint8_t lengths[kMaxLitLen + kMaxDist] = {};
    for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = uint8_t(Bits(3));
    Huffman& lencode = lit_;
    if (Build(lencode, lengths, 19) != 0) Fail(L"Deflate kod uzunluklari bozuk.");
    int index = 0;
    while (index < nlen + ndist) {
      unsigned symbol = Decode(lencode);
      if (symbol < 16) {
        lengths[index++] = uint8_t(symbol);
        continue;
      }
      unsigned len = 0, repeat;
      if (symbol == 16) {
        if (index == 0) Fail(L"Deflate tekrar kodu gecersiz.");
        len = lengths[index - 1];
        repeat = 3 + Bits(2);
      } else if (symbol == 17) {
        repeat = 3 + Bits(3);
      } else {
        repeat = 11 + Bits(7);
      }
      if (index + int(repeat) > nlen + ndist) Fail(L"Deflate uzunluk tekrari tasti.");
      while (repeat-- != 0) lengths[index++] = uint8_t(len);
    }
    if (lengths[256] == 0) Fail(L"Deflate blok sonu kodu yok.");
    int left = Build(lit_, lengths, nlen);
    if (left < 0 || (left > 0 && nlen - lit_.count[0] != 1)) Fail(L"Deflate uzunluk kodlari bozuk.");
    left = Build(dist_, lengths + nlen, ndist);
    if (left < 0 || (left > 0 && ndist - dist_.count[0] != 1)) Fail(L"Deflate mesafe kodlari bozuk.");
    Codes(lit_, dist_);
  }

  void Codes(const Huffman& lit, const Huffman& dist) {
    for (;;) {
      unsigned symbol = Decode(lit);
      if (symbol < 256) {
        *Room(1) = char(symbol);
        ++pos_;
        continue;
      }
      if (symbol == 256) return;
      symbol -= 257;
      if (symbol >= 29) Fail(L"Deflate uzunluk kodu gecersiz.");
      const size_t len = kLenBase[symbol] + Bits(kLenExtra[symbol]);
      const unsigned dsym = Decode(dist);
      if (dsym >= 30) Fail(L"Deflate mesafe kodu gecersiz.");
      const size_t distance = kDistBase[dsym] + Bits(kDistExtra[dsym]);
      if (distance > pos_) Fail(L"Deflate mesafesi cok uzak.");
      char* dst = Room(len);
      const char* src = dst - distance;
      if (distance >= len) {
        std::memcpy(dst, src, len);
      } else if (distance == 1) {
        std::memset(dst, *src, len);
      } else {
        for (size_t i = 0; i < len; ++i) dst[i] = src[i];
      }
      pos_ += len;
    }
  }

  const uint8_t* in_;
  const uint8_t* end_;
  std::string& out_;
  size_t limit_;  // the exact size expected, 0 for none
  size_t max_;    // the output may not pass this
  size_t pos_ = 0;
  uint64_t buf_ = 0;
  unsigned count_ = 0;
  Huffman lit_, dist_;
};

}  // namespace

bool Inflate(const void* data, size_t size, std::string& out, size_t expectedSize,
             std::wstring* errorOut, size_t maxSize) {
  try {
    Decoder decoder(static_cast<const uint8_t*>(data), size, out, expectedSize, maxSize);
    decoder.Run();
    return true;
  } catch (const InfError& e) {
    out.clear();
    if (errorOut) *errorOut = e.message;
    return false;
  }
}

}  // namespace sv
