// The chunk store of versioned releases: a chunk is stored once whatever version holds it, an
// unchanged file keeps its index, every kept version's indexes and packs stay readable, and
// objects go only when no kept version names them.
#include <gtest/gtest.h>

#include <set>

#include "publisher/chunk_store.h"
#include "publisher/release_files.h"
#include "tests/publisher/publish_test_util.h"
#include "tests/publisher/sample_data.h"

namespace {

namespace fs = std::filesystem;
using sv::test::WriteFile;

class ReleaseChunks : public ScratchDirTest {
 protected:
  fs::path out() const { return root_ / "out"; }
  fs::path store() const { return out() / sv::kChunkStoreFolder; }

  sv::test::BuildRun Run(const std::string& version) {
    sv::BuildOptions options;
    options.client = root_ / "client";
    options.out = out();
    options.level = sv::kLzoFastLevel;
    options.baseUrl = "http://127.0.0.1:8080/patch";
    options.versioned = true;
    options.version = version;
    options.keep = 1;
    options.chunks = true;
    return sv::test::Build(options);
  }

  void WriteArchive(size_t editAt) {
    if (editAt) archive_.replace(editAt, 3000, std::string(3000, char('a' + editAt % 26)));
    WriteFile(root_ / "client" / "data" / "archive.bin", archive_);
  }

  // The objects every kept version names, after checking each is there and intact.
  std::set<std::string> Named(const std::vector<std::string>& versions) {
    std::set<std::string> named;
    for (const std::string& v : versions) {
      sv::ChunkList list;
      EXPECT_TRUE(sv::ReadChunkList(out() / v, list)) << v;
      for (const sv::ChunkedFile& f : list.files) {
        sv::ChunkIndex index;
        EXPECT_TRUE(sv::ReadChunkIndexObject(store(), f.index, index)) << v << " " << f.path;
        named.insert(sv::IndexObjectName(f.index.digest));
        for (const sv::ReleaseObject& pack : index.packs) {
          EXPECT_EQ(fs::file_size(store() / sv::PackObjectName(pack.digest)), pack.size);
          named.insert(sv::PackObjectName(pack.digest));
        }
      }
    }
    return named;
  }

  std::set<std::string> Stored() {
    std::set<std::string> names;
    for (const auto& f : fs::directory_iterator(store())) names.insert(f.path().filename().string());
    return names;
  }

  std::string archive_ = sv::test::Bytes(
      sv::test::MakeSample(sv::test::SampleKind::kMixed, 3000000));
};

TEST_F(ReleaseChunks, StoresEachChunkOnceAndRemovesOnlyWhatNoKeptVersionUses) {
  WriteFile(root_ / "client" / "game.exe", "small: never cut");
  WriteArchive(0);
  ASSERT_TRUE(Run("v1").ok);
  uintmax_t firstPack = 0;
  for (const std::string& name : Named({"v1"})) {
    if (name.ends_with(".pack")) firstPack = fs::file_size(store() / name);
  }
  EXPECT_EQ(Stored().size(), 2u);  // one pack, one index

  WriteArchive(1500000);
  sv::test::BuildRun run = Run("v2");
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_NE(run.out.find("update: a player on v1 downloads"), std::string::npos) << run.out;
  // The new version adds one small pack: the chunks around the edit.
  std::set<std::string> packs;
  for (const std::string& name : Stored()) {
    if (name.ends_with(".pack") && fs::file_size(store() / name) != firstPack) packs.insert(name);
  }
  ASSERT_EQ(packs.size(), 1u);
  EXPECT_LT(fs::file_size(store() / *packs.begin()), firstPack / 20);

  // v1 goes (keep 1; v2 is the one before v3); what only v1 used goes with it.
  WriteArchive(600000);
  ASSERT_TRUE(Run("v3").ok);
  EXPECT_FALSE(fs::exists(out() / "v1"));
  EXPECT_EQ(Stored(), Named({"v2", "v3"}));

  // Nothing changed: no object is written.
  const std::set<std::string> before = Stored();
  run = Run("v4");
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_NE(run.out.find("0 cut in this build"), std::string::npos) << run.out;
  EXPECT_EQ(Named({"v4"}), Named({"v3"}));
  EXPECT_EQ(Stored(), Named({"v3", "v4"}));
  for (const std::string& name : Stored()) EXPECT_TRUE(before.count(name)) << name;
}

}  // namespace
