// Names Windows cannot hold, made on the host's file system: the build must refuse them before it
// writes anything.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/publisher/publish_test_util.h"

namespace {

namespace fs = std::filesystem;
using sv::test::WriteFile;

class ReleaseRefusal : public ScratchDirTest {};

TEST_F(ReleaseRefusal, UnsafeOrCollidingPathsStopTheBuildBeforeAnyWrite) {
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(client / "fine.bin", "ok");
  const char* bad[] = {"con.txt", "data/LPT1.dat", "name.", "a:b", "trailing ", "Data/X.bin",
                       "data/x.BIN", "\xFF\xFE.bin"};
  for (const char* name : bad) WriteFile(client / name, name);
  WriteFile(client / std::string(241, 'n'), "long");

  sv::test::BuildRun run = sv::test::Build(client, out);
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(fs::exists(out)) << "written before the checks were done";
  for (const char* expected : {"con.txt: the patcher would refuse", "data/LPT1.dat:", "name.:",
                               "a:b:", "trailing :", "only in case", "not valid UTF-8", "240"}) {
    EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << run.err;
  }
  EXPECT_EQ(run.err.find("fine.bin"), std::string::npos) << run.err;

  // An existing release stays exactly as it was.
  fs::create_directories(out);
  WriteFile(out / "crclist", "old list\n");
  run = sv::test::Build(client, out);
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(sv::test::ReadFile(out / "crclist"), "old list\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

TEST_F(ReleaseRefusal, CaseFoldingBeyondLatinAndFilesAgainstFolders) {
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(client / "fine.bin", "ok");
  // Cyrillic, Greek (with the final sigma), full-width Latin, and a file beside a folder.
  const char* pairs[][2] = {{"\xD0\x96.txt", "\xD0\xB6.txt"},
                            {"\xCE\xA9.txt", "\xCF\x89.txt"},
                            {"\xCF\x83.dat", "\xCF\x82.dat"},
                            {"\xEF\xBC\xA1.txt", "\xEF\xBD\x81.txt"},
                            {"foo", "FOO/bar"}};
  for (const auto& pair : pairs) {
    WriteFile(client / pair[0], "one");
    WriteFile(client / pair[1], "two");
  }
  sv::test::BuildRun run = sv::test::Build(client, out);
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(fs::exists(out));
  for (const auto& pair : pairs) {
    const std::string first = std::string(pair[0]) < std::string(pair[1]) ? pair[1] : pair[0];
    EXPECT_NE(run.err.find(std::string(first) + ": differs from"), std::string::npos)
        << first << "\n" << run.err;
  }
  EXPECT_NE(run.err.find("differs from the folder FOO"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("fine.bin"), std::string::npos) << run.err;
}

TEST_F(ReleaseRefusal, BackslashInANameStopsTheBuildBeforeAnyWrite) {
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(client / "a/b.txt", "in a folder");
  WriteFile(client / "a\\b.txt", "one name with a backslash");
  sv::test::BuildRun run = sv::test::Build(client, out);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.err.find("a\\b.txt: the patcher would refuse"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(out));
}

// No link leads out of the client; a link to a file inside it is that file; what is neither a
// file nor a folder is named, not dropped silently.
TEST_F(ReleaseRefusal, LinksAndSpecialFiles) {
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(root_ / "secret.txt", "outside the client");
  WriteFile(client / "data/real.bin", "inside");
  WriteFile(client / "folder/in.bin", "in a folder");
  fs::create_symlink(fs::absolute(root_ / "secret.txt"), client / "outside.txt");
  fs::create_symlink("nowhere", client / "dangling.txt");
  fs::create_directory_symlink("folder", client / "folderlink");
  fs::create_symlink("data/real.bin", client / "alias.bin");
  ASSERT_EQ(mkfifo((client / "pipe").c_str(), 0600), 0);

  sv::test::BuildRun run = sv::test::Build(client, out);
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(fs::exists(out));
  for (const char* expected : {"outside.txt: a link to a place outside", "dangling.txt: a link to nothing",
                               "folderlink: a link to a folder"}) {
    EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << run.err;
  }

  fs::remove(client / "outside.txt");
  fs::remove(client / "dangling.txt");
  run = sv::test::Build(client, out, 1, {}, {"folderlink"});
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.files, 3u);
  EXPECT_EQ(sv::test::ReadFile(out / "crclist").find("secret"), std::string::npos);
  EXPECT_NE(run.out.find("skipped pipe: not a file"), std::string::npos) << run.out;
  sv::test::ExpectVerifies(out);
}

}  // namespace
