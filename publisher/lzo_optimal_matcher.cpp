// Levels 2 to 9: the matches of every position come from a binary tree, and a forward pass
// over a stretch of input picks the cheapest chain of literal runs and matches under the exact
// byte costs of the LZO1X instruction forms (LzoCost), then writes it.
#include <algorithm>
#include <vector>

#include "publisher/lzo_matchers.h"
#include "publisher/lzo_tree_finder.h"

namespace sv {

namespace {

// Longest stretch planned at once.
constexpr uint32_t kPlanLength = 4096;
constexpr uint32_t kNoPrice = 0xFFFFFFFFu;
// Positions this close to the end cannot start a match that pays for itself.
constexpr uint64_t kTail = 3;

struct LevelParams {
  uint32_t depth;
  uint32_t nice;
  bool thorough;  // search every position, not only those a cheap path reaches
};

LevelParams ParamsFor(int level) {
  static const LevelParams kTable[] = {
      {4, 32, false},   {8, 48, false},   {12, 64, false},  {16, 96, false},
      {24, 128, false}, {48, 192, true}, {96, 256, true}, {256, 512, true},
  };
  return kTable[std::clamp(level, 2, 9) - 2];
}

struct Node {
  uint32_t price;
  uint32_t literals;  // > 0: reached by a literal run of this length; 0: by the match below
  uint32_t len;
  uint32_t dist;
};

class OptimalMatcher : public LzoMatcher {
 public:
  explicit OptimalMatcher(const LevelParams& p)
      : finder_(p.depth, p.nice),
        thorough_(p.thorough),
        matches_(p.nice + 2),
        plan_(kPlanLength + p.nice + 8),
        steps_(kPlanLength + p.nice + 8) {}
  void Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) override;

 private:
  size_t FindAt(const LzoWindow& w, uint64_t pos);
  void Reach(uint32_t pos);
  void Offer(uint32_t pos, uint32_t price, uint32_t literals, uint32_t len, uint32_t dist);
  uint32_t AddMatches(uint32_t at, size_t count);
  // What one more literal adds to a run of `count` that began at `runStart`.
  static uint32_t NextLiteralPrice(uint64_t runStart, uint64_t count) {
    return uint32_t(LzoCost::Literals(count + 1, runStart == 0) -
                    LzoCost::Literals(count, runStart == 0));
  }
  void Plan(const LzoWindow& w, uint64_t start, size_t firstCount, LzoOutput& out);

  LzoTreeFinder finder_;
  bool thorough_;
  std::vector<LzoMatch> matches_;
  std::vector<Node> plan_;
  std::vector<LzoMatch> steps_;
  uint32_t reached_ = 0;  // plan_[0 .. reached_] hold valid entries
};

size_t OptimalMatcher::FindAt(const LzoWindow& w, uint64_t pos) {
  const uint64_t windowEnd = w.base + w.size;
  while (finder_.next() < pos) finder_.Skip(w, windowEnd - finder_.next());
  return finder_.Find(w, windowEnd - pos, matches_.data());
}

void OptimalMatcher::Reach(uint32_t pos) {
  for (; reached_ < pos; ++reached_) plan_[reached_ + 1].price = kNoPrice;
}

void OptimalMatcher::Offer(uint32_t pos, uint32_t price, uint32_t literals, uint32_t len,
                           uint32_t dist) {
  Reach(pos);
  Node& n = plan_[pos];
  if (price < n.price) n = {price, literals, len, dist};
}

// Offers every length of the matches found at plan position `at`, each with the nearest distance
// that reaches it (a nearer distance never costs more). Returns the longest length.
uint32_t OptimalMatcher::AddMatches(uint32_t at, size_t count) {
  const Node from = plan_[at];
  uint32_t nearest = kNoPrice;
  for (size_t i = count; i-- > 0;) {
    nearest = std::min(nearest, matches_[i].dist);
    uint32_t shortest = i > 0 ? matches_[i - 1].len + 1 : 2;
    for (uint32_t len = matches_[i].len; len >= shortest; --len) {
      uint32_t cost = LzoCost::Match(len, nearest, from.literals);
      if (cost != 0) Offer(at + len, from.price + cost, 0, len, nearest);
    }
  }
  return count > 0 ? matches_[count - 1].len : 0;
}

// Plans the stretch that starts at `start` (where `firstCount` matches were just found), then
// writes it. Prices count bytes from the start of the stretch.
void OptimalMatcher::Plan(const LzoWindow& w, uint64_t start, size_t firstCount, LzoOutput& out) {
  const uint64_t windowEnd = w.base + w.size;
  reached_ = 0;
  uint64_t pending = start - anchor;
  plan_[0] = {0, uint32_t(pending), 0, 0};
  uint32_t last = AddMatches(0, firstCount);
  for (uint32_t cur = 0; cur < last; ++cur) {
    if (cur > 0) {
      const Node& here = plan_[cur];
      bool search = here.price != kNoPrice;
      if (search && !thorough_) {
        // A position the path can pass as cheaply by a literal is not worth a search.
        Reach(cur + 1);
        search = !(plan_[cur + 1].price <= here.price);
      }
      uint64_t pos = start + cur;
      if (search && windowEnd - pos >= kTail) {
        size_t count = FindAt(w, pos);
        if (count > 0) {
          const LzoMatch& longest = matches_[count - 1];
          if (longest.len >= finder_.nice() ||
              (cur + longest.len >= kPlanLength && longest.len >= 3)) {
            // Long enough to take as it is: the plan ends with this match.
            Reach(cur + longest.len);
            plan_[cur + longest.len] = {0, 0, longest.len, longest.dist};
            last = cur + longest.len;
            break;
          }
          if (cur + longest.len < kPlanLength) {
            last = std::max(last, cur + AddMatches(cur, count));
          }
        }
      }
    }
    // A literal step to the next position.
    const Node& here = plan_[cur];
    if (here.price != kNoPrice) {
      uint64_t runStart = start + cur - here.literals;
      Offer(cur + 1, here.price + NextLiteralPrice(runStart, here.literals), here.literals + 1, 0,
            0);
    }
  }

  // Walk back from the end of the plan, then write it forward.
  size_t stepCount = 0;
  for (uint32_t k = last; k > 0;) {
    const Node& n = plan_[k];
    if (n.literals > 0) {
      steps_[stepCount++] = {1, 0};
      k -= 1;
    } else {
      steps_[stepCount++] = {n.len, n.dist};
      k -= n.len;
    }
  }
  uint64_t pos = start;
  while (stepCount > 0) {
    const LzoMatch& s = steps_[--stepCount];
    if (s.dist != 0 && out.Sequence(w, anchor, pos - anchor, s.len, s.dist)) {
      pos += s.len;
      anchor = pos;
    } else {
      pos += s.len;  // literals, or a match without a form after these literals
    }
  }
  cursor = pos;
}

void OptimalMatcher::Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) {
  const uint64_t windowEnd = w.base + w.size;
  const uint64_t stop = last ? (windowEnd > kTail ? windowEnd - kTail : 0) : end;
  while (cursor < stop && !out.failed()) {
    size_t count = FindAt(w, cursor);
    // Only a match that can follow the pending literals starts a plan.
    if (count == 1 && LzoCost::Match(matches_[0].len, matches_[0].dist, cursor - anchor) == 0) {
      count = 0;
    }
    if (count == 0) {
      ++cursor;
      continue;
    }
    const LzoMatch& longest = matches_[count - 1];
    if (longest.len >= finder_.nice() &&
        out.Sequence(w, anchor, cursor - anchor, longest.len, longest.dist)) {
      cursor += longest.len;
      anchor = cursor;
      continue;
    }
    Plan(w, cursor, count, out);
  }
  // Keep the tree complete up to the cursor while those bytes are still in the window.
  while (finder_.next() < cursor && finder_.next() < windowEnd) {
    finder_.Skip(w, windowEnd - finder_.next());
  }
}

}  // namespace

std::unique_ptr<LzoMatcher> MakeFastLzoMatcher();

std::unique_ptr<LzoMatcher> MakeLzoMatcher(int level) {
  if (level <= kLzoFastLevel) return MakeFastLzoMatcher();
  return std::make_unique<OptimalMatcher>(ParamsFor(level));
}

}  // namespace sv
