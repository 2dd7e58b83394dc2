// Our LZO1X compressor against liblzo2 on the same files: size and speed of level 1 against
// LZO1X-1 and of level 9 against LZO1X-999; then whole release builds of a client folder, at
// both levels and on one worker against two.
#include <lzo/lzo1x.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "publisher/lzo_blocks.h"
#include "publisher/lzo_compress.h"
#include "publisher/release_build.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Game-like files of assorted sizes, generated text, and real programs from /usr/bin (read in
// name order so the corpus is the same on every Debian machine with the same packages).
std::vector<Bytes> MakeCorpus() {
  std::vector<Bytes> files;
  std::mt19937 rng(11);
  for (uint32_t i = 0; i < 24; ++i) {
    files.push_back(sv::bench::GameLikeData(16384 + rng() % (2u << 20), 100 + i));
  }
  Bytes text;
  sv::bench::AppendText(rng, text, 3u << 20);
  files.push_back(std::move(text));
  std::vector<fs::path> programs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/bin", ec)) {
    if (e.is_regular_file(ec) && !e.is_symlink(ec) && e.file_size(ec) > 65536) {
      programs.push_back(e.path());
    }
  }
  std::sort(programs.begin(), programs.end());
  size_t programBytes = 0;
  for (const fs::path& p : programs) {
    if (programBytes > (8u << 20)) break;
    std::ifstream in(p, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    programBytes += b.size();
    files.push_back(std::move(b));
  }
  return files;
}

size_t ReferenceCompress(const Bytes& in, Bytes& out, bool best, Bytes& work) {
  out.resize(in.size() + in.size() / 16 + 64 + 3);
  lzo_uint packed = 0;
  int rc = best ? lzo1x_999_compress(in.data(), in.size(), out.data(), &packed, work.data())
                : lzo1x_1_compress(in.data(), in.size(), out.data(), &packed, work.data());
  if (rc != LZO_E_OK) std::abort();
  return packed;
}

// Median processor time of `runs` calls of a and of b, taken in turns. Processor time rather than
// wall time: the machines these run on are shared, and a compressor is single-threaded work.
template <typename A, typename B>
std::pair<double, double> MedianCpuSeconds(int runs, A&& a, B&& b) {
  auto time = [](auto& fn) {
    std::clock_t start = std::clock();
    fn();
    return double(std::clock() - start) / CLOCKS_PER_SEC;
  };
  a();
  b();
  std::vector<double> ta, tb;
  for (int i = 0; i < runs; ++i) {
    ta.push_back(time(a));
    tb.push_back(time(b));
  }
  std::sort(ta.begin(), ta.end());
  std::sort(tb.begin(), tb.end());
  return {ta[size_t(runs / 2)], tb[size_t(runs / 2)]};
}

struct Pair {
  double ours, theirs;            // seconds
  uint64_t oursSize, theirsSize;  // bytes
};

Pair Compare(const std::vector<Bytes>& corpus, int ourLevel, bool bestReference, int runs) {
  Bytes work(bestReference ? LZO1X_999_MEM_COMPRESS : LZO1X_1_MEM_COMPRESS);
  Bytes scratch, scratchOurs;
  Pair p{0, 0, 0, 0};
  auto ours = [&] {
    p.oursSize = 0;
    for (const Bytes& f : corpus) {
      p.oursSize += sv::LzoCompressRaw(f.data(), f.size(), ourLevel, scratchOurs);
    }
  };
  auto theirs = [&] {
    p.theirsSize = 0;
    for (const Bytes& f : corpus) p.theirsSize += ReferenceCompress(f, scratch, bestReference, work);
  };
  std::tie(p.ours, p.theirs) = MedianCpuSeconds(runs, ours, theirs);
  return p;
}

// What cutting an input into blocks costs in size at one level: blocks that start afresh lose
// the matches a whole-file parse would carry over each boundary.
void ReportBlockCost(const Bytes& input, int level, const char* name) {
  Bytes whole;
  const size_t wholeSize = sv::LzoCompressRaw(input.data(), input.size(), level, whole);
  const std::vector<uint8_t> blocks =
      sv::LzoCompressInBlocks(input.data(), input.size(), level, sv::kLzoBlockSize);
  if (wholeSize == 0 || blocks.empty()) std::abort();
  std::fprintf(stderr, "%s level, %.1f MiB in %zu blocks: %zu bytes whole, %zu in blocks\n", name,
               input.size() / 1048576.0, sv::LzoBlockCount(input.size()), wholeSize, blocks.size());
  std::printf("BENCH lzo_blocks_size_vs_whole_%s %.4f ratio\n", name,
              double(blocks.size()) / double(wholeSize));
}

// Sizes and speeds to standard error, the two figures of a level as BENCH lines.
void Report(const char* ours, const char* reference, const char* referenceName, const Pair& p,
            uint64_t total) {
  std::fprintf(stderr, "%s level: %llu bytes, %.1f MB/s; %s: %llu bytes, %.1f MB/s\n", ours,
               (unsigned long long)p.oursSize, total / p.ours / 1e6, referenceName,
               (unsigned long long)p.theirsSize, total / p.theirs / 1e6);
  std::printf("BENCH lzo_%s_ratio_vs_%s %.3f ratio\n", ours, reference,
              double(p.oursSize) / double(p.theirsSize));
  std::printf("BENCH lzo_%s_speed_vs_%s %.2f ratio\n", ours, reference, p.theirs / p.ours);
}

}  // namespace

int main() {
  if (lzo_init() != LZO_E_OK) return 1;
  const std::vector<Bytes> corpus = MakeCorpus();
  uint64_t total = 0;
  for (const Bytes& f : corpus) total += f.size();
  std::fprintf(stderr, "corpus: %zu files, %.1f MiB\n", corpus.size(), total / 1048576.0);

  Report("fast", "lzo1x_1", "LZO1X-1", Compare(corpus, sv::kLzoFastLevel, false, 5), total);
  Report("best", "lzo1x_999", "LZO1X-999", Compare(corpus, sv::kLzoBestLevel, true, 1), total);

  // The whole corpus as one input, so that boundaries fall inside programs, text and game data.
  Bytes joined;
  for (const Bytes& f : corpus) joined.insert(joined.end(), f.begin(), f.end());
  ReportBlockCost(joined, sv::kLzoFastLevel, "fast");
  ReportBlockCost(joined, sv::kLzoDefaultLevel, "default");

  // A whole client folder published into an empty output folder: at the default level on every
  // core, at the fast level, and at the default level on one worker and on two. Wall time here:
  // the build runs on several threads.
  const fs::path root = fs::temp_directory_path() / "sarvik-publish-bench";
  fs::remove_all(root);
  for (size_t i = 0; i < corpus.size(); ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "dir%zu/f%zu.bin", i % 5, i);
    const fs::path file = root / "client" / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(corpus[i].data()), std::streamsize(corpus[i].size()));
  }
  // One large file, as game clients have: packed in blocks spread over the workers.
  const Bytes large = sv::bench::GameLikeData(24u << 20, 99);
  {
    const fs::path file = root / "client" / "dir0" / "large.pak";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(large.data()), std::streamsize(large.size()));
  }
  const uint64_t clientBytes = total + large.size();
  auto publish = [&](int level, unsigned jobs, double& seconds) {
    sv::BuildOptions options;
    options.client = root / "client";
    options.out = root / "out";
    options.level = level;
    options.jobs = jobs;
    fs::remove_all(options.out);
    sv::BuildSummary summary;
    std::ostringstream log;
    const auto start = std::chrono::steady_clock::now();
    const bool built = sv::BuildRelease(options, summary, log, log);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!built || summary.written != corpus.size() + 1) {
      std::fprintf(stderr, "publish failed:\n%s", log.str().c_str());
      return false;
    }
    return true;
  };
  double best = 0, fast = 0, one = 0, two = 0;
  bool ok = publish(sv::kLzoDefaultLevel, 0, best) && publish(sv::kLzoFastLevel, 0, fast);
  // One worker and two in turns, the median of each: the machine's other load falls on both.
  std::vector<double> ones, twos;
  for (int turn = 0; ok && turn < 3; ++turn) {
    ok = publish(sv::kLzoDefaultLevel, 1, one) && publish(sv::kLzoDefaultLevel, 2, two);
    ones.push_back(one);
    twos.push_back(two);
  }
  fs::remove_all(root);
  if (!ok) return 1;
  std::sort(ones.begin(), ones.end());
  std::sort(twos.begin(), twos.end());
  one = ones[1];
  two = twos[1];
  std::fprintf(stderr, "publish: default level %.2f s, fast level %.2f s, one worker %.2f s, two "
               "%.2f s (medians of 3; %u cores)\n", best, fast, one, two,
               std::thread::hardware_concurrency());
  std::printf("BENCH publish_mb_per_s %.1f MB/s\n", clientBytes / best / 1e6);
  std::printf("BENCH publish_fast_mb_per_s %.1f MB/s\n", clientBytes / fast / 1e6);
  std::printf("BENCH publish_jobs2_speedup %.2f ratio\n", one / two);
  return 0;
}
