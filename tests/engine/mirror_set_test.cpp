// The choice among a source's mirrors: what is tried, what is preferred, what is left.
#include <gtest/gtest.h>

#include "patcher/engine/mirror_set.h"
#include "patcher/engine/remote_config.h"

namespace sv {
namespace {

const std::wstring kSource = L"http://a.example/v1/";

MirrorSet TwoMirrors() {
  RemoteConfig config;
  config.sources = {kSource, L"http://other.example/"};
  config.mirrors[kSource] = {L"http://m1.example/v1/", L"http://m2.example/v1/"};
  MirrorSet set;
  set.Reset(config);
  return set;
}

TEST(MirrorSet, EachIsTriedOnceThenTheFastestForItsLoadServes) {
  MirrorSet set = TwoMirrors();
  ASSERT_TRUE(set.HasMirrors());
  EXPECT_EQ(set.Pick(L"http://unknown.example/"), -1);
  EXPECT_EQ(set.at(set.Pick(L"http://other.example/")).base, L"http://other.example/");
  int32_t ids[3];
  for (int32_t& id : ids) {
    id = set.Pick(kSource);
    set.Begin(id);
  }
  EXPECT_EQ(set.at(ids[0]).base, kSource);
  EXPECT_EQ(set.at(ids[1]).base, L"http://m1.example/v1/");
  EXPECT_EQ(set.at(ids[2]).base, L"http://m2.example/v1/");
  set.End(ids[0], 1 << 20, 1000, true, true);  // 1 MB/s
  set.End(ids[1], 8 << 20, 1000, true, true);  // 8 MB/s
  set.End(ids[2], 0, 10, false, false);        // refused: no pace
  EXPECT_EQ(set.Pick(kSource), ids[1]);
  EXPECT_EQ(set.Pick(kSource, ids[1]), ids[0]);
  // Busy enough, the fast one is worth less than an idle slow one.
  for (int i = 0; i < 8; ++i) set.Begin(ids[1]);
  EXPECT_EQ(set.Pick(kSource), ids[0]);
  EXPECT_EQ(set.InUse(kSource).front(), ids[1]);
  EXPECT_EQ(set.at(ids[1]).served, uint64_t(8 << 20));
}

TEST(MirrorSet, TheLastOfASourceIsNeverLeft) {
  MirrorSet set = TwoMirrors();
  const int32_t source = set.Pick(kSource);
  set.Begin(source);
  const int32_t m1 = set.Pick(kSource);
  set.Begin(m1);
  const int32_t m2 = set.Pick(kSource);
  EXPECT_TRUE(set.Leave(m2, L"HTTP 503\nagain"));
  EXPECT_FALSE(set.Leave(m2, L"twice"));
  EXPECT_EQ(set.at(m2).whyLeft, L"HTTP 503 again");
  EXPECT_TRUE(set.Leave(source, L"refused"));
  EXPECT_FALSE(set.Leave(m1, L"refused"));
  EXPECT_EQ(set.Pick(kSource, m1), m1);  // avoided, yet all that is left
  EXPECT_EQ(set.InUse(kSource), std::vector<int32_t>{m1});
  // The other source's own mirror is unaffected, and cannot be left either.
  EXPECT_FALSE(set.Leave(set.Pick(L"http://other.example/"), L"refused"));
  EXPECT_EQ(set.Report().size(), 4u);
}

TEST(MirrorSet, ASlowTransferMovesOnlyWhenAnotherIsClearlySooner) {
  MirrorSet set = TwoMirrors();
  const int32_t slow = set.Pick(kSource);
  set.Begin(slow);
  const int32_t fast = set.Pick(kSource);
  set.Begin(fast);
  set.End(fast, 20 << 20, 1000, true, true);  // 20 MB/s
  // Too early to judge, then 256 KB/s with 3 MB to go (12 s against 1.15 s), then nearly done.
  EXPECT_EQ(set.FasterElsewhere(slow, 64 << 10, 200, 3 << 20), -1);
  EXPECT_EQ(set.FasterElsewhere(slow, 256 << 10, 1000, 3 << 20), fast);
  EXPECT_EQ(set.FasterElsewhere(slow, 256 << 10, 1000, 256 << 10), -1);
  EXPECT_EQ(set.FasterElsewhere(fast, 256 << 10, 1000, 3 << 20), -1);  // none faster
}

}  // namespace
}  // namespace sv
