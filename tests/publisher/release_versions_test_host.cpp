// A versioned release on a file system that refuses the hard link copies the unchanged files
// instead. The refusal is the kernel's own: the previous version lies on another file system
// (the shared-memory tmpfs, reached through a folder link), so linking answers EXDEV.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "publisher/release_versions.h"
#include "tests/publisher/publish_test_util.h"
#include "tests/publisher/sample_data.h"

namespace {

namespace fs = std::filesystem;
using sv::test::ReadFile;
using sv::test::WriteFile;

// Removes a folder outside the scratch folder when the test ends, however it ends.
struct RemovedAfter {
  fs::path path;
  ~RemovedAfter() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

class ReleaseCopyFallback : public ScratchDirTest {};

TEST_F(ReleaseCopyFallback, UnchangedFilesAreCopiedWhereTheyCannotBeLinked) {
  const fs::path elsewhereRoot = "/dev/shm";
  struct stat here {}, there {};
  if (stat(root_.c_str(), &here) != 0 || stat(elsewhereRoot.c_str(), &there) != 0 ||
      here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second file system at " << elsewhereRoot;
  }
  RemovedAfter elsewhere{elsewhereRoot / ("sarvik-copy-test-" + std::to_string(getpid()))};
  fs::create_directories(elsewhere.path);

  using sv::test::MakeSample;
  using sv::test::SampleKind;
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(client / "game.exe", sv::test::Bytes(MakeSample(SampleKind::kBinary, 90000)));
  WriteFile(client / "data/mixed.bin", sv::test::Bytes(MakeSample(SampleKind::kMixed, 300000)));
  WriteFile(client / "data/text.txt", sv::test::Bytes(MakeSample(SampleKind::kText, 50000)));
  WriteFile(client / "empty.bin", "");
  sv::BuildOptions options;
  options.client = client;
  options.out = out;
  options.level = sv::kLzoFastLevel;
  options.baseUrl = "http://127.0.0.1:8080/patch";
  options.versioned = true;
  options.version = "v1";
  sv::test::BuildRun first = sv::test::Build(options);
  ASSERT_TRUE(first.ok) << first.err;

  // Version v1 moves to the other file system; the output folder reaches it through a link.
  fs::copy(out / "v1", elsewhere.path / "v1", fs::copy_options::recursive);
  fs::remove_all(out / "v1");
  fs::create_directory_symlink(fs::absolute(elsewhere.path / "v1"), out / "v1");
  std::error_code linkError;
  fs::create_hard_link(out / "v1" / "game.exe.lz", out / "probe.lz", linkError);
  ASSERT_TRUE(linkError) << "the hard link across file systems was not refused";

  WriteFile(client / "data/text.txt", "a new text");
  options.version = "v2";
  sv::test::BuildRun second = sv::test::Build(options);
  ASSERT_TRUE(second.ok) << second.err;
  EXPECT_EQ(second.summary.written, 1u);
  EXPECT_EQ(second.summary.kept, 3u);
  EXPECT_EQ(second.summary.linked, 0u);
  EXPECT_EQ(second.summary.copied, 3u);
  EXPECT_NE(second.out.find("0 linked, 3 copied"), std::string::npos) << second.out;
  for (const char* same : {"game.exe.lz", "data/mixed.bin.lz", "empty.bin.lz"}) {
    const fs::path copy = out / "v2" / same;
    ASSERT_TRUE(fs::is_regular_file(copy)) << same;
    EXPECT_FALSE(fs::equivalent(out / "v1" / same, copy)) << same;
    EXPECT_EQ(ReadFile(copy), ReadFile(out / "v1" / same)) << same;
  }
  sv::test::ExpectVerifies(out / "v2");
  // No temporary copy is left beside the copied files.
  for (const auto& f : fs::recursive_directory_iterator(out / "v2")) {
    EXPECT_EQ(f.path().string().find(".sv"), std::string::npos) << f.path();
  }
}

}  // namespace
