#pragma once
// Inputs for the compressor tests and benchmarks: text, structured binary, zeros, random bytes
// and mixtures, made from a seed so every run sees the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sv::test {

enum class SampleKind { kText, kBinary, kZeros, kRandom, kMixed };

inline const char* SampleName(SampleKind k) {
  switch (k) {
    case SampleKind::kText: return "text";
    case SampleKind::kBinary: return "binary";
    case SampleKind::kZeros: return "zeros";
    case SampleKind::kRandom: return "random";
    case SampleKind::kMixed: return "mixed";
  }
  return "?";
}

class SampleRandom {
 public:
  explicit SampleRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return uint32_t(state_ >> 16);
  }

 private:
  uint64_t state_;
};

inline std::vector<uint8_t> MakeSample(SampleKind kind, size_t size, uint64_t seed = 1) {
  static const char* const kWords[] = {
      "oyun", "sunucu", "karakter", "envanter", "harita", "gorev", "the", "of", "and", "client",
      "patch", "version", "item_proto", "mob_drop", "<tr>", "</td>", "\n", "  ", "=", "0x1F",
      "skill", "level", "guild", "{", "}", "return", "value;", "float", "texture", "mesh"};
  SampleRandom rnd(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    SampleKind k = kind;
    size_t run = size;
    if (kind == SampleKind::kMixed) {
      k = SampleKind(rnd.Next() % 4);
      run = 1 + rnd.Next() % 70000;
    }
    size_t until = std::min(size, out.size() + run);
    switch (k) {
      case SampleKind::kText:
        while (out.size() < until) {
          std::string w = kWords[rnd.Next() % (sizeof kWords / sizeof kWords[0])];
          w += (rnd.Next() % 7 == 0) ? std::to_string(rnd.Next() % 1000) : " ";
          for (char c : w) {
            if (out.size() < until) out.push_back(uint8_t(c));
          }
        }
        break;
      case SampleKind::kBinary: {
        // Records of small integers, floats and repeated ids, like game data tables.
        uint32_t id = rnd.Next() % 50000;
        while (out.size() < until) {
          uint8_t rec[24] = {};
          id += 1 + rnd.Next() % 3;
          float f = float(rnd.Next() % 1000) / 8.0f;
          std::memcpy(rec, &id, 4);
          std::memcpy(rec + 4, &f, 4);
          rec[8] = uint8_t(rnd.Next() % 4);
          rec[12] = uint8_t(rnd.Next());
          rec[16 + rnd.Next() % 8] = 0xFF;
          for (uint8_t b : rec) {
            if (out.size() < until) out.push_back(b);
          }
        }
        break;
      }
      case SampleKind::kZeros:
        out.resize(until, 0);
        break;
      case SampleKind::kRandom:
      case SampleKind::kMixed:
        while (out.size() < until) out.push_back(uint8_t(rnd.Next()));
        break;
    }
  }
  return out;
}

}  // namespace sv::test
