// Level 1: one hash probe per position on four bytes, the same shape as the classic fast LZO1X
// compressors, with a table that spans block boundaries and backward extension of the matches
// found after sparse probes (which finds a repeat again after incompressible data). No extra table
// entry follows a match: it bought 0.5% of size for 4% of speed, and this level is chosen for speed.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "publisher/lzo_match_util.h"
#include "publisher/lzo_matchers.h"

namespace sv {

namespace {

// 4096 entries: with 8192 the output was 1.1% smaller and the level 2% slower.
constexpr int kHashBits = 12;
constexpr size_t kTableSize = size_t(1) << kHashBits;
// Bytes at the end of the input that never start a match: a 4-byte probe must fit, a run of up
// to 16 literals before a match is copied as 16 bytes, and the search step (up to kMaxStep) may
// overshoot the last position searched.
constexpr size_t kTail = 96;
// Searches thin out along a run of literals, but not so far that compressible data after a long
// incompressible stretch is skipped.
constexpr size_t kMaxStep = 64;

// Table entries are 16-bit offsets from a base position that trails the cursor, so a probe
// finds its candidate with one add and needs no distance check. Once the cursor is kRebaseAt past
// the base, the base moves up to kRebasedHistory behind it and every entry drops by as much,
// stopping at 0 (the base itself, a readable position whose distance the match path checks).
// Entries further back than kRebasedHistory are lost then; keeping the whole distance instead
// would rebase twice as often for no measurable gain in size.
constexpr uint64_t kRebaseAt = 65536 - 64;
constexpr uint64_t kRebasedHistory = 32768;
static_assert(kRebaseAt > kRebasedHistory && kRebaseAt <= 65536);
constexpr size_t kLongestMatch = 16384;
// The growing step reaches kMaxStep after this many literals; from there it stays.
constexpr size_t kGrowingStepRun = (kMaxStep - 1) << 5;

inline uint32_t Hash4(uint32_t v) { return (v * 2654435761u) >> (32 - kHashBits); }

// One probe at ip: takes the table's candidate for the four bytes there into m, then names ip in
// its place. The distance test runs once per candidate, not per probe: entries that dropped to
// the base can lie further back than a match may reach.
[[gnu::always_inline]] inline bool Probe(uint16_t* table, const uint8_t* base, const uint8_t* ip,
                                         const uint8_t*& m) {
  const uint32_t seq = Load32(ip);
  uint16_t* const slot = &table[Hash4(seq)];
  m = base + *slot;
  *slot = uint16_t(ip - base);
  return Load32(m) == seq && size_t(ip - m) - 1 < kLzoMaxDistance;
}

class FastMatcher : public LzoMatcher {
 public:
  FastMatcher() : table_(kTableSize, 0) {}
  void Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) override;
  void StartAt(const LzoWindow& w, uint64_t pos) override;

 private:
  void Rebase(uint64_t pos);

  // The last position seen per hash, as an offset from base_: small enough to stay in the
  // first-level cache. A stale entry only names some other earlier position, whose bytes are
  // compared anyway.
  std::vector<uint16_t> table_;
  uint64_t base_ = 0;
  uint64_t nextRebase_ = kRebaseAt;
};

void FastMatcher::Rebase(uint64_t pos) {
  const uint64_t newBase = pos - kRebasedHistory;  // pos >= kRebaseAt
  const uint64_t shift = newBase - base_;
  const uint16_t drop = uint16_t(shift > 65535 ? 65535 : shift);
  // A saturating subtraction over a constant count: it vectorises.
  uint16_t* const table = table_.data();
  for (size_t i = 0; i < kTableSize; ++i) {
    table[i] = uint16_t(table[i] > drop ? table[i] - drop : 0);
  }
  base_ = newBase;
  nextRebase_ = base_ + kRebaseAt;
}

void FastMatcher::StartAt(const LzoWindow& w, uint64_t pos) {
  // The history is at most kLzoMaxDistance long, so its offsets from its start fit in 16 bits.
  base_ = w.base;
  nextRebase_ = base_ + kRebaseAt;
  for (uint64_t p = w.base; p + 4 <= pos && p + 4 <= w.base + w.size; ++p) {
    table_[Hash4(Load32(w.data + (p - w.base)))] = uint16_t(p - w.base);
  }
  anchor = cursor = pos;
}

void FastMatcher::Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) {
  const uint8_t* const data = w.data;
  const uint8_t* const dataEnd = data + w.size;
  // Never before the cursor: a short last block after history starts within the tail.
  const uint8_t* const stop = std::max(
      data + (last ? (w.size > kTail ? w.size - kTail : 0) : size_t(end - w.base)),
      data + (cursor - w.base));
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

  // Position 0 has nothing before it; the untouched table entries name the base, position 0,
  // until the first rebase.
  if (cursor == 0 && ip < stop) ++ip;

  for (;;) {
    const uint64_t ipPos = w.base + uint64_t(ip - data);
    if (ipPos >= nextRebase_) Rebase(ipPos);
    // After the rebase the cursor is less than kRebaseAt past the base, and the window keeps
    // 64 KiB behind the cursor: the base lies inside it.
    const uint8_t* const base = data + (base_ - w.base);
    const uint8_t* const segmentStop =
        nextRebase_ - ipPos < uint64_t(stop - ip) ? ip + (nextRebase_ - ipPos) : stop;
    const uint8_t* m = nullptr;
    while (ip < segmentStop) {
      // Probes at step 1 while fewer than 32 literals are pending, then with a step that grows
      // along the run of literals up to where it reaches kMaxStep, then at that step: three
      // loops, so that none computes its step's bound per probe. The match path is laid out as
      // the straight one, as in the classic compressors.
      const uint8_t* const growingStop =
          size_t(segmentStop - lit) > kGrowingStepRun ? lit + kGrowingStepRun : segmentStop;
      const uint8_t* const denseStop = size_t(growingStop - lit) > 32 ? lit + 32 : growingStop;
      while (ip < denseStop) {
        if (Probe(table, base, ip, m)) [[likely]] goto found;
        ++ip;
      }
      for (;;) {
        if (ip >= growingStop) [[unlikely]] {
          for (;;) {
            if (ip >= segmentStop) goto segmentDone;
            if (Probe(table, base, ip, m)) goto found;
            ip += kMaxStep;
          }
        }
        if (Probe(table, base, ip, m)) [[likely]] break;
        ip += 1 + (size_t(ip - lit) >> 5);
      }
    found : {
        const uint32_t dist = uint32_t(ip - m);
        // Only after sparse probes: while the step is 1, the position before was probed too.
        if (size_t(ip - lit) >= 32) {
          while (ip > lit && m > data && ip[-1] == m[-1]) {
            --ip;
            --m;
          }
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
      }
    }
  segmentDone:
    if (ip >= stop) break;
  }
  out.DirectCommit(op);
  anchor = w.base + uint64_t(lit - data) - literalsBefore;
  cursor = w.base + uint64_t(ip - data);
}

}  // namespace

std::unique_ptr<LzoMatcher> MakeFastLzoMatcher() { return std::make_unique<FastMatcher>(); }

}  // namespace sv
