#include <gtest/gtest.h>

#include "publisher/release_verify.h"
#include "tests/publisher/publish_test_util.h"

namespace {

namespace fs = std::filesystem;
using sv::test::WriteFile;

class ReleaseVerify : public ScratchDirTest {};

TEST_F(ReleaseVerify, NamesEveryDamagedFileAndLine) {
  const fs::path client = root_ / "client", out = root_ / "out";
  for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin", "e.bin", "f.bin"}) {
    WriteFile(client / name, std::string(5000, name[0]) + name + std::string(3000, 'z'));
  }
  ASSERT_TRUE(sv::test::Build(client, out, 1).ok);
  std::ostringstream good, err;
  sv::VerifySummary summary;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), summary, good, err, false)) << err.str();
  EXPECT_EQ(summary.files, 6u);
  EXPECT_EQ(summary.bad, 0u) << good.str();

  std::string truncated = sv::test::ReadFile(out / "a.bin.lz");
  WriteFile(out / "a.bin.lz", truncated.substr(0, truncated.size() - 5));
  WriteFile(out / "c.bin.lz", sv::test::ReadFile(out / "b.bin.lz"));
  fs::remove(out / "d.bin.lz");
  std::string list = sv::test::ReadFile(out / "crclist");
  size_t line = list.find(" e.bin");
  ASSERT_NE(line, std::string::npos);
  list[line - 1] = '6';  // e.bin's size, 8005, becomes 8006
  list += "zz 12 f.bin\n";
  WriteFile(out / "crclist", list);

  std::ostringstream report;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), summary, report, err, false));
  const std::string text = report.str();
  EXPECT_EQ(summary.bad, 4u) << text;
  EXPECT_EQ(summary.invalidLines, 1u) << text;
  EXPECT_NE(text.find("BAD a.bin: a.bin.lz cannot be unpacked: LZ verisi erken bitti"),
            std::string::npos) << text;
  EXPECT_NE(text.find("BAD c.bin: unpacks to CRC"), std::string::npos) << text;
  EXPECT_NE(text.find("BAD d.bin: d.bin.lz missing"), std::string::npos) << text;
  EXPECT_NE(text.find("BAD e.bin: unpacks to 8005 bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("BAD crclist line 7: the patcher skips \"zz 12 f.bin\""), std::string::npos)
      << text;
  EXPECT_EQ(text.find("BAD b.bin"), std::string::npos) << text;
  EXPECT_EQ(text.find("BAD f.bin"), std::string::npos) << text;

  EXPECT_FALSE(sv::VerifyRelease(sv::test::Utf8(root_ / "nothing"), summary, report, err, false));
}

}  // namespace
