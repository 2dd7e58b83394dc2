// Every .lz of a release must decode with the reference LZO1X decoder as well as with ours, over
// text, programs, zeros, random bytes and sizes from nothing to more than 64 MiB (made here: too
// large to keep in the repository).
#include <lzo/lzo1x.h>

#include <gtest/gtest.h>

#include "common/crc32.h"
#include "release/file_list.h"
#include "release/lz_decode.h"
#include "tests/publisher/publish_test_util.h"
#include "tests/publisher/sample_data.h"

namespace {

namespace fs = std::filesystem;
using sv::test::SampleKind;

class ReleaseCorpus : public ScratchDirTest {
 protected:
  // Checks every listed file of `out` against `client` with both decoders.
  void ExpectBothDecodersAgree(const fs::path& client, const fs::path& out, size_t count) {
    std::vector<sv::FileEntry> entries;
    std::wstring error;
    ASSERT_TRUE(sv::ParseFileList(sv::test::ReadFile(out / "crclist"), entries, error));
    ASSERT_EQ(entries.size(), count);
    for (const sv::FileEntry& e : entries) {
      const std::string path = sv::FileUrlPath(e.path);  // ASCII names here: as written
      const std::string original = sv::test::ReadFile(client / path);
      const std::string lz = sv::test::ReadFile(out / (path + ".lz"));
      ASSERT_GE(lz.size(), 7u) << path;
      std::vector<uint8_t> ours;
      ASSERT_TRUE(sv::LzDecodeToMemory(lz.data(), lz.size(), ours)) << path;
      EXPECT_TRUE(sv::test::Bytes(ours) == original) << path;
      std::vector<uint8_t> theirs(original.size() + 1);
      lzo_uint length = theirs.size();
      ASSERT_EQ(lzo1x_decompress_safe(reinterpret_cast<const uint8_t*>(lz.data()) + 4,
                                      lz.size() - 4, theirs.data(), &length, nullptr),
                LZO_E_OK)
          << path;
      theirs.resize(length);
      EXPECT_TRUE(sv::test::Bytes(theirs) == original) << path;
      EXPECT_EQ(e.crc, sv::Crc32(original.data(), original.size())) << path;
    }
  }
};

TEST_F(ReleaseCorpus, EveryLzDecodesWithTheReferenceDecoder) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  const fs::path client = root_ / "client", out = root_ / "out";
  size_t count = 0;
  const size_t sizes[] = {0, 1, 3, 4, 17, 300, 65535, 65536, 1 << 20};
  for (SampleKind kind : {SampleKind::kText, SampleKind::kBinary, SampleKind::kZeros,
                          SampleKind::kRandom, SampleKind::kMixed}) {
    for (size_t size : sizes) {
      sv::test::WriteFile(client / sv::test::SampleName(kind) / (std::to_string(size) + ".bin"),
                          sv::test::Bytes(sv::test::MakeSample(kind, size, size)));
      ++count;
    }
  }
  // Real program code as well (the start of this test program: a few MiB are enough).
  sv::test::WriteFile(client / "programs/publisher_tests",
                      sv::test::ReadFile("/proc/self/exe").substr(0, 3 << 20));
  ++count;
  for (int level : {1, 9}) {
    sv::test::BuildRun run = sv::test::Build(client, out / std::to_string(level), level);
    ASSERT_TRUE(run.ok) << run.err;
    ExpectBothDecodersAgree(client, out / std::to_string(level), count);
  }
}

TEST_F(ReleaseCorpus, FileOfMoreThan64MiB) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  const fs::path client = root_ / "client", out = root_ / "out";
  sv::test::WriteFile(client / "big.bin",
                      sv::test::Bytes(sv::test::MakeSample(SampleKind::kMixed, (65 << 20) + 7)));
  sv::test::BuildRun run = sv::test::Build(client, out, 1);
  ASSERT_TRUE(run.ok) << run.err;
  ExpectBothDecodersAgree(client, out, 1);
}

}  // namespace
