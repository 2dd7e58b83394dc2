#include "release/position_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sv {
namespace {

TEST(PositionIndex, KeysSharingAHashStayApartAndSurviveGrowth) {
  // Hashes are all alike or fall into the same slots: only the caller's comparison can tell
  // the keys apart, and every key must stay findable while the table grows from its first size.
  std::vector<std::string> keys;
  std::vector<uint32_t> hashes;
  PositionIndex index;
  for (int i = 0; i < 5000; ++i) {
    keys.push_back("key" + std::to_string(i));
    hashes.push_back(i % 3 == 0 ? 7u : uint32_t(i) * 1024u);
    index.Add(hashes.back());
  }
  ASSERT_EQ(index.Size(), keys.size());
  for (size_t i = 0; i < keys.size(); i += 7) {
    EXPECT_EQ(index.Find(hashes[i], [&](size_t p) { return keys[p] == keys[i]; }), i);
  }
  EXPECT_EQ(index.Find(7u, [&](size_t p) { return keys[p] == "none"; }), PositionIndex::kNone);
  EXPECT_EQ(index.Find(12345u, [](size_t) { return true; }), PositionIndex::kNone);
  index.Clear();
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_EQ(index.Find(7u, [](size_t) { return true; }), PositionIndex::kNone);
  index.Reserve(3);
  index.Add(7u);
  EXPECT_EQ(index.Find(7u, [](size_t) { return true; }), 0u);
}

TEST(PositionIndex, HashesOfWideAndNarrowKeys) {
  EXPECT_EQ(HashKey(std::wstring_view(L"data\\a.bin")), HashKey(std::wstring(L"data\\a.bin")));
  EXPECT_NE(HashKey(std::wstring_view(L"data\\a.bin")), HashKey(std::wstring_view(L"data\\b.bin")));
  EXPECT_EQ(HashKey(std::string_view("abc")), HashKey(std::wstring_view(L"abc")));
  EXPECT_NE(HashKey(std::string_view("")), HashKey(std::string_view("a")));
}

}  // namespace
}  // namespace sv
