#include "http/http_rate_limit.h"

#include <gtest/gtest.h>

#include <queue>
#include <vector>

namespace sv {
namespace {

constexpr uint64_t kRate = 2048 * kRateLimitKiB;
constexpr uint32_t kPiece = kHttpPieceSize;

// Readers that each read a piece, wait as told and read again, on a simulated clock starting at
// `startMs`; the bytes all of them received within `durationMs`.
uint64_t BytesRead(RateLimiter& limiter, int readers, uint32_t startMs, uint32_t durationMs) {
  using Wake = std::pair<uint64_t, int>;  // (time since start, reader)
  std::priority_queue<Wake, std::vector<Wake>, std::greater<Wake>> due;
  for (int r = 0; r < readers; ++r) due.push({0, r});
  uint64_t bytes = 0;
  while (due.top().first < durationMs) {
    const auto [at, reader] = due.top();
    due.pop();
    bytes += kPiece;
    due.push({at + limiter.Reserve(kPiece, uint32_t(startMs + at)), reader});
  }
  return bytes;
}

TEST(RateLimiter, ReadersTogetherKeepTheRate) {
  for (int readers : {1, 4, 8}) {
    RateLimiter limiter;
    limiter.SetRate(kRate, 1000);
    const uint64_t bytes = BytesRead(limiter, readers, 1000, 20000);
    // 20 s at the rate, give or take the one burst and a piece per reader still under way.
    EXPECT_NEAR(double(bytes), double(kRate) * 20, double(kPiece) * (readers + 1)) << readers;
  }
}

TEST(RateLimiter, KeepsTheRateAcrossTheTicksWrap) {
  RateLimiter limiter;
  limiter.SetRate(kRate, 0xFFFFF000u);
  const uint64_t bytes = BytesRead(limiter, 4, 0xFFFFF000u, 10000);
  EXPECT_NEAR(double(bytes), double(kRate) * 10, double(kPiece) * 5);
}

TEST(RateLimiter, IdleTimeBanksNoMoreThanOnePiece) {
  RateLimiter limiter;
  limiter.SetRate(kRate, 0);
  EXPECT_EQ(limiter.Reserve(kPiece, 0), 0u);
  // After a minute without reading, a whole second's worth still costs almost a second.
  const uint32_t wait = limiter.Reserve(kRate, 60000);
  EXPECT_GE(wait, 1000u - 1000u * kPiece / kRate);
  EXPECT_LE(wait, 1000u);
}

TEST(RateLimiter, NoRateNoWait) {
  RateLimiter limiter;
  EXPECT_EQ(limiter.Reserve(uint64_t(1) << 40, 5), 0u);
  limiter.SetRate(kRate, 0);
  EXPECT_GT(limiter.Reserve(uint64_t(1) << 30, 0), 0u);
  limiter.SetRate(0, 0);
  EXPECT_EQ(limiter.Reserve(uint64_t(1) << 30, 0), 0u);
}

TEST(RateLimiter, PaceReceivedEndsOnCancel) {
  RateLimiter& limiter = ProcessRateLimiter();
  limiter.SetRate(kMinMaxKbps * kRateLimitKiB, 0);
  CancelFlag cancel{1};
  // A debt of a minute: the wait must end with the flag, not with the debt.
  EXPECT_FALSE(PaceReceived(uint64_t(kMinMaxKbps) * kRateLimitKiB * 60, &cancel));
  limiter.SetRate(0, 0);
}

TEST(RateLimiter, ConfigurationLowersTheBuildersLimitButNeverRaisesIt) {
  EXPECT_EQ(EffectiveMaxKbps(0, 0), 0);
  EXPECT_EQ(EffectiveMaxKbps(0, 2048), 2048);
  EXPECT_EQ(EffectiveMaxKbps(4096, 2048), 2048);
  EXPECT_EQ(EffectiveMaxKbps(1024, 2048), 1024);
  EXPECT_EQ(EffectiveMaxKbps(1024, 0), 1024);
  EXPECT_EQ(EffectiveMaxKbps(1024, -7), 1024);
  EXPECT_EQ(EffectiveMaxKbps(-3, 0), 0);
  EXPECT_EQ(EffectiveMaxKbps(0, 1), kMinMaxKbps);
}

}  // namespace
}  // namespace sv
