// Our inflate plus CRC-32 against zlib's inflate plus crc32 on the same raw DEFLATE streams:
// the sample skin's images and texts, program bytes, text and noise at levels 1, 6 and 9.
// Prints the ratio of zlib's time to ours (above 1: ours is faster).
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raw_deflate.h"
#include "builder/inflate.h"
#include "common/crc32.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main() {
  std::mt19937 rng(99);
  std::vector<std::string> inputs;
  const std::string skin = std::string(SV_SOURCE_DIR) + "/samples/skin/";
  std::string images, text;
  for (const char* name : {"main.png", "banner_on.png", "start_up.png", "progress_full.png"}) images += ReadAll(skin + name);
  while (text.size() < (4u << 20)) text += ReadAll(skin + "skin.xml") + ReadAll(skin + "TorrentPatch.locale.xml");
  std::vector<uint8_t> noise, prose;
  sv::bench::AppendNoise(rng, noise, 1u << 20);
  sv::bench::AppendText(rng, prose, 4u << 20);
  std::string program = ReadAll("/proc/self/exe");
  inputs = {images, text, std::string(noise.begin(), noise.end()), std::string(prose.begin(), prose.end()), program};
  struct Stream {
    std::string packed;
    size_t size;
  };
  std::vector<Stream> streams;
  size_t total = 0;
  for (const std::string& input : inputs) {
    for (int level : {1, 6, 9}) {
      streams.push_back({Deflate(input, level), input.size()});
      total += input.size();
    }
  }
  uint32_t sink = 0;
  std::string out, zout;
  const auto [ours, theirs] = sv::bench::MedianSeconds(
      9,
      [&] {
        for (const Stream& s : streams) {
          sv::Inflate(s.packed.data(), s.packed.size(), out, s.size);
          sink ^= sv::Crc32(out.data(), out.size());
        }
      },
      [&] {
        for (const Stream& s : streams) {
          zout.resize(s.size);
          z_stream z{};
          inflateInit2(&z, -15);
          z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.packed.data()));
          z.avail_in = uInt(s.packed.size());
          z.next_out = reinterpret_cast<Bytef*>(zout.data());
          z.avail_out = uInt(zout.size());
          inflate(&z, Z_FINISH);
          inflateEnd(&z);
          sink ^= uint32_t(crc32(0, reinterpret_cast<const Bytef*>(zout.data()), uInt(zout.size())));
        }
      });
  std::printf("BENCH inflate_vs_zlib %.2f ratio\n", theirs / ours);
  std::printf("BENCH inflate_mb_per_s %.0f MB/s\n", total / ours / 1e6);
  std::fprintf(stderr, "(checksum %08x)\n", sink);
  return 0;
}
