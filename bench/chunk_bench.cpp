// Cutting a local file into chunks as the patcher does (gear cut points and the SHA-256 of every
// chunk, on all processors) against reading the same file in the same 1 MiB pieces:
//   BENCH local_chunking_vs_read <read time / chunking time> ratio   (1: as fast as reading; both
//     from the page cache, so this is the processors' hashing speed against memory's)
//   BENCH local_chunking_vs_cold_read <same, the file dropped from the page cache before each run>
//     ratio (a player's file as the patcher meets it: read from the disk)
//   BENCH local_chunking_vs_crc_check <read+CRC-32 time / chunking time> ratio (the local check
//     every run already makes)
// and the cut points alone, to show what the hashes cost.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench_util.h"
#include "common/crc32.h"
#include "common/thread_os.h"
#include "release/chunk_hashing.h"
#include "release/chunker.h"
#include "release/sha256.h"

namespace {

constexpr size_t kPiece = 1 << 20;

// Reads `path` in pieces, handing each to `use`.
template <typename Use>
void ReadPieces(const std::string& path, std::vector<uint8_t>& buffer, Use&& use) {
  std::ifstream in(path, std::ios::binary);
  while (in.read(reinterpret_cast<char*>(buffer.data()), std::streamsize(kPiece)) ||
         in.gcount() > 0) {
    use(buffer.data(), size_t(in.gcount()));
  }
}

}  // namespace

int main() {
  std::mt19937 rng(99);
  std::vector<uint8_t> data;
  // Half text-like, half noise, as game archives mix packed and unpacked members.
  while (data.size() < (256u << 20)) {
    sv::bench::AppendText(rng, data, 1 << 20);
    sv::bench::AppendNoise(rng, data, 1 << 20);
  }
  const std::string path = std::string(SV_BINARY_DIR) + "/chunk_bench.data";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              std::streamsize(data.size()));
  std::vector<uint8_t> buffer(kPiece);
  uint64_t sink = 0;
  size_t chunks = 0;
  auto read = [&] { ReadPieces(path, buffer, [&](const uint8_t* p, size_t n) { sink += p[n - 1]; }); };
  auto crcCheck = [&] {
    uint32_t reg = ~0u;
    ReadPieces(path, buffer, [&](const uint8_t* p, size_t n) { reg = sv::Crc32Update(reg, p, n); });
    sink += reg;
  };
  auto chunk = [&](bool hash) {
    return [&, hash] {
      std::ifstream in(path, std::ios::binary);
      auto pieces = [&](uint8_t* b, size_t capacity) -> long long {
        in.read(reinterpret_cast<char*>(b), std::streamsize(std::min(capacity, kPiece)));
        return in.gcount();
      };
      chunks = 0;
      if (hash) {
        sv::HashedChunkStream(pieces, [&](const sv::Sha256Digest& d, uint32_t, uint64_t) {
          ++chunks;
          sink += d[0];
          return true;
        }, sv::os::processorCount());
      } else {
        sv::ChunkStream(pieces, [&](const uint8_t*, size_t, uint64_t) { return ++chunks > 0; });
      }
    };
  };
  // Out of the page cache, as a file the patcher has not just read.
  auto cold = [&](auto run) {
    return [&, run] {
      const int fd = open(path.c_str(), O_RDONLY);
      if (fd >= 0) {
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
      }
      run();
    };
  };
  const auto [readTime, chunkTime] = sv::bench::MedianSeconds(5, read, chunk(true));
  const auto [crcTime, cutTime] = sv::bench::MedianSeconds(5, crcCheck, chunk(false));
  const auto [coldReadTime, coldChunkTime] =
      sv::bench::MedianSeconds(3, cold(read), cold(chunk(true)));
  std::remove(path.c_str());
  const double mb = double(data.size()) / 1e6;
  std::fprintf(stderr,
               "chunking %zu MB: read %.0f MB/s, read+CRC %.0f MB/s, cut points only %.0f MB/s, "
               "cut and SHA-256 %.0f MB/s on %u threads; from the disk: read %.0f MB/s, chunking "
               "%.0f MB/s; %zu chunks, %.0f bytes on average (sink %llu)\n",
               data.size() >> 20, mb / readTime, mb / crcTime, mb / cutTime, mb / chunkTime,
               sv::os::processorCount(), mb / coldReadTime, mb / coldChunkTime, chunks,
               double(data.size()) / double(chunks), (unsigned long long)sink);
  std::printf("BENCH local_chunking_vs_read %.2f ratio\n", readTime / chunkTime);
  std::printf("BENCH local_chunking_vs_cold_read %.2f ratio\n", coldReadTime / coldChunkTime);
  std::printf("BENCH local_chunking_vs_crc_check %.2f ratio\n", crcTime / chunkTime);
  return 0;
}
