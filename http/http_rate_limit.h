#pragma once
// The bandwidth limit: one token bucket that every connection of the process draws from (the
// update's workers, the lists, the new patcher and the news feed alike), so the player's line
// keeps the room the operator asked for whatever the number of connections.
//
// The bucket is paced after the fact: a reader reports the bytes it has just received and is told
// how long to wait before reading on. The debt it runs up makes the next reader wait too, so the
// readers together keep the rate; TCP's flow control then slows the servers down.
#include <cstdint>
#include <mutex>

#include "http/http_client.h"

namespace sv {

// Kilobytes here are 1024 bytes, as the operator's settings count them.
constexpr uint64_t kRateLimitKiB = 1024;
// The lowest limit: a reader paced more slowly waits longer per piece than servers wait for a
// reader (nginx's send_timeout is 60 s), and the connections would be cut instead of slowed.
constexpr int32_t kMinMaxKbps = 16;

class RateLimiter {
 public:
  // bytesPerSecond 0: no limit. A new rate starts at `nowMs` with a full bucket.
  void SetRate(uint64_t bytesPerSecond, uint32_t nowMs);
  uint64_t Rate() const;

  // Takes `bytes` just received at `nowMs` (a millisecond tick that may wrap) and returns how many
  // milliseconds the reader must wait before it reads on (0 when the bucket covered them).
  uint32_t Reserve(uint64_t bytes, uint32_t nowMs);

 private:
  mutable std::mutex lock_;
  uint64_t rate_ = 0;     // bytes per second; 0 = no limit
  double tokens_ = 0;     // bytes that may still be read at once; negative is debt
  uint32_t lastMs_ = 0;
};

// The one limiter of this process.
RateLimiter& ProcessRateLimiter();

// Waits as ProcessRateLimiter asks after `bytes` were received, in short steps so that a set
// cancel flag ends the wait at once; false when cancelled.
bool PaceReceived(uint64_t bytes, const CancelFlag* cancel);

// The limit of a run in KiB/s (0: none): the builder's value, which the configuration may lower
// but never raise; a value of 0 or less on either side sets nothing; a limit below kMinMaxKbps
// is taken as kMinMaxKbps.
int32_t EffectiveMaxKbps(int32_t builderKbps, int32_t configKbps);

}  // namespace sv
