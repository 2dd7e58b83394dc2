// Versioned releases and parallel compression: what a live server serves never changes under a
// patcher, unchanged files are shared, old versions go without the ones patchers may be reading,
// and the number of workers never changes a byte of the output.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "common/text.h"
#include "patcher/engine/remote_config.h"
#include "publisher/release_build.h"
#include "publisher/release_files.h"
#include "publisher/release_versions.h"
#include "tests/publisher/publish_test_util.h"
#include "tests/publisher/sample_data.h"

namespace {

namespace fs = std::filesystem;
using sv::test::ReadFile;
using sv::test::WriteFile;

constexpr char kBase[] = "http://127.0.0.1:8080/patch";

class ReleaseVersions : public ScratchDirTest {
 protected:
  fs::path client() const { return root_ / "client"; }
  fs::path out() const { return root_ / "out"; }

  void MakeClient() {
    using sv::test::MakeSample;
    using sv::test::SampleKind;
    WriteFile(client() / "game.exe", sv::test::Bytes(MakeSample(SampleKind::kBinary, 90000)));
    WriteFile(client() / "data/text.txt", sv::test::Bytes(MakeSample(SampleKind::kText, 120000)));
    WriteFile(client() / "data/random.bin", sv::test::Bytes(MakeSample(SampleKind::kRandom, 60000)));
    WriteFile(client() / "data/mixed.bin", sv::test::Bytes(MakeSample(SampleKind::kMixed, 300000)));
    WriteFile(client() / "empty.bin", "");
  }

  sv::test::BuildRun Run(const std::string& version, size_t keep = 3, unsigned jobs = 0,
                         const std::string& baseUrl = kBase, bool versioned = true,
                         const fs::path& to = {}) {
    sv::BuildOptions options;
    options.client = client();
    options.out = to.empty() ? out() : to;
    options.level = sv::kLzoFastLevel;
    options.baseUrl = baseUrl;
    options.versioned = versioned;
    options.version = version;
    options.keep = keep;
    options.jobs = jobs;
    return sv::test::Build(options);
  }

  std::string Configured() {
    std::string version, error;
    EXPECT_TRUE(sv::ConfiguredVersion(ReadFile(out() / sv::kConfigName), version, error)) << error;
    return version;
  }

  // Every file below `folder` by relative path, with its bytes.
  static std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& f : fs::recursive_directory_iterator(folder)) {
      if (f.is_regular_file()) {
        files[f.path().lexically_relative(folder).generic_string()] = ReadFile(f.path());
      }
    }
    return files;
  }
};

TEST_F(ReleaseVersions, NewVersionSharesUnchangedFilesAndLeavesTheServedOneAlone) {
  MakeClient();
  sv::test::BuildRun first = Run("v1");
  ASSERT_TRUE(first.ok) << first.err;
  EXPECT_EQ(Configured(), "v1");
  const auto served = Tree(out() / "v1");
  sv::test::ExpectVerifies(out() / "v1");

  WriteFile(client() / "data/text.txt", "a new text");
  WriteFile(client() / "data/new.bin", std::string(5000, 'n'));
  fs::remove(client() / "data/random.bin");
  sv::test::BuildRun second = Run("v2");
  ASSERT_TRUE(second.ok) << second.err;
  EXPECT_EQ(second.summary.written, 2u);
  EXPECT_EQ(second.summary.kept, 3u);
  EXPECT_EQ(second.summary.linked + second.summary.copied, 3u);

  // The version patchers were reading is byte for byte what it was, every file still there.
  EXPECT_EQ(Tree(out() / "v1"), served);
  sv::test::ExpectVerifies(out() / "v1");
  sv::test::ExpectVerifies(out() / "v2");
  EXPECT_FALSE(fs::exists(out() / "v2" / "data/random.bin.lz"));
  for (const char* same : {"game.exe.lz", "data/mixed.bin.lz", "empty.bin.lz"}) {
    // Hard links work on the file systems these tests run on (ext4, and Wine on it).
    EXPECT_TRUE(fs::equivalent(out() / "v1" / same, out() / "v2" / same)) << same;
  }
  EXPECT_FALSE(fs::equivalent(out() / "v1" / "data/text.txt.lz", out() / "v2" / "data/text.txt.lz"));
  EXPECT_EQ(second.summary.linked, 3u);
  for (const auto& f : fs::recursive_directory_iterator(out())) {
    EXPECT_EQ(f.path().string().find(".sv"), std::string::npos) << f.path();
  }

  // The patcher's own reading of the configuration leads to the new folder.
  sv::RemoteConfig config;
  std::wstring error;
  ASSERT_TRUE(sv::ParseRemoteConfig(ReadFile(out() / sv::kConfigName),
                                    sv::toWide(std::string(kBase) + "/draskeltorrent.config.xml"),
                                    L"none", config, error));
  EXPECT_EQ(config.sources, std::vector<std::wstring>{sv::toWide(std::string(kBase) + "/v2/")});
  // A version folder never changes: its lists may come from a cache.
  EXPECT_EQ(config.immutableSources, config.sources);
}

TEST_F(ReleaseVersions, RewritesOnlyTheVersionOfAnEditedConfiguration) {
  MakeClient();
  const std::string edited =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- ours -->\n"
      "<torrent_config run_path=\"game.exe\" notice_ver='4'>\n"
      "  <foreground_patch crcpatch_url=\"http://a/patch\" crcversion=\"\"/>\n"
      "  <foreground_patch crcpatch_url=\"http://mirror/patch\"></foreground_patch>\n"
      "  <foreground_patch crcversion=\"keep\"/>\n"
      "</torrent_config>\n";
  WriteFile(out() / sv::kConfigName, edited);
  ASSERT_TRUE(Run("r1", 3, 0, "").ok);
  std::string expected = edited;
  expected.replace(expected.find("crcversion=\"\""), 13,
                   "crcversion=\"r1\" sv_version_immutable=\"1\"");
  expected.replace(expected.find("<foreground_patch crcpatch_url=\"http://mirror"), 17,
                   "<foreground_patch crcversion=\"r1\" sv_version_immutable=\"1\"");
  EXPECT_EQ(ReadFile(out() / sv::kConfigName), expected);

  // One that names no download source is refused before anything is written.
  WriteFile(out() / sv::kConfigName, "<torrent_config run_path=\"game.exe\"/>");
  sv::test::BuildRun refused = Run("r2", 3, 0, "");
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(refused.err.find("names no download source"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(out() / "r2"));
  EXPECT_FALSE(fs::exists(out() / "r2.svpart"));
}

TEST_F(ReleaseVersions, RefusesWhatWouldChangeAServedVersion) {
  MakeClient();
  // No configuration and no address to write one: no version could ever be named.
  sv::test::BuildRun none = Run("", 3, 0, "");
  EXPECT_FALSE(none.ok);
  EXPECT_FALSE(fs::exists(out()));
  ASSERT_TRUE(Run("v1").ok);
  const auto served = Tree(out() / "v1");
  WriteFile(client() / "game.exe", "changed");
  sv::test::BuildRun again = Run("v1");
  EXPECT_FALSE(again.ok);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(Tree(out() / "v1"), served);
  EXPECT_EQ(Configured(), "v1");
  for (const char* bad : {"", "../x", "a/b", ".hidden", "trailing.", "x.svpart", "sp ace"}) {
    EXPECT_FALSE(sv::IsValidVersionName(bad)) << bad;
  }
  EXPECT_TRUE(sv::IsValidVersionName("20261209-045236-2"));
}

TEST_F(ReleaseVersions, TimeNamesSortAndStayUniqueWithinASecond) {
  MakeClient();
  EXPECT_EQ(sv::VersionNameAt(0), "19700101-000000");
  EXPECT_LT(sv::VersionNameAt(1999999999), sv::VersionNameAt(2000000000));
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    sv::test::BuildRun run = Run("", 10);
    ASSERT_TRUE(run.ok) << run.err;
    names.push_back(run.summary.version);
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 3u);
  EXPECT_EQ(Configured(), names.back());
}

TEST_F(ReleaseVersions, KeepNeverRemovesTheConfiguredVersionNorTheOneBefore) {
  MakeClient();
  // Not made by this tool, or half built: never counted as versions, never removed.
  WriteFile(out() / "notice" / "index.html", "operator's page");
  for (int i = 1; i <= 4; ++i) {
    WriteFile(client() / "game.exe", "build " + std::to_string(i));
    sv::test::BuildRun run = Run("v" + std::to_string(i), 1);
    ASSERT_TRUE(run.ok) << run.err;
    EXPECT_TRUE(fs::exists(out() / ("v" + std::to_string(i)) / "crclist"));
    if (i > 1) {
      EXPECT_TRUE(fs::exists(out() / ("v" + std::to_string(i - 1)) / "crclist"));
    }
    if (i > 2) {
      EXPECT_FALSE(fs::exists(out() / ("v" + std::to_string(i - 2)))) << i;
    }
  }
  EXPECT_TRUE(fs::exists(out() / "notice" / "index.html"));

  // The operator goes back to v3; the next build keeps v3, which patchers are being sent to,
  // although v4 was made after it.
  std::string config = ReadFile(out() / sv::kConfigName), rolledBack, error;
  ASSERT_TRUE(sv::SetConfiguredVersion(config, "v3", rolledBack, error)) << error;
  WriteFile(out() / sv::kConfigName, rolledBack);
  sv::test::BuildRun run = Run("v5", 1);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_NE(run.out.find("from v3"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(out() / "v3" / "crclist"));
  EXPECT_TRUE(fs::exists(out() / "v5" / "crclist"));
  EXPECT_FALSE(fs::exists(out() / "v4"));
  EXPECT_EQ(Configured(), "v5");

  // A build stopped half way leaves a staging folder, which the next one clears away.
  WriteFile(out() / "v6.svpart" / "game.exe.lz", "half");
  ASSERT_TRUE(Run("v7", 1).ok);
  EXPECT_FALSE(fs::exists(out() / "v6.svpart"));
}

// A staged version carries its own configuration, the live one only announces it: --keep and
// later builds leave it, a later stage replaces the announcement, promote switches to it.
TEST_F(ReleaseVersions, StagedVersionIsAnnouncedKeptAndPromoted) {
  MakeClient();
  ASSERT_TRUE(Run("v1").ok);
  auto stage = [this](const std::string& version) {
    WriteFile(client() / "game.exe", "build " + version);
    sv::BuildOptions options;
    options.client = client();
    options.out = out();
    options.level = sv::kLzoFastLevel;
    options.versioned = true;
    options.version = version;
    options.keep = 1;
    options.stageAt = "2026-12-24T18:00:00Z";
    return sv::test::Build(options);
  };
  sv::test::BuildRun staged = stage("v2");
  ASSERT_TRUE(staged.ok) << staged.err;
  EXPECT_EQ(Configured(), "v1");
  const std::string announce = std::string("<sv_next config_url=\"") + kBase +
                               "/v2/draskeltorrent.config.xml\" at=\"2026-12-24T18:00:00Z\"/>";
  EXPECT_NE(ReadFile(out() / sv::kConfigName).find(announce), std::string::npos);
  const std::string own = ReadFile(out() / "v2" / sv::kConfigName);
  EXPECT_NE(own.find("crcversion=\"v2\""), std::string::npos) << own;
  EXPECT_EQ(own.find("sv_next"), std::string::npos) << own;

  // A live build with keep 1 keeps the announced version; a new stage replaces the announcement.
  WriteFile(client() / "game.exe", "build v3");
  ASSERT_TRUE(Run("v3", 1).ok);
  EXPECT_TRUE(fs::exists(out() / "v2" / "crclist"));
  ASSERT_TRUE(stage("v4").ok);
  const std::string live = ReadFile(out() / sv::kConfigName);
  EXPECT_EQ(sv::AnnouncedVersion(live), "v4");
  EXPECT_EQ(live.find("sv_next"), live.rfind("sv_next")) << live;

  std::ostringstream report, err;
  EXPECT_FALSE(sv::PromoteRelease(out(), "v9", std::nullopt, report, err));
  ASSERT_TRUE(sv::PromoteRelease(out(), "v4", std::nullopt, report, err)) << err.str();
  EXPECT_EQ(Configured(), "v4");
  EXPECT_EQ(ReadFile(out() / sv::kConfigName).find("sv_next"), std::string::npos);
}

TEST_F(ReleaseVersions, SwitchingAnInPlaceReleaseToVersionsReusesItsFiles) {
  MakeClient();
  ASSERT_TRUE(Run("", 3, 0, kBase, false).ok);
  sv::test::BuildRun run = Run("v1");
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(run.summary.written, 0u);
  EXPECT_EQ(run.summary.linked, 5u);
  EXPECT_TRUE(fs::equivalent(out() / "game.exe.lz", out() / "v1" / "game.exe.lz"));
  sv::test::ExpectVerifies(out() / "v1");
  // Back to building in place: that build is not what patchers are sent to, and it says so.
  sv::test::BuildRun inPlace = Run("", 3, 0, kBase, false);
  ASSERT_TRUE(inPlace.ok) << inPlace.err;
  EXPECT_NE(inPlace.err.find("names version v1"), std::string::npos) << inPlace.err;
}

TEST_F(ReleaseVersions, EveryWorkerCountWritesTheSameRelease) {
  MakeClient();
  for (int i = 0; i < 12; ++i) {
    WriteFile(client() / "many" / ("f" + std::to_string(i) + ".bin"),
              sv::test::Bytes(sv::test::MakeSample(sv::test::SampleKind::kMixed, 20000 + 7919 * i)));
  }
  std::map<std::string, std::string> trees[3];
  const unsigned jobs[] = {1, 2, 5};
  for (int i = 0; i < 3; ++i) {
    const fs::path to = root_ / ("jobs" + std::to_string(jobs[i]));
    sv::test::BuildRun run = Run("v", 3, jobs[i], kBase, false, to);
    ASSERT_TRUE(run.ok) << run.err;
    EXPECT_EQ(run.summary.written, 17u);
    trees[i] = Tree(to);
  }
  EXPECT_EQ(trees[0].size(), 20u);  // 17 .lz, the list, the record and the configuration
  EXPECT_EQ(trees[0], trees[1]);
  EXPECT_EQ(trees[0], trees[2]);
}

TEST_F(ReleaseVersions, AFailingFileStopsEveryWorkerAndNamesTheFirstInOrder) {
  MakeClient();
  ASSERT_TRUE(Run("", 3, 2, kBase, false).ok);
  // A folder where a .lz must go: the build fails without listing anything new.
  WriteFile(client() / "data/zz.bin", "new");
  fs::create_directories(out() / "data" / "zz.bin.lz" / "in the way");
  const std::string list = ReadFile(out() / "crclist");
  sv::test::BuildRun run = Run("", 3, 2, kBase, false);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.err.find("zz.bin"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(out() / "crclist"), list);
}

}  // namespace
