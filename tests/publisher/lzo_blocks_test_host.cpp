// Streams cut into blocks and stitched must read as one LZO1X stream to the reference decoder
// and to the patcher's own, whatever lies at the block boundaries.
#include <lzo/lzo1x.h>

#include <gtest/gtest.h>

#include <string>

#include "common/crc32.h"
#include "release/lz_decode.h"
#include "publisher/lzo_blocks.h"
#include "tests/publisher/sample_data.h"

namespace {

using sv::test::MakeSample;
using sv::test::SampleKind;

// Every pair of bytes once (a de Bruijn sequence of order 2 over bytes): no match of any length
// exists anywhere in it.
std::vector<uint8_t> NoRepeatedPair(size_t size) {
  std::vector<uint8_t> out;
  for (unsigned a = 0; a < 256 && out.size() < size; ++a) {
    out.push_back(uint8_t(a));
    for (unsigned b = a + 1; b < 256 && out.size() < size; ++b) {
      out.push_back(uint8_t(a));
      out.push_back(uint8_t(b));
    }
  }
  out.resize(std::min(out.size(), size));
  return out;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Decodes `stream` with both decoders and compares with `data`.
void ExpectDecodes(const std::vector<uint8_t>& data, const std::vector<uint8_t>& stream,
                   const std::string& what) {
  ASSERT_FALSE(stream.empty()) << what;
  std::vector<uint8_t> back(data.size() + 1);
  lzo_uint backLen = back.size();
  int rc = lzo1x_decompress_safe(stream.data(), stream.size(), back.data(), &backLen, nullptr);
  ASSERT_EQ(rc, LZO_E_OK) << what;
  ASSERT_EQ(backLen, data.size()) << what;
  ASSERT_TRUE(std::equal(data.begin(), data.end(), back.begin())) << what;

  std::vector<uint8_t> lz(4);
  for (int i = 0; i < 4; ++i) lz[size_t(i)] = uint8_t(data.size() >> (8 * i));
  lz.insert(lz.end(), stream.begin(), stream.end());
  std::vector<uint8_t> ours;
  std::wstring error;
  ASSERT_TRUE(sv::LzDecodeToMemory(lz.data(), lz.size(), ours, &error)) << what;
  ASSERT_TRUE(ours == data) << what;
}

TEST(LzoBlocks, EveryKindAndLevelDecodesWithBothDecoders) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  for (SampleKind kind : {SampleKind::kText, SampleKind::kBinary, SampleKind::kZeros,
                          SampleKind::kRandom, SampleKind::kMixed}) {
    const std::vector<uint8_t> data = MakeSample(kind, 60000, 7);
    for (int level : {1, 2, 5, 9}) {
      for (uint64_t blockSize : {uint64_t(777), uint64_t(16384)}) {
        const std::string what = std::string(sv::test::SampleName(kind)) + " level " +
                                 std::to_string(level) + " blocks of " +
                                 std::to_string(blockSize);
        ExpectDecodes(data, sv::LzoCompressInBlocks(data.data(), data.size(), level, blockSize),
                      what);
      }
    }
  }
}

// A stream opening with a run longer than the one-byte form holds, blocks without any match,
// blocks that are one long match ending exactly at their end and the next starting with a
// match, and merged runs of every length class at the boundaries.
TEST(LzoBlocks, AwkwardBoundariesDecode) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  std::vector<uint8_t> data = NoRepeatedPair(9000);
  Append(data, std::vector<uint8_t>(9000, 0));
  Append(data, MakeSample(SampleKind::kText, 9000, 3));
  Append(data, MakeSample(SampleKind::kRandom, 9000, 4));
  Append(data, std::vector<uint8_t>(5, 7));
  Append(data, MakeSample(SampleKind::kMixed, 20000, 5));
  bool shortMerged = false;  // 1 to 3 literals in the spare bits: chance, so over all the runs
  for (int level : {1, 3, 9}) {
    for (uint64_t blockSize : {uint64_t(1000), uint64_t(1024), uint64_t(4099)}) {
      const std::string what = "level " + std::to_string(level) + " blocks of " +
                               std::to_string(blockSize);
      // What the boundaries held: the stitched runs seen, and blocks without a match or ending
      // in a match.
      bool noMatch = false, matchToMatch = false, longMerged = false;
      sv::MemoryInput input(data.data(), data.size());
      sv::LzoBlock block;
      std::vector<uint8_t> scratch;
      uint64_t pending = 0;
      bool previousEndsInMatch = false;
      for (size_t i = 0; i < sv::LzoBlockCount(data.size(), blockSize); ++i) {
        sv::CompressLzoBlock(input, data.size(), blockSize, i, level, block, scratch);
        ASSERT_TRUE(block.ok) << what;
        const uint64_t size = std::min<uint64_t>(blockSize, data.size() - i * blockSize);
        if (!block.hasMatch) {
          noMatch = true;
          EXPECT_EQ(block.tail, size) << what;
          pending += size;
          continue;
        }
        const uint64_t merged = pending + block.lead;
        matchToMatch |= previousEndsInMatch && merged == 0;
        shortMerged |= i > 0 && merged >= 1 && merged <= 3;
        longMerged |= i > 0 && merged >= 4;
        pending = block.tail;
        previousEndsInMatch = block.tail == 0;
      }
      EXPECT_TRUE(noMatch && matchToMatch && longMerged) << what;
      ExpectDecodes(data, sv::LzoCompressInBlocks(data.data(), data.size(), level, blockSize),
                    what);
    }
  }
  EXPECT_TRUE(shortMerged);
}

// The stitcher may put more literals before a block's first match than the block had: the
// 2-byte length-2 form, which means that only after 1 to 3 literals, is never a block's first.
TEST(LzoBlocks, FirstMatchOfABlockNeverDependsOnTheLiteralsBefore) {
  const std::vector<uint8_t> data = MakeSample(SampleKind::kText, 4000, 1);
  sv::MemoryInput input(data.data(), data.size());
  const sv::LzoWindow w{data.data(), 0, data.size(), &input};
  std::vector<uint8_t> memory(sv::LzoOutput::MemoryBound(data.size()));
  sv::LzoOutput out(memory.data(), memory.size());
  out.StartBlock();
  EXPECT_FALSE(out.Sequence(w, 1000, 2, 2, 100));
  EXPECT_FALSE(out.blockHasMatch());
  EXPECT_TRUE(out.Sequence(w, 1000, 6, 3, 2500));
  EXPECT_TRUE(out.blockHasMatch());
  EXPECT_EQ(out.leadLiterals(), 6u);
  EXPECT_EQ(out.written(), 2u) << "the literals are left to the stitcher";
  // After the first match the usual forms apply.
  EXPECT_TRUE(out.Sequence(w, 1009, 2, 2, 100));
}

// Matches reach back into the block before: a repeat of the previous block packs small.
TEST(LzoBlocks, MatchesReachIntoThePreviousBlockAndTheCrcCombines) {
  std::vector<uint8_t> data = MakeSample(SampleKind::kRandom, 30000, 9);
  std::vector<uint8_t> repeat(data.begin(), data.end());
  Append(data, repeat);
  for (int level : {1, 9}) {
    std::vector<uint8_t> stream = sv::LzoCompressInBlocks(data.data(), data.size(), level, 30000);
    EXPECT_LT(stream.size(), 30000u + 30000u / 10) << "level " << level;
    ExpectDecodes(data, stream, "repeat level " + std::to_string(level));
  }
  // The CRC of the whole from the blocks' CRCs.
  const std::vector<uint8_t> a = MakeSample(SampleKind::kText, 5000, 1);
  const std::vector<uint8_t> b = MakeSample(SampleKind::kBinary, 70000, 2);
  std::vector<uint8_t> ab = a;
  Append(ab, b);
  EXPECT_EQ(sv::Crc32Combine(sv::Crc32(a.data(), a.size()), sv::Crc32(b.data(), b.size()),
                             b.size()),
            sv::Crc32(ab.data(), ab.size()));
  EXPECT_EQ(sv::Crc32Combine(0x12345678u, sv::Crc32(nullptr, 0), 0), 0x12345678u);
}

}  // namespace
