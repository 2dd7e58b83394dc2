// Names Windows cannot hold, made on the host's file system: the build must refuse them before it
// writes anything.
#include <gtest/gtest.h>

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

}  // namespace
