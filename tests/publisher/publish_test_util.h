#pragma once
// Client folders for the release tool's tests, made in a scratch folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "publisher/path_convert.h"
#include "publisher/release_build.h"
#include "publisher/release_verify.h"
#include "tests/support/scratch_dir.h"

namespace sv::test {

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  ASSERT_TRUE(out.good()) << p;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

inline std::string Utf8(const std::filesystem::path& p) {
  std::string text;
  EXPECT_TRUE(Utf8FromPath(p, text)) << p;
  return text;
}

// A release build with its messages kept for the failure text.
struct BuildRun {
  bool ok = false;
  BuildSummary summary;
  std::string out, err;
};

inline BuildRun Build(const BuildOptions& options) {
  std::ostringstream o, e;
  BuildRun run;
  run.ok = BuildRelease(options, run.summary, o, e);
  run.out = o.str();
  run.err = e.str();
  return run;
}

inline BuildRun Build(const std::filesystem::path& client, const std::filesystem::path& out,
                      int level = kLzoBestLevel, const std::string& baseUrl = {},
                      const std::vector<std::string>& excludes = {}) {
  BuildOptions options;
  options.client = client;
  options.out = out;
  options.level = level;
  options.baseUrl = baseUrl;
  options.excludes = excludes;
  return Build(options);
}

// A time stamp well before now, to tell rewritten files from untouched ones.
inline void MakeOld(const std::filesystem::path& p) {
  std::filesystem::last_write_time(
      p, std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
}

inline bool IsOld(const std::filesystem::path& p) {
  return std::filesystem::last_write_time(p) <
         std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
}

// Every .lz of the release unpacks to what its list line says.
inline void ExpectVerifies(const std::filesystem::path& out) {
  std::ostringstream report, err;
  VerifySummary verified;
  ASSERT_TRUE(VerifyRelease(Utf8(out), {}, verified, report, err, false)) << err.str();
  EXPECT_EQ(verified.bad + verified.invalidLines, 0u) << report.str();
}

inline size_t FilesBelow(const std::filesystem::path& folder) {
  size_t n = 0;
  for (const auto& f : std::filesystem::recursive_directory_iterator(folder)) {
    n += f.is_regular_file() ? 1 : 0;
  }
  return n;
}

}  // namespace sv::test
