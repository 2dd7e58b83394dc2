#pragma once
// Binary-tree match finder over the last 49151 bytes: every position is inserted into a tree of
// the positions sharing its 3-byte hash, ordered by the bytes that follow; one descent finds the
// matches of increasing length and re-roots the tree at the new position.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "publisher/lzo_output.h"

namespace sv {

struct LzoMatch {
  uint32_t len;
  uint32_t dist;
};

class LzoTreeFinder {
 public:
  // depth: tree nodes visited per search; nice: a match this long ends the search.
  LzoTreeFinder(uint32_t depth, uint32_t nice);

  uint32_t nice() const { return nice_; }
  // Positions must be inserted one after the other, each exactly once.
  uint64_t next() const { return next_; }
  // Inserts `next()` and writes its matches to `matches` (room for nice() + 1 entries), lengths
  // strictly increasing, from 2 bytes (distance up to 1024 only) to at most nice(); returns the
  // count. `avail` is the number of input bytes from that position on inside the window.
  size_t Find(const LzoWindow& w, uint64_t avail, LzoMatch* matches);
  void Skip(const LzoWindow& w, uint64_t avail) { Insert(w, avail, nullptr); }

 private:
  size_t Insert(const LzoWindow& w, uint64_t avail, LzoMatch* matches);

  uint32_t depth_;
  uint32_t nice_;
  uint64_t next_ = 0;
  uint32_t cyclic_ = 0;           // next_ modulo the tree's ring size
  std::vector<uint32_t> head2_;   // by the first two bytes: last position + 1, 0 = none
  std::vector<uint32_t> head3_;   // by hash of three bytes: tree root position + 1
  std::vector<uint32_t> son_;     // per ring slot: smaller and larger subtree (position + 1)
};

}  // namespace sv
