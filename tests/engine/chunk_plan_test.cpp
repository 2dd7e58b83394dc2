// Which chunks come from local files and which ranges are fetched: a chunk is fetched once for
// every place it fills, neighbours share a request, and no request grows past its bound.
#include <gtest/gtest.h>

#include "patcher/engine/chunk_plan.h"

namespace sv {
namespace {

Sha256Digest D(uint8_t n) { return Sha256Digest{n}; }

TEST(ChunkPlan, TakesLocalChunksFetchesEachMissingOneOnceAndJoinsNeighbours) {
  ChunkIndex index;
  index.packs = {{D(100), 1000}, {D(101), 1000}};
  // File: A B C A D E, where B is held locally; C and D lie side by side in pack 0, E in pack 1.
  index.chunks = {{D(1), 10, 0, 0, 8},  {D(2), 20, 0, 8, 20},   {D(3), 30, 0, 28, 25},
                  {D(1), 10, 0, 0, 8},  {D(4), 40, 0, 53, 40},  {D(5), 50, 1, 500, 50}};
  index.fileSize = 160;
  SeedMatcher seeds(index);
  EXPECT_TRUE(seeds.Offer(0, D(2), 777));
  EXPECT_FALSE(seeds.Offer(1, D(2), 5));   // the first seed that has it
  EXPECT_FALSE(seeds.Offer(0, D(9), 0));   // not in the new file
  const ChunkPlan plan = PlanChunks(index, seeds.held(), 1000);
  ASSERT_EQ(plan.copies.size(), 1u);
  EXPECT_EQ(plan.copies[0].offset, 777u);
  EXPECT_EQ(plan.copyOffsets[0], 10u);
  EXPECT_EQ(plan.reusedBytes, 20u);
  ASSERT_EQ(plan.missing.size(), 4u);
  EXPECT_EQ(plan.missing[0].fileOffsets, (std::vector<uint64_t>{0, 60}));
  EXPECT_EQ(plan.fetchBytes, 8u + 25 + 40 + 50);
  // A (0-8) is not next to C (28-53) in the pack: pack 0 needs two requests, pack 1 one.
  ASSERT_EQ(plan.ranges.size(), 3u);
  EXPECT_EQ(plan.ranges[1].first, 28u);
  EXPECT_EQ(plan.ranges[1].end, 93u);
  EXPECT_EQ(plan.ranges[1].missing.size(), 2u);
  EXPECT_EQ(plan.ranges[2].pack, 1u);

  // A bound below C + D keeps them apart.
  EXPECT_EQ(PlanChunks(index, seeds.held(), 50).ranges.size(), 4u);
}

}  // namespace
}  // namespace sv
