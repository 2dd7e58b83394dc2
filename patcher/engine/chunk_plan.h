#pragma once
// Which chunks of a file's new version the player already holds and which must be fetched: the
// local files offered as seeds are cut with the release's rules, each chunk the index needs is
// taken from the first seed that has it, and the rest become byte ranges of the packs, one
// request for neighbouring chunks.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "release/chunk_index.h"

namespace sv {

struct DigestHash {
  size_t operator()(const Sha256Digest& d) const {
    size_t h = 0;
    for (size_t i = 0; i < sizeof h; ++i) h = h << 8 | d[i];
    return h;
  }
};

struct SeedChunk {
  uint32_t seed = 0;    // which local file
  uint64_t offset = 0;  // where the chunk starts in it
};

// Collects, from the chunks of the local files, those the index needs.
class SeedMatcher {
 public:
  explicit SeedMatcher(const ChunkIndex& index);
  // True when the chunk is one the index needs and no seed offered it before.
  bool Offer(uint32_t seed, const Sha256Digest& digest, uint64_t offset);
  const std::unordered_map<Sha256Digest, SeedChunk, DigestHash>& held() const { return held_; }

 private:
  std::unordered_map<Sha256Digest, bool, DigestHash> needed_;
  std::unordered_map<Sha256Digest, SeedChunk, DigestHash> held_;
};

// A chunk to fetch, once, for every place in the file it fills.
struct MissingChunk {
  uint32_t chunk = 0;                 // its first position in the index
  std::vector<uint64_t> fileOffsets;  // every place it goes
};

struct PackRange {
  uint32_t pack = 0;
  uint64_t first = 0, end = 0;   // bytes of the pack, end exclusive
  std::vector<uint32_t> missing; // into ChunkPlan::missing, in pack order
};

struct ChunkPlan {
  std::vector<SeedChunk> copies;        // per index chunk held locally: where from...
  std::vector<uint64_t> copyOffsets;    // ...and where it goes in the new file
  std::vector<uint32_t> copyChunks;     // ...and which index chunk it is
  std::vector<MissingChunk> missing;
  std::vector<PackRange> ranges;
  uint64_t reusedBytes = 0;   // of the new file, taken from local files
  uint64_t fetchBytes = 0;    // stored bytes the ranges carry
};

// Ranges never grow past `maxRange` bytes, so several connections share a large gap.
ChunkPlan PlanChunks(const ChunkIndex& index,
                     const std::unordered_map<Sha256Digest, SeedChunk, DigestHash>& held,
                     uint64_t maxRange);

}  // namespace sv
