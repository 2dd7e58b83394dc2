// Decoding ".lz" streams in memory, CRC-32 included, against liblzo2's safe decompressor followed
// by zlib's crc32 over the output. Streams come from liblzo2's own compressors (LZO1X-1 and -999).
#include <lzo/lzo1x.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "bench_util.h"
#include "common/crc32.h"
#include "release/lz_decode.h"

namespace {

struct Case {
  const char* name;
  std::vector<uint8_t> data;
  int level;
};

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int level) {
  std::vector<uint8_t> out(4 + data.size() + data.size() / 16 + 64 + 3);
  const uint32_t n = uint32_t(data.size());
  for (int i = 0; i < 4; ++i) out[size_t(i)] = uint8_t(n >> (8 * i));
  std::vector<uint8_t> work(level == 1 ? LZO1X_1_MEM_COMPRESS : LZO1X_999_MEM_COMPRESS);
  lzo_uint packed = 0;
  const int rc =
      level == 1
          ? lzo1x_1_compress(data.data(), data.size(), out.data() + 4, &packed, work.data())
          : lzo1x_999_compress(data.data(), data.size(), out.data() + 4, &packed, work.data());
  if (rc != LZO_E_OK) return {};
  out.resize(4 + packed);
  return out;
}

}  // namespace

int main() {
  if (lzo_init() != LZO_E_OK) return 1;
  std::vector<Case> cases;
  cases.push_back({"game-like", sv::bench::GameLikeData(16u << 20, 1), 1});
  cases.push_back({"game-like", sv::bench::GameLikeData(6u << 20, 2), 999});
  std::mt19937 rng(3);
  std::vector<uint8_t> text, noise;
  sv::bench::AppendText(rng, text, 8u << 20);
  sv::bench::AppendNoise(rng, noise, 4u << 20);
  cases.push_back({"text", text, 1});
  cases.push_back({"text", std::move(text), 999});
  cases.push_back({"incompressible", std::move(noise), 1});

  double oursTotal = 0, theirsTotal = 0;
  std::vector<uint8_t> ours, theirs;
  for (const Case& c : cases) {
    const std::vector<uint8_t> stream = Compress(c.data, c.level);
    if (stream.empty()) return 1;
    const uint32_t expectedCrc = uint32_t(crc32(0, c.data.data(), uInt(c.data.size())));
    theirs.resize(c.data.size());
    uint32_t theirCrc = 0;
    const auto [ourTime, theirTime] = sv::bench::MedianSeconds(
        15,
        [&] {
          if (!sv::LzDecodeToMemory(stream.data(), stream.size(), ours)) std::abort();
        },
        [&] {
          lzo_uint outLen = theirs.size();
          if (lzo1x_decompress_safe(stream.data() + 4, stream.size() - 4, theirs.data(), &outLen,
                                    nullptr) != LZO_E_OK)
            std::abort();
          theirCrc = uint32_t(crc32(0, theirs.data(), uInt(outLen)));
        });
    if (ours != c.data || theirCrc != expectedCrc) {
      std::fprintf(stderr, "%s: decoded output differs\n", c.name);
      return 1;
    }
    std::fprintf(
        stderr,
        "lz %-15s LZO1X-%-3d %5.1f MiB -> %5.1f MiB: ours %6.0f MB/s, liblzo2+zlib %6.0f MB/s\n",
        c.name, c.level, stream.size() / 1048576.0, c.data.size() / 1048576.0,
        c.data.size() / ourTime / 1e6, c.data.size() / theirTime / 1e6);
    oursTotal += ourTime;
    theirsTotal += theirTime;
  }
  std::printf("BENCH lz_decode_vs_liblzo2 %.2f ratio\n", theirsTotal / oursTotal);
  return 0;
}
