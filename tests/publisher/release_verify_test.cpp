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
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), {}, summary, good, err, false))
      << err.str();
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
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), {}, summary, report, err, false));
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

  EXPECT_FALSE(
      sv::VerifyRelease(sv::test::Utf8(root_ / "nothing"), {}, summary, report, err, false));
}

// The configuration names patcher build Y while the list holds the patcher's own file as build
// X: patchers used to replace X with Y and Y with X for ever. They take the configuration's now,
// and verify says the two disagree.
TEST_F(ReleaseVerify, ConfigurationAndListNamingTwoPatcherBuildsAreReported) {
  const fs::path client = root_ / "client", out = root_ / "out";
  WriteFile(client / "Sarvik.exe", std::string(3000, 'X'));
  WriteFile(client / "data" / "Sarvik.exe", std::string(100, 'd'));  // not the patcher's place
  WriteFile(client / "game.bin", std::string(5000, 'g'));
  ASSERT_TRUE(sv::test::Build(client, out, 1).ok);
  std::ostringstream report, err;
  sv::VerifySummary summary;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), {}, summary, report, err, false));
  EXPECT_EQ(summary.conflicts, 0u) << "no configuration, nothing to compare";

  WriteFile(out / "draskeltorrent.config.xml",
            "<torrent_config run_path=\"game.bin\" sv_patcher_url=\"http://h/p/Sarvik.exe.lz?x=1\" "
            "sv_patcher_crc32=\"0x1234ABCD\"></torrent_config>\n");
  std::ostringstream bad;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), {}, summary, bad, err, false));
  EXPECT_EQ(summary.bad, 0u) << bad.str();
  EXPECT_EQ(summary.conflicts, 1u) << bad.str();
  EXPECT_NE(bad.str().find("BAD draskeltorrent.config.xml: sv_patcher_crc32 1234abcd names another "
                           "patcher build than crclist's Sarvik.exe ("),
            std::string::npos)
      << bad.str();
  EXPECT_NE(bad.str().find("1 patcher builds in disagreement"), std::string::npos) << bad.str();

  // One build in both places: nothing to report. The list's CRC, as the build wrote it.
  const std::string list = sv::test::ReadFile(out / "crclist");
  const size_t at = list.find(" Sarvik.exe");
  ASSERT_NE(at, std::string::npos);
  const size_t lineStart = list.rfind('\n', at) == std::string::npos ? 0 : list.rfind('\n', at) + 1;
  const std::string crc = list.substr(lineStart, 8);
  WriteFile(out / "draskeltorrent.config.xml",
            "<torrent_config sv_patcher_url=\"http://h/p/Sarvik.exe\" sv_patcher_crc32=\"" + crc +
                "\"></torrent_config>\n");
  std::ostringstream good;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out), {}, summary, good, err, false));
  EXPECT_EQ(summary.conflicts, 0u) << good.str();
}

}  // namespace
