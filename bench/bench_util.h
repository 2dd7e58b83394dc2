#pragma once
// Timing and test data shared by the benchmarks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace sv::bench {

// Median wall times of `runs` calls of a and of b, taken in turns (after one warm-up call each) so
// that a change in the machine's load falls on both alike.
template <typename A, typename B>
std::pair<double, double> MedianSeconds(int runs, A&& a, B&& b) {
  a();
  b();
  std::vector<double> timesA, timesB;
  auto time = [](auto& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  for (int i = 0; i < runs; ++i) {
    timesA.push_back(time(a));
    timesB.push_back(time(b));
  }
  auto median = [runs](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + runs / 2, v.end());
    return v[size_t(runs / 2)];
  };
  return {median(timesA), median(timesB)};
}

inline void AppendNoise(std::mt19937& rng, std::vector<uint8_t>& out, size_t n) {
  for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(rng() >> 24));
}

inline void AppendText(std::mt19937& rng, std::vector<uint8_t>& out, size_t n) {
  static const char* const kWords[] = {"dosya", "guncelleme", "sunucu", "istemci",  "oyun",
                                       "yama",  "liste",      "boyut",  "karakter", "harita",
                                       "gorev", "esya",       "the",    "of",       "and",
                                       "to",    "in",         "is",     "for",      "with"};
  const size_t end = out.size() + n;
  while (out.size() < end) {
    const std::string w = kWords[rng() % (sizeof kWords / sizeof *kWords)];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
  }
  out.resize(end);
}

// Game-like binary: fixed-size records of slowly changing numbers and short names.
inline void AppendRecords(std::mt19937& rng, std::vector<uint8_t>& out, size_t n) {
  const size_t end = out.size() + n;
  uint32_t id = rng(), x = rng() & 0xFFFF;
  while (out.size() < end) {
    ++id;
    x += rng() % 17;
    const uint32_t fields[] = {id, x, uint32_t(rng() % 4), 0, x * 3, uint32_t(rng() % 100)};
    for (uint32_t f : fields) {
      for (int b = 0; b < 4; ++b) out.push_back(uint8_t(f >> (8 * b)));
    }
    AppendNoise(rng, out, rng() % 3);
  }
  out.resize(end);
}

inline void AppendRuns(std::mt19937& rng, std::vector<uint8_t>& out, size_t n) {
  const size_t end = out.size() + n;
  while (out.size() < end) out.insert(out.end(), 100 + rng() % 4000, uint8_t(rng()));
  out.resize(end);
}

// A mix in pieces of 4 to 64 KiB, weighted like a game client's files.
inline std::vector<uint8_t> GameLikeData(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 70000);
  while (out.size() < size) {
    const size_t piece = 4096 + rng() % 61440;
    switch (rng() % 10) {
      case 0:
        AppendNoise(rng, out, piece);
        break;
      case 1:
        AppendRuns(rng, out, piece);
        break;
      case 2:
      case 3:
      case 4:
        AppendText(rng, out, piece);
        break;
      default:
        AppendRecords(rng, out, piece);
        break;
    }
  }
  out.resize(size);
  return out;
}

}  // namespace sv::bench
