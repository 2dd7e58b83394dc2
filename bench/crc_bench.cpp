// CRC-32 throughput against zlib's crc32, over the block sizes the patcher uses: 64 KiB decoder
// blocks, 1 MiB file-check pieces, and small buffers.
#include <zlib.h>

#include <cstdio>

#include "bench_util.h"
#include "common/crc32.h"
#include "common/crc32_paths.h"

int main() {
  std::mt19937 rng(4242);
  std::vector<uint8_t> data;
  sv::bench::AppendNoise(rng, data, 16u << 20);
  uint32_t sink = 0;
  double ours = 0, theirs = 0, tables = 0;
  for (size_t block : {size_t(1) << 10, size_t(64) << 10, size_t(1) << 20}) {
    auto run = [&](auto crc) {
      return [&, crc] {
        for (size_t off = 0; off + block <= data.size(); off += block)
          sink ^= crc(data.data() + off, block);
      };
    };
    const auto [o, z] = sv::bench::MedianSeconds(
        9, run([](const uint8_t* p, size_t n) { return sv::Crc32(p, n); }),
        run([](const uint8_t* p, size_t n) { return uint32_t(crc32(0, p, uInt(n))); }));
    const double t =
        sv::bench::MedianSeconds(
            3, run([](const uint8_t* p, size_t n) { return sv::Crc32UpdateTables(~0u, p, n); }),
            [] {})
            .first;
    std::fprintf(stderr, "crc32 block %7zu: ours %.2f GB/s (tables %.2f), zlib %.2f GB/s\n", block,
                 data.size() / o / 1e9, data.size() / t / 1e9, data.size() / z / 1e9);
    ours += o;
    theirs += z;
    tables += t;
  }
  if (sv::Crc32(data.data(), data.size()) != uint32_t(crc32(0, data.data(), uInt(data.size())))) {
    std::fprintf(stderr, "crc32 differs from zlib\n");
    return 1;
  }
  std::fprintf(stderr, "folding %s; tables alone vs zlib %.2f (sink %08x)\n",
               sv::Crc32FoldingAvailable() ? "used" : "not available", theirs / tables, sink);
  std::printf("BENCH crc32_vs_zlib %.2f ratio\n", theirs / ours);
  return 0;
}
