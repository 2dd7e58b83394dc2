#include "publisher/lzo_tree_finder.h"

#include <algorithm>

#include "publisher/lzo_match_util.h"

namespace sv {

namespace {

// One ring slot per position that can still be matched.
constexpr uint32_t kRing = kLzoMaxDistance + 1;
constexpr int kHash3Bits = 16;
// A 2-byte match only has a form right after 1 to 3 literals, reaching back 1024 bytes.
constexpr uint32_t kMaxDistance2 = 1024;

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  return (v * 2654435761u) >> (32 - kHash3Bits);
}

}  // namespace

LzoTreeFinder::LzoTreeFinder(uint32_t depth, uint32_t nice)
    : depth_(depth),
      nice_(nice),
      head2_(65536, 0),
      head3_(size_t(1) << kHash3Bits, 0),
      son_(size_t(2) * kRing, 0) {}

size_t LzoTreeFinder::Find(const LzoWindow& w, uint64_t avail, LzoMatch* matches) {
  return Insert(w, avail, matches);
}

size_t LzoTreeFinder::Insert(const LzoWindow& w, uint64_t avail, LzoMatch* matches) {
  const uint64_t pos = next_++;
  const uint32_t slot = cyclic_;
  if (++cyclic_ == kRing) cyclic_ = 0;
  uint32_t* const pair0 = &son_[size_t(2) * slot];
  if (avail < 3) {
    pair0[0] = pair0[1] = 0;
    return 0;
  }
  const uint8_t* cur = w.data + (pos - w.base);
  const uint32_t self = uint32_t(pos + 1);
  size_t count = 0;
  uint32_t best = 1;

  uint32_t& h2 = head2_[uint32_t(cur[0]) | uint32_t(cur[1]) << 8];
  if (h2 != 0 && self - h2 <= kMaxDistance2) {
    best = 2;
    if (matches) matches[count++] = {2, self - h2};
  }
  h2 = self;

  uint32_t& root = head3_[Hash3(cur)];
  uint32_t candidate = root;
  root = self;

  const uint32_t lenLimit = uint32_t(std::min<uint64_t>(avail, nice_));
  const uint8_t* const curLimit = cur + lenLimit;
  uint32_t* smaller = &pair0[0];
  uint32_t* larger = &pair0[1];
  uint32_t lenSmaller = 0;
  uint32_t lenLarger = 0;
  for (uint32_t left = depth_;; --left) {
    uint32_t dist = self - candidate;
    if (candidate == 0 || dist > kLzoMaxDistance || left == 0) {
      *smaller = *larger = 0;
      break;
    }
    uint32_t* pair = &son_[size_t(2) * (slot >= dist ? slot - dist : slot + kRing - dist)];
    const uint8_t* pb = cur - dist;
    uint32_t len = std::min(lenSmaller, lenLarger);
    if (pb[len] == cur[len]) {
      len += 1 + uint32_t(CommonLength(cur + len + 1, pb + len + 1, curLimit));
      if (len > best) {
        best = len;
        if (matches) matches[count++] = {len, dist};
        if (len >= lenLimit) {
          // The new position replaces this equal one in the tree.
          *smaller = pair[0];
          *larger = pair[1];
          break;
        }
      }
    }
    if (pb[len] < cur[len]) {
      *smaller = candidate;
      smaller = &pair[1];
      candidate = *smaller;
      lenSmaller = len;
    } else {
      *larger = candidate;
      larger = &pair[0];
      candidate = *larger;
      lenLarger = len;
    }
  }
  return count;
}

}  // namespace sv
