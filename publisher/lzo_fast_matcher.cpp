// Level 1: one hash probe per position on four bytes, the same shape as the classic fast LZO1X
// compressors, with a table that spans block boundaries and backward extension of every match
// (which finds a repeat again after the sparse probes of incompressible data). No extra table
// entry follows a match: it bought 0.5% of size for 4% of speed, and this level is chosen for speed.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "publisher/lzo_match_util.h"
#include "publisher/lzo_matchers.h"

namespace sv {

namespace {

constexpr int kHashBits = 13;
constexpr size_t kTableSize = size_t(1) << kHashBits;
// Bytes at the end of the input that never start a match: a 4-byte probe must fit, a run of up
// to 16 literals before a match is copied as 16 bytes, and the search step (up to kMaxStep) may
// overshoot the last position searched.
constexpr size_t kTail = 96;
// Searches thin out along a run of literals, but not so far that compressible data after a long
// incompressible stretch is skipped.
constexpr size_t kMaxStep = 64;

// Every kAgePeriod positions, table entries older than kMaxAge are pointed at the position just
// before, so that a probe never meets an entry further back than the largest distance and the
// search loop needs no distance check. The ageing reads ages modulo 65536, so no entry may grow
// older than that between two ageings: kMaxAge + kAgePeriod + the longest match < 65536.
constexpr uint32_t kAgePeriod = 24576;
constexpr uint32_t kMaxAge = kLzoMaxDistance - kAgePeriod;
constexpr size_t kLongestMatch = 16384;
static_assert(kMaxAge + kAgePeriod + kLongestMatch < 65536);

inline uint32_t Hash4(uint32_t v) { return (v * 2654435761u) >> (32 - kHashBits); }

class FastMatcher : public LzoMatcher {
 public:
  FastMatcher() : table_(kTableSize, 0) {}
  void Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) override;
  void StartAt(const LzoWindow& w, uint64_t pos) override;

 private:
  void Age(uint64_t pos);

  // Low 16 bits of the last position seen per hash: small enough to stay in the first-level
  // cache. A stale entry only names some other earlier position, whose bytes are compared anyway.
  std::vector<uint16_t> table_;
  uint64_t nextAge_ = kAgePeriod;
};

void FastMatcher::Age(uint64_t pos) {
  const uint16_t now = uint16_t(pos);
  const uint16_t previous = uint16_t(pos - 1);
  // Without a branch and with a constant count, so that it vectorises: with a branch each entry
  // of random data costs a misprediction.
  uint16_t* const table = table_.data();
  for (size_t i = 0; i < kTableSize; ++i) {
    uint16_t old = uint16_t(0u - uint16_t(uint16_t(now - table[i]) > kMaxAge));
    table[i] = uint16_t((table[i] & ~old) | (previous & old));
  }
  nextAge_ = pos + kAgePeriod;
}

void FastMatcher::StartAt(const LzoWindow& w, uint64_t pos) {
  const uint16_t base16 = uint16_t(w.base);
  for (uint64_t p = w.base; p + 4 <= pos && p + 4 <= w.base + w.size; ++p) {
    table_[Hash4(Load32(w.data + (p - w.base)))] = uint16_t(base16 + uint16_t(p - w.base));
  }
  // Aged at once, so that no entry of the history is further back than the ageing allows.
  nextAge_ = pos;
  anchor = cursor = pos;
}

void FastMatcher::Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) {
  const uint8_t* const data = w.data;
  const uint8_t* const dataEnd = data + w.size;
  // Never before the cursor: a short last block after history starts within the tail.
  const uint8_t* const stop = std::max(
      data + (last ? (w.size > kTail ? w.size - kTail : 0) : size_t(end - w.base)),
      data + (cursor - w.base));
  // Input positions modulo 65536, as the table keeps them.
  const uint16_t base16 = uint16_t(w.base);
  const uintptr_t origin = uintptr_t(data) - base16;
  uint16_t* const table = table_.data();
  const uint8_t* ip = data + (cursor - w.base);
  // Start of the pending literals; when they began before the window, the search step starts
  // over from the window's start, and `literalsBefore` counts the rest.
  const uint8_t* lit = data;
  uint64_t literalsBefore = w.base - anchor;
  if (anchor >= w.base) {
    lit = data + (anchor - w.base);
    literalsBefore = 0;
  }
  // Short sequences are written here through op while it stays below opLimit; the first
  // sequence of the stream and those with earlier literals go through LzoOutput::Sequence.
  uint8_t* op = out.DirectBegin();
  uint8_t* opLimit = out.streamStarted() && literalsBefore == 0 ? out.DirectLimit() : op;

  // Position 0 has nothing before it; the untouched table entries name position 0 until the
  // first ageing, which is a valid distance for every later position.
  if (cursor == 0 && ip < stop) ++ip;

  for (;;) {
    const uint64_t ipPos = w.base + uint64_t(ip - data);
    if (ipPos >= nextAge_) Age(ipPos);
    const uint8_t* const segmentStop =
        nextAge_ - ipPos < uint64_t(stop - ip) ? ip + (nextAge_ - ipPos) : stop;
    while (ip < segmentStop) {
      uint32_t seq = Load32(ip);
      uint32_t h = Hash4(seq);
      uint16_t pos = uint16_t(uintptr_t(ip) - origin);
      // At most the distance to the position the entry was written at (or, for one never
      // written, to the start of the input), so ip - dist stays inside the window even for a
      // stale entry; the ageing keeps it between 1 and kLzoMaxDistance.
      uint32_t dist = uint16_t(pos - table[h]);
      table[h] = pos;
      // The distance test here runs once per match, not per probe: a guard should the ageing
      // ever let a stale entry through, which would otherwise write a broken stream. The match
      // path is laid out as the straight one, as in the classic compressors.
      if (Load32(ip - dist) == seq && dist - 1 < kLzoMaxDistance) [[likely]] {
        const uint8_t* m = ip - dist;
        while (ip > lit && m > data && ip[-1] == m[-1]) {
          --ip;
          --m;
        }
        // Most matches end within the next 8 bytes, which are always readable (kTail).
        size_t len = 4;
        {
          uint64_t a, b;
          std::memcpy(&a, ip + 4, 8);
          std::memcpy(&b, m + 4, 8);
          if (uint64_t diff = a ^ b; diff != 0 && std::endian::native == std::endian::little) {
            len += size_t(std::countr_zero(diff) >> 3);
          } else {
            size_t room = std::min<size_t>(size_t(dataEnd - ip), kLongestMatch) - 4;
            len += CommonLength(ip + 4, m + 4, ip + 4 + room);
          }
        }
        size_t t = size_t(ip - lit);
        if ((t <= 16) & (op < opLimit)) {
          // The common case, written here as tightly as possible; the source has 16 readable
          // bytes (kTail) and the output has room (DirectLimit).
          if (t <= 3) {
            op[-2] |= uint8_t(t);  // the spare bits of the match before
          } else {
            *op++ = uint8_t(t - 3);
          }
          std::memcpy(op, lit, 16);
          op = lzo::PutMatch<4>(op + t, uint32_t(len), dist, t);
        } else {
          out.DirectCommit(op);
          uint64_t litStart = w.base + uint64_t(lit - data) - literalsBefore;
          out.Sequence(w, litStart, w.base + uint64_t(ip - data) - litStart, uint32_t(len), dist);
          literalsBefore = 0;
          op = out.DirectBegin();
          opLimit = out.DirectLimit();
        }
        ip += len;
        lit = ip;
        continue;
      }
      ip += 1 + std::min<size_t>(size_t(ip - lit) >> 5, kMaxStep - 1);
    }
    if (ip >= stop) break;
  }
  out.DirectCommit(op);
  anchor = w.base + uint64_t(lit - data) - literalsBefore;
  cursor = w.base + uint64_t(ip - data);
}

}  // namespace

std::unique_ptr<LzoMatcher> MakeFastLzoMatcher() { return std::make_unique<FastMatcher>(); }

}  // namespace sv
