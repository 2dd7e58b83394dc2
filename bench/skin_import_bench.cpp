// The skin importer's zip reader on zips made to cost it as much work as their size allows
// (tests/support/hostile_zips.h), each of at most 64 MB, and on the largest honest skin (two
// 32 MiB entries of text, DEFLATE level 6): milliseconds per read, the median of five. Prints the
// slowest as "BENCH skin_import_hostile_ms"; the goal is at most 1,000 ms. The first hostile zip is
// the one that used to freeze the builder for about 26 minutes.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raw_deflate.h"
#include "builder/zip_reader.h"
#include "tests/support/hostile_zips.h"

namespace {

// Two entries of 32 MiB of text: the most an accepted skin decodes.
std::string LargestHonestSkin() {
  namespace h = sv::test::hostile;
  std::mt19937 rng(27);
  std::string zip;
  std::vector<h::Record> dir;
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> text;
    sv::bench::AppendText(rng, text, 32u << 20);
    const std::string plain(text.begin(), text.end());
    const std::string packed = Deflate(plain, 6);
    const uint32_t crc = sv::Crc32(plain.data(), plain.size());
    dir.push_back({h::Numbered(uint32_t(i)), uint32_t(zip.size()), 8, crc, uint32_t(packed.size()), uint32_t(plain.size())});
    zip += h::LocalEntry(h::Numbered(uint32_t(i)), 8, crc, packed, uint32_t(plain.size()));
  }
  return h::Finish(std::move(zip), dir);
}

double MedianMs(const std::string& zip, bool& okOut) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    sv::SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    const auto start = std::chrono::steady_clock::now();
    okOut = sv::ReadZipBytes(zip, builder, added, &error);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  namespace h = sv::test::hostile;
  struct Case {
    const char* name;
    std::string zip;
  };
  const std::vector<Case> cases = {
      {"shared_stream_same_name", h::SharedStream(65534, 32u << 20, true)},
      {"shared_stream_distinct_names", h::SharedStream(65534, 32u << 20, false)},
      {"many_empty_entries", h::ManyEmpty(65534)},
      {"declared_32mib_each", h::DeclaredHuge(64, 32u << 20)},
      {"undeclared_sizes", h::UndeclaredSize(64, 32u << 20)},
      {"two_32mib_zero_entries", h::DeclaredHuge(2, 32u << 20)},
      {"largest_honest_skin", LargestHonestSkin()},
  };
  double slowest = 0;
  for (const Case& c : cases) {
    if (c.zip.size() > (64u << 20)) {
      std::fprintf(stderr, "%s is %zu bytes, over 64 MB\n", c.name, c.zip.size());
      return 1;
    }
    bool ok = false;
    const double ms = MedianMs(c.zip, ok);
    std::printf("skin_import %-30s %9.1f ms  %6.2f MB  %s\n", c.name, ms, double(c.zip.size()) / 1e6,
                ok ? "read" : "refused");
    if (ms > slowest) slowest = ms;
  }
  std::printf("BENCH skin_import_hostile_ms %.1f ms\n", slowest);
  return 0;
}
