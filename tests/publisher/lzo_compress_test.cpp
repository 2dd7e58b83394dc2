#include "publisher/lzo_compress.h"

#include <gtest/gtest.h>

#include "common/crc32.h"
#include "release/lz_decode.h"
#include "tests/publisher/sample_data.h"

namespace {

using sv::test::MakeSample;
using sv::test::SampleKind;

const SampleKind kKinds[] = {SampleKind::kText, SampleKind::kBinary, SampleKind::kZeros,
                             SampleKind::kRandom, SampleKind::kMixed};

// Input that is not in memory as a whole, so the compressor reads it in pieces and reads back
// literals that have left its window.
class PieceInput : public sv::LzoInput {
 public:
  explicit PieceInput(const std::vector<uint8_t>& data) : inner_(data.data(), data.size()) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    ++reads;
    return inner_.ReadAt(offset, buffer, size);
  }
  int reads = 0;

 private:
  sv::MemoryInput inner_;
};

class FailingWriter : public sv::LzWriter {
 public:
  bool Write(const void*, size_t size) override { return (written += size) < 1000; }
  size_t written = 0;
};

void ExpectRoundTrip(const std::vector<uint8_t>& data, int level, const std::string& what) {
  std::vector<uint8_t> packed;
  ASSERT_TRUE(sv::LzCompressToMemory(data.data(), data.size(), packed, level)) << what;
  ASSERT_GE(packed.size(), 7u) << what;
  uint32_t declared = packed[0] | packed[1] << 8 | packed[2] << 16 | uint32_t(packed[3]) << 24;
  EXPECT_EQ(declared, data.size()) << what;
  // The stream ends with the end-of-stream instruction.
  EXPECT_EQ(packed[packed.size() - 3], 0x11) << what;
  std::vector<uint8_t> back;
  std::wstring error;
  ASSERT_TRUE(sv::LzDecodeToMemory(packed.data(), packed.size(), back, &error))
      << what << " " << std::string(error.begin(), error.end());
  EXPECT_TRUE(back == data) << what;
}

}  // namespace

TEST(LzCompress, RoundTripsEveryKindSizeAndLevel) {
  const size_t kSizes[] = {0, 1, 2, 3, 4, 5, 9, 18, 19, 238, 239, 274, 4096, 65535, 65537, 200000};
  for (SampleKind kind : kKinds) {
    for (size_t size : kSizes) {
      std::vector<uint8_t> data = MakeSample(kind, size, size);
      for (int level : {1, 2, 5, 9}) {
        ExpectRoundTrip(data, level,
                        std::string(sv::test::SampleName(kind)) + " size " +
                            std::to_string(size) + " level " + std::to_string(level));
      }
    }
  }
}

TEST(LzCompress, HighLevelIsSmallerOnCompressibleData) {
  for (SampleKind kind : {SampleKind::kText, SampleKind::kBinary, SampleKind::kMixed}) {
    std::vector<uint8_t> data = MakeSample(kind, 300000);
    std::vector<uint8_t> fast, best;
    ASSERT_TRUE(sv::LzCompressToMemory(data.data(), data.size(), fast, 1));
    ASSERT_TRUE(sv::LzCompressToMemory(data.data(), data.size(), best, 9));
    EXPECT_LT(best.size(), fast.size()) << sv::test::SampleName(kind);
    EXPECT_LT(fast.size(), data.size()) << sv::test::SampleName(kind);
  }
}

TEST(LzCompress, PieceByPieceGivesTheSameResultAsInMemory) {
  // Random data first: one literal run far longer than the window, read back at the end.
  std::vector<uint8_t> data = MakeSample(SampleKind::kRandom, 5 << 20, 7);
  std::vector<uint8_t> tail = MakeSample(SampleKind::kMixed, 6 << 20, 8);
  data.insert(data.end(), tail.begin(), tail.end());
  for (int level : {1, 3}) {
    std::vector<uint8_t> whole, pieces;
    ASSERT_TRUE(sv::LzCompressToMemory(data.data(), data.size(), whole, level));
    PieceInput input(data);
    sv::MemWriter writer(&pieces);
    sv::LzCompressResult r = sv::LzCompress(input, data.size(), writer, level);
    ASSERT_TRUE(r.ok);
    // Level 1 finds nothing in the random part, so its literals are read back at the first match.
    if (level == 1) {
      EXPECT_GT(input.reads, 3);
    }
    EXPECT_EQ(r.crc, sv::Crc32(data.data(), data.size()));
    EXPECT_EQ(r.outSize, pieces.size());
    std::vector<uint8_t> back;
    ASSERT_TRUE(sv::LzDecodeToMemory(pieces.data(), pieces.size(), back));
    EXPECT_TRUE(back == data) << "level " << level;
    // The window cuts no match short (only a backward extension into literals read back), so
    // the pieces give the same stream here.
    EXPECT_TRUE(pieces == whole) << "level " << level;
  }
}

TEST(LzCompress, ReportsWriteFailureAndOversizeInput) {
  std::vector<uint8_t> data = MakeSample(SampleKind::kRandom, 3 << 20);
  sv::MemoryInput input(data.data(), data.size());
  FailingWriter failing;
  sv::LzCompressResult r = sv::LzCompress(input, data.size(), failing, 1);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorText, L"Dosya yazilamadi (disk dolu ya da izin yok).");

  PieceInput never(data);
  std::vector<uint8_t> out;
  sv::MemWriter writer(&out);
  r = sv::LzCompress(never, sv::kLzMaxInputSize + 1, writer, 1);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.errorText.empty());
  EXPECT_EQ(never.reads, 0);
  EXPECT_TRUE(out.empty());
}

TEST(LzCompress, MoreThan64MiBStreamsThroughTheDecoder) {
  // Long matches between the searches: the level-1 table entries age the most here.
  std::vector<uint8_t> data = MakeSample(SampleKind::kMixed, (65 << 20) + 7);
  PieceInput input(data);
  std::vector<uint8_t> packed;
  sv::MemWriter writer(&packed);
  sv::LzCompressResult r = sv::LzCompress(input, data.size(), writer, 1);
  ASSERT_TRUE(r.ok);
  sv::MemReader reader(packed.data(), packed.size());
  sv::LzResult d = sv::LzDecode(reader, nullptr, nullptr, nullptr);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.out_size, data.size());
  EXPECT_EQ(d.crc, r.crc);
  EXPECT_EQ(d.crc, sv::Crc32(data.data(), data.size()));
}
