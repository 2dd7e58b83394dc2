#include "patcher/engine/chunk_plan.h"

#include <algorithm>

namespace sv {

SeedMatcher::SeedMatcher(const ChunkIndex& index) {
  for (const ChunkRef& c : index.chunks) needed_.emplace(c.digest, true);
}

bool SeedMatcher::Offer(uint32_t seed, const Sha256Digest& digest, uint64_t offset) {
  if (!needed_.count(digest)) return false;
  return held_.try_emplace(digest, SeedChunk{seed, offset}).second;
}

ChunkPlan PlanChunks(const ChunkIndex& index,
                     const std::unordered_map<Sha256Digest, SeedChunk, DigestHash>& held,
                     uint64_t maxRange) {
  ChunkPlan plan;
  std::unordered_map<Sha256Digest, uint32_t, DigestHash> missingByDigest;
  uint64_t at = 0;
  for (uint32_t i = 0; i < index.chunks.size(); ++i) {
    const ChunkRef& c = index.chunks[i];
    if (auto h = held.find(c.digest); h != held.end()) {
      plan.copies.push_back(h->second);
      plan.copyOffsets.push_back(at);
      plan.copyChunks.push_back(i);
      plan.reusedBytes += c.size;
    } else {
      auto [slot, added] = missingByDigest.try_emplace(c.digest, uint32_t(plan.missing.size()));
      if (added) plan.missing.push_back({i, {}});
      plan.missing[slot->second].fileOffsets.push_back(at);
    }
    at += c.size;
  }
  std::vector<uint32_t> order(plan.missing.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  auto where = [&](uint32_t m) { return index.chunks[plan.missing[m].chunk]; };
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const ChunkRef &x = where(a), &y = where(b);
    return x.pack != y.pack ? x.pack < y.pack : x.offset < y.offset;
  });
  for (uint32_t m : order) {
    const ChunkRef& c = where(m);
    plan.fetchBytes += c.storedSize;
    PackRange* last = plan.ranges.empty() ? nullptr : &plan.ranges.back();
    if (last && last->pack == c.pack && last->end == c.offset &&
        c.offset + c.storedSize - last->first <= maxRange) {
      last->end += c.storedSize;
      last->missing.push_back(m);
    } else {
      plan.ranges.push_back({c.pack, c.offset, c.offset + c.storedSize, {m}});
    }
  }
  return plan;
}

}  // namespace sv
