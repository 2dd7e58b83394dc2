#include "http/http_rate_limit.h"

#include <algorithm>
#include <cmath>

#include "common/clock_os.h"

namespace sv {

namespace {

// Enough for one piece of the transports, so a reader at the rate never waits for a piece it was
// owed; small enough that a burst after an idle spell stays a small part of a second.
constexpr double kBurstBytes = double(kHttpPieceSize);
constexpr uint32_t kWaitStepMs = 50;

}  // namespace

void RateLimiter::SetRate(uint64_t bytesPerSecond, uint32_t nowMs) {
  std::lock_guard<std::mutex> guard(lock_);
  if (bytesPerSecond == rate_) return;
  rate_ = bytesPerSecond;
  tokens_ = kBurstBytes;
  lastMs_ = nowMs;
}

uint64_t RateLimiter::Rate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rate_;
}

uint32_t RateLimiter::Reserve(uint64_t bytes, uint32_t nowMs) {
  std::lock_guard<std::mutex> guard(lock_);
  if (rate_ == 0) return 0;
  // Unsigned difference: right across the tick's wrap; a tick from before SetRate counts as none.
  const uint32_t elapsed = nowMs - lastMs_;
  if (elapsed < 0x80000000u) {
    tokens_ = std::min(kBurstBytes, tokens_ + double(rate_) * elapsed / 1000.0);
    lastMs_ = nowMs;
  }
  tokens_ -= double(bytes);
  if (tokens_ >= 0) return 0;
  const double waitMs = std::ceil(-tokens_ * 1000.0 / double(rate_));
  return waitMs > 4.0e9 ? 4000000000u : uint32_t(waitMs);
}

RateLimiter& ProcessRateLimiter() {
  static RateLimiter limiter;
  return limiter;
}

bool PaceReceived(uint64_t bytes, const CancelFlag* cancel) {
  uint32_t wait = ProcessRateLimiter().Reserve(bytes, os::tickCount());
  while (wait > 0) {
    if (IsCancelled(cancel)) return false;
    const uint32_t step = std::min(wait, kWaitStepMs);
    os::sleepMs(step);
    wait -= step;
  }
  return !IsCancelled(cancel);
}

int32_t EffectiveMaxKbps(int32_t builderKbps, int32_t configKbps) {
  int32_t kbps = builderKbps > 0 ? builderKbps : 0;
  if (configKbps > 0 && (kbps == 0 || configKbps < kbps)) kbps = configKbps;
  return kbps > 0 ? std::max(kbps, kMinMaxKbps) : 0;
}

}  // namespace sv
