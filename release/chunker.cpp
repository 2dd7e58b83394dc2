#include "release/chunker.h"

#include <array>
#include <cstring>
#include <vector>

namespace sv {

namespace {

// 256 fixed pseudo-random words (splitmix64 from a fixed seed): changing one changes every cut.
constexpr std::array<uint64_t, 256> MakeGear() {
  std::array<uint64_t, 256> gear{};
  uint64_t state = 0x53617276696B4344ull;
  for (uint64_t& g : gear) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    g = z ^ (z >> 31);
  }
  return gear;
}
constexpr std::array<uint64_t, 256> kGear = MakeGear();

// The shifted hash carries its widest window in the top bits. Below the average size a cut
// needs two more zero bits than at it, above it two fewer: chunk sizes bunch around the average
// (normalisation level 2).
constexpr uint64_t kMaskHard = 0xFFFF000000000000ull;  // 16 bits: 2^14 * 4
constexpr uint64_t kMaskEasy = 0xFFF0000000000000ull;  // 12 bits: 2^14 / 4

}  // namespace

size_t ChunkLength(const uint8_t* data, size_t size) {
  if (size <= kChunkMinSize) return size;
  const size_t end = size < kChunkMaxSize ? size : kChunkMaxSize;
  const size_t normal = end < kChunkAverageSize ? end : kChunkAverageSize;
  uint64_t hash = 0;
  size_t i = kChunkMinSize;
  for (; i < normal; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & kMaskHard) == 0) return i + 1;
  }
  for (; i < end; ++i) {
    hash = (hash << 1) + kGear[data[i]];
    if ((hash & kMaskEasy) == 0) return i + 1;
  }
  return end;
}

bool ChunkStream(const ChunkRead& read, const ChunkVisit& visit) {
  // Room for many chunks per refill, so the move of the unread tail stays cheap.
  constexpr size_t kBuffer = size_t(kChunkMaxSize) * 16;
  std::vector<uint8_t> buffer(kBuffer);
  size_t start = 0, filled = 0;
  uint64_t offset = 0;
  bool ended = false;
  for (;;) {
    if (!ended && filled - start < kChunkMaxSize) {
      std::memmove(buffer.data(), buffer.data() + start, filled - start);
      filled -= start;
      start = 0;
      while (!ended && filled < kBuffer) {
        const long long got = read(buffer.data() + filled, kBuffer - filled);
        if (got < 0) return false;
        if (got == 0) ended = true;
        filled += size_t(got);
      }
    }
    if (start == filled) return true;
    const size_t length = ChunkLength(buffer.data() + start, filled - start);
    if (!visit(buffer.data() + start, length, offset)) return false;
    start += length;
    offset += length;
  }
}

}  // namespace sv
