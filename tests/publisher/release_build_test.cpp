#include <gtest/gtest.h>

#include "common/text.h"
#include "common/crc32.h"
#include "release/file_list.h"
#include "release/lz_decode.h"
#include "patcher/engine/remote_config.h"
#include "publisher/client_scan.h"
#include "publisher/lzo_blocks.h"
#include "publisher/release_files.h"
#include "publisher/release_verify.h"
#include "tests/publisher/publish_test_util.h"
#include "tests/publisher/sample_data.h"

namespace {

namespace fs = std::filesystem;
using sv::test::Build;
using sv::test::BuildRun;
using sv::test::WriteFile;

class ReleaseBuild : public ScratchDirTest {
 protected:
  fs::path client() const { return root_ / "client"; }
  fs::path out() const { return root_ / "out"; }

  // The files of a small client, by path with '/'.
  std::map<std::string, std::string> MakeClient() {
    std::map<std::string, std::string> files = {
        {"game.exe", sv::test::Bytes(sv::test::MakeSample(sv::test::SampleKind::kBinary, 70000))},
        {"config.exe", "options program"},
        {"data/text.txt", sv::test::Bytes(sv::test::MakeSample(sv::test::SampleKind::kText, 90000))},
        {"data/zeros.bin", std::string(200000, '\0')},
        {"data/random.bin", sv::test::Bytes(sv::test::MakeSample(sv::test::SampleKind::kRandom, 50000))},
        {"data/empty.bin", ""},
        {"with space/a b.txt", "spaced"},
        {"T\xC3\xBCrk\xC3\xA7" "e/\xC5\x9F" "ehir.txt", "non-ASCII name"},
        {"logs/today.log", "left out"},
    };
    for (const auto& [path, bytes] : files) WriteFile(client() / sv::PathFromUtf8(path), bytes);
    return files;
  }

  std::vector<sv::FileEntry> ReadList() {
    std::vector<sv::FileEntry> entries;
    std::wstring error;
    EXPECT_TRUE(sv::ParseFileList(sv::test::ReadFile(out() / "crclist"), entries, error));
    return entries;
  }

  fs::path LzOf(const std::string& path) const { return out() / sv::PathFromUtf8(path + ".lz"); }
};

TEST_F(ReleaseBuild, WritesWhatThePatcherReads) {
  auto files = MakeClient();
  BuildRun run = Build(client(), out(), sv::kLzoBestLevel, "http://127.0.0.1:8080/patch",
                       {"*.log"});
  ASSERT_TRUE(run.ok) << run.err;
  files.erase("logs/today.log");
  std::vector<sv::FileEntry> entries = ReadList();
  ASSERT_EQ(entries.size(), files.size());
  for (const sv::FileEntry& e : entries) {
    std::string path = sv::toUtf8(e.path);
    std::replace(path.begin(), path.end(), '\\', '/');
    ASSERT_TRUE(files.count(path)) << path;
    const std::string& original = files[path];
    EXPECT_EQ(e.size, original.size()) << path;
    EXPECT_EQ(e.crc, sv::Crc32(original.data(), original.size())) << path;
    std::string lz = sv::test::ReadFile(LzOf(path));
    std::vector<uint8_t> back;
    ASSERT_TRUE(sv::LzDecodeToMemory(lz.data(), lz.size(), back)) << path;
    EXPECT_EQ(sv::test::Bytes(back), original) << path;
  }
  EXPECT_FALSE(fs::exists(LzOf("logs/today.log")));
  for (const auto& f : fs::recursive_directory_iterator(out())) {
    EXPECT_NE(f.path().extension(), ".svtmp") << f.path();
  }

  sv::RemoteConfig config;
  std::wstring error;
  ASSERT_TRUE(sv::ParseRemoteConfig(sv::test::ReadFile(out() / "draskeltorrent.config.xml"),
                                    L"http://127.0.0.1:8080/patch/draskeltorrent.config.xml",
                                    L"no source", config, error))
      << sv::toUtf8(error);
  EXPECT_EQ(config.sources, std::vector<std::wstring>{L"http://127.0.0.1:8080/patch/"});
  EXPECT_EQ(config.runPath, L"game.exe");
}

TEST_F(ReleaseBuild, RebuildRewritesOnlyWhatChanged) {
  auto files = MakeClient();
  ASSERT_TRUE(Build(client(), out()).ok);
  std::vector<fs::path> written;
  for (const auto& f : fs::recursive_directory_iterator(out())) {
    if (f.is_regular_file()) {
      sv::test::MakeOld(f.path());
      written.push_back(f.path());
    }
  }
  // One file grows; one keeps its size and time stamp but not its bytes; one goes away.
  WriteFile(client() / "data/text.txt", files["data/text.txt"] + "more");
  const fs::path same = client() / "game.exe";
  const auto stamp = fs::last_write_time(same);
  std::string changed = files["game.exe"];
  changed[100] ^= 0x55;
  WriteFile(same, changed);
  fs::last_write_time(same, stamp);
  fs::remove(client() / "data/random.bin");

  BuildRun run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.written, 2u);
  EXPECT_EQ(run.summary.removed, 1u);
  EXPECT_EQ(run.summary.kept, files.size() - 3);
  EXPECT_FALSE(fs::exists(LzOf("data/random.bin")));
  for (const fs::path& p : written) {
    if (!fs::exists(p)) continue;
    const std::string name = p.filename().string();
    const bool expectNew = name == "text.txt.lz" || name == "game.exe.lz" || name == "crclist" ||
                           name == "sarvikpublish.manifest";
    EXPECT_EQ(sv::test::IsOld(p), !expectNew) << p;
  }
  std::string lz = sv::test::ReadFile(LzOf("game.exe"));
  std::vector<uint8_t> back;
  ASSERT_TRUE(sv::LzDecodeToMemory(lz.data(), lz.size(), back));
  EXPECT_EQ(sv::test::Bytes(back), changed);

  // Nothing changed: nothing is written but the list and the record.
  run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.written, 0u);
  EXPECT_EQ(run.summary.kept, files.size() - 1);
}

TEST_F(ReleaseBuild, BuildStoppedHalfWayRecordsWhatItReplaced) {
  auto files = MakeClient();
  ASSERT_TRUE(Build(client(), out()).ok);
  WriteFile(client() / "data/empty.bin", "now with content");
  WriteFile(client() / "game.exe", "a new program");
  // The second file's .lz cannot be replaced: a folder stands in its way.
  fs::remove(LzOf("game.exe"));
  fs::create_directories(LzOf("game.exe"));
  BuildRun run = Build(client(), out());
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.err.find("game.exe.lz"), std::string::npos) << run.err;

  fs::remove(LzOf("game.exe"));
  run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.written, 1u);  // game.exe only: data/empty.bin was recorded
  std::ostringstream report, err;
  sv::VerifySummary verified;
  ASSERT_TRUE(sv::VerifyRelease(sv::test::Utf8(out()), {}, verified, report, err, false));
  EXPECT_EQ(verified.bad, 0u) << report.str();
}

TEST_F(ReleaseBuild, KeepsAnEditedConfigurationAndRefusesBadInput) {
  MakeClient();
  WriteFile(out() / "draskeltorrent.config.xml", "<torrent_config run_path='mine.exe'/>");
  BuildRun run = Build(client(), out(), 1, "http://127.0.0.1/x/");
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(sv::test::ReadFile(out() / "draskeltorrent.config.xml"),
            "<torrent_config run_path='mine.exe'/>");
  EXPECT_NE(run.out.find("kept the existing"), std::string::npos);

  EXPECT_FALSE(Build(root_ / "missing", out()).ok);
  EXPECT_FALSE(Build(client(), client()).ok);
}

TEST_F(ReleaseBuild, StoppedBuildNeverLeavesAReplacedLzTrusted) {
  // Contents whose .lz files differ only in the literal byte, so have one size.
  const std::string before(30000, 'a'), after(30000, 'b');
  WriteFile(client() / "a.bin", before);
  WriteFile(client() / "b.bin", "second");
  ASSERT_TRUE(Build(client(), out()).ok);
  const auto stamp = fs::last_write_time(client() / "a.bin");
  const std::string oldLz = sv::test::ReadFile(LzOf("a.bin"));

  WriteFile(client() / "a.bin", after);
  WriteFile(client() / "b.bin", "second, changed");
  // a.bin.lz is replaced, then b.bin.lz cannot be, nor can the record be rewritten.
  fs::remove(LzOf("b.bin"));
  fs::create_directories(LzOf("b.bin") / "x");
  fs::create_directories(out() / "sarvikpublish.manifest.svtmp" / "x");
  ASSERT_FALSE(Build(client(), out()).ok);
  const std::string newLz = sv::test::ReadFile(LzOf("a.bin"));
  ASSERT_NE(newLz, oldLz);
  ASSERT_EQ(newLz.size(), oldLz.size());

  // The operator puts the old file back as it was, time stamp and all (cp -p).
  WriteFile(client() / "a.bin", before);
  fs::last_write_time(client() / "a.bin", stamp);
  fs::remove_all(LzOf("b.bin"));
  fs::remove_all(out() / "sarvikpublish.manifest.svtmp");
  BuildRun run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.kept, 0u) << run.out;
  sv::test::ExpectVerifies(out());
  EXPECT_FALSE(fs::exists(out() / "sarvikpublish.journal"));
}

TEST_F(ReleaseBuild, CaseOnlyRenameKeepsTheNewLz) {
  WriteFile(client() / "Data/A.txt", "first");
  WriteFile(client() / "other.txt", "other");
  ASSERT_TRUE(Build(client(), out()).ok);
  fs::remove(client() / "Data/A.txt");
  WriteFile(client() / "Data/a.txt", "renamed");
  BuildRun run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_TRUE(fs::exists(LzOf("Data/a.txt")));
  sv::test::ExpectVerifies(out());
  // The old name is gone where names keep their case and was the new file where they do not.
  EXPECT_EQ(sv::test::FilesBelow(out() / "Data"), 1u);
}

TEST_F(ReleaseBuild, OutputAndClientFoldersMustNotNest) {
  WriteFile(client() / "game.exe", "program");
  // The output folder inside the client: refused unless left out.
  const fs::path inner = client() / "release";
  BuildRun run = Build(client(), inner);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.err.find("--exclude \"release\""), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(inner));
  run = Build(client(), inner, 1, {}, {"release"});
  ASSERT_TRUE(run.ok) << run.err;
  run = Build(client(), inner, 1, {}, {"release"});
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.files, 1u);
  sv::test::ExpectVerifies(inner);

  // The client inside the output folder: always refused.
  const fs::path outer = root_ / "www";
  WriteFile(outer / "client/game.exe", "program");
  WriteFile(outer / "client/client/game.exe", "its .lz would land in the client");
  run = Build(outer / "client", outer);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.err.find("inside the output folder"), std::string::npos) << run.err;
  EXPECT_EQ(sv::test::FilesBelow(outer), 2u);
}

TEST_F(ReleaseBuild, LeavesOutThePatchersOwnFiles) {
  WriteFile(client() / "game.exe", "program");
  WriteFile(client() / "temp/Sarvik.log", "log");
  WriteFile(client() / "temp/Sarvik.cache", "SVC1");
  WriteFile(client() / "Sarvik.wtest", "");
  WriteFile(client() / "draskeltorrent.config.xml", "<notice/>");
  WriteFile(client() / "data/temp/x.bin", "a game folder of that name is the game's");
  BuildRun run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  std::vector<std::string> listed;
  for (const sv::FileEntry& e : ReadList()) listed.push_back(sv::toUtf8(e.path));
  EXPECT_EQ(listed, (std::vector<std::string>{"data\\temp\\x.bin", "game.exe"}));
  for (const char* named : {"skipped temp/", "skipped Sarvik.wtest", "skipped draskeltorrent"}) {
    EXPECT_NE(run.out.find(named), std::string::npos) << named << "\n" << run.out;
  }
}

TEST_F(ReleaseBuild, CleansWhatItLeftAndCountsWhatItRemoved) {
  auto files = MakeClient();
  ASSERT_TRUE(Build(client(), out()).ok);
  // A partial .lz of an interrupted build.
  WriteFile(out() / "data/zeros.bin.lz.svtmp", "half");
  // A .lz that cannot be removed is not counted as removed.
  fs::remove(client() / "config.exe");
  fs::remove(LzOf("config.exe"));
  WriteFile(LzOf("config.exe") / "in the way", "");
  BuildRun run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.removed, 0u);
  EXPECT_NE(run.err.find("cannot remove config.exe.lz"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(out() / "data/zeros.bin.lz.svtmp"));
  EXPECT_NE(run.out.find("removed 1 partly written"), std::string::npos) << run.out;
  fs::remove_all(LzOf("config.exe"));

  // With the record unreadable, the .lz files of gone files are still removed.
  WriteFile(out() / "sarvikpublish.manifest", "damaged");
  fs::remove(client() / "data/random.bin");
  run = Build(client(), out());
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.removed, 1u);
  EXPECT_FALSE(fs::exists(LzOf("data/random.bin")));
  sv::test::ExpectVerifies(out());
  // Seven .lz files, crclist and the record.
  EXPECT_EQ(sv::test::FilesBelow(out()), files.size());
}

TEST(ReleasePaths, PatcherRulesDecide) {
  EXPECT_EQ(sv::CheckReleasePath("data/pack/x.epk"), "");
  EXPECT_EQ(sv::CheckReleasePath("with space/a b.txt"), "");
  EXPECT_EQ(sv::CheckReleasePath("COM10.txt"), "");
  EXPECT_NE(sv::CheckReleasePath("con.txt").find("device name"), std::string::npos);
  EXPECT_NE(sv::CheckReleasePath("data/Lpt1").find("device name"), std::string::npos);
  EXPECT_NE(sv::CheckReleasePath("dir./a").find("ends in a dot"), std::string::npos);
  EXPECT_NE(sv::CheckReleasePath("a /b").find("ends in a dot or a space"), std::string::npos);
  EXPECT_NE(sv::CheckReleasePath("a:b").find("character"), std::string::npos);
  // A backslash in a Linux name is a folder separator to the patcher.
  EXPECT_NE(sv::CheckReleasePath("a\\b.txt").find("character"), std::string::npos);
  EXPECT_NE(sv::CheckReleasePath(std::string(241, 'x')).find("240"), std::string::npos);
  EXPECT_EQ(sv::CheckReleasePath(std::string(240, 'x')), "");
  // The patcher would trim these, installing the file under another name.
  EXPECT_NE(sv::CheckReleasePath(" lead.txt"), "");
  EXPECT_NE(sv::CheckReleasePath("\xFF.bin").find("UTF-8"), std::string::npos);
}

TEST(ReleaseFiles, ListLinesReadBackAndRunPathIsGuessedOnlyWhenClear) {
  const std::vector<sv::ListedFile> listed = {{"a b/c d.txt", 0xABCDEF01u, 5, false, {}},
                                              {"x.bin", 1u, 0, false, {}}};
  EXPECT_EQ(sv::FormatFileList(listed), "abcdef01 5 - - a b/c d.txt\n00000001 0 x.bin\n");
  std::vector<sv::ClientFile> files(3);
  files[0].path = "Game.EXE";
  files[1].path = "config.exe";
  files[2].path = "bin/tool.exe";
  EXPECT_EQ(sv::GuessRunPath(files), "Game.EXE");
  files[2].path = "launcher.exe";
  EXPECT_EQ(sv::GuessRunPath(files), "");
}

}  // namespace

namespace {

// Every file below `folder` by relative path, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& f : fs::recursive_directory_iterator(folder)) {
    if (f.is_regular_file()) {
      std::string path;
      EXPECT_TRUE(sv::GenericUtf8FromPath(f.path().lexically_relative(folder), path));
      files[path] = sv::test::ReadFile(f.path());
    }
  }
  return files;
}

class ReleaseJobs : public ScratchDirTest {};

// A file large enough to be packed in blocks, next to small ones: any worker count writes the
// same bytes, and the stitched .lz unpacks with the patcher's decoder to the file.
TEST_F(ReleaseJobs, LargeFileInBlocksIsTheSameForEveryJobCount) {
  const fs::path client = root_ / "client";
  using sv::test::MakeSample;
  using sv::test::SampleKind;
  std::string large;
  for (SampleKind kind : {SampleKind::kText, SampleKind::kRandom, SampleKind::kMixed}) {
    large += sv::test::Bytes(MakeSample(kind, 3 * 1024 * 1024 + 12345, 11));
  }
  large += std::string(600000, '\0');
  ASSERT_TRUE(sv::UsesLzoBlocks(large.size()));
  WriteFile(client / "data" / "large.pak", large);
  WriteFile(client / "small.txt", sv::test::Bytes(MakeSample(SampleKind::kText, 5000, 2)));

  std::map<std::string, std::string> first;
  for (unsigned jobs : {1u, 2u, 5u}) {
    sv::BuildOptions options;
    options.client = client;
    options.out = root_ / ("out" + std::to_string(jobs));
    options.level = sv::kLzoFastLevel;
    options.jobs = jobs;
    BuildRun run = Build(options);
    ASSERT_TRUE(run.ok) << run.err;
    EXPECT_EQ(run.summary.written, 2u);
    sv::test::ExpectVerifies(options.out);
    std::map<std::string, std::string> tree = Tree(options.out);
    if (jobs == 1) {
      first = tree;
      ASSERT_EQ(first.count("data/large.pak.lz"), 1u);
      const std::string& lz = first["data/large.pak.lz"];
      EXPECT_LT(lz.size(), large.size()) << "the zeros at least pack";
      std::vector<uint8_t> back;
      ASSERT_TRUE(sv::LzDecodeToMemory(lz.data(), lz.size(), back));
      EXPECT_TRUE(sv::test::Bytes(back) == large);
    } else {
      EXPECT_TRUE(tree == first) << jobs << " jobs";
    }
  }
}

}  // namespace
