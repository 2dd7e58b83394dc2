#pragma once
// A large input cut into blocks that are compressed on their own, on any thread, and stitched
// in order into one LZO1X stream that every LZO1X decoder reads. The block size is fixed, so the
// stream is the same however many threads made it.
//
// Two literal runs never follow each other in a stream: each block is written without its first
// and last literal runs, and the stitcher writes the last run of one block and the first run of
// the next as one run. A block's matches reach into the data before it, which the decoder has
// already written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "publisher/lzo_compress.h"
#include "publisher/lzo_output.h"

namespace sv {

constexpr uint64_t kLzoBlockSize = 4 * 1024 * 1024;
// Inputs up to this size are compressed as a whole, as before blocks existed.
constexpr uint64_t kLzoBlocksFrom = 2 * kLzoBlockSize;

inline bool UsesLzoBlocks(uint64_t size) { return size > kLzoBlocksFrom; }
inline size_t LzoBlockCount(uint64_t size, uint64_t blockSize = kLzoBlockSize) {
  return size_t((size + blockSize - 1) / blockSize);
}

struct LzoBlock {
  bool ok = false;
  bool hasMatch = false;
  uint64_t lead = 0;          // literals before its first match
  uint64_t tail = 0;          // literals after its last match (the whole block without a match)
  std::vector<uint8_t> body;  // its first match to its last; the last one's literal bits clear
  uint32_t crc = 0;           // of the block's input bytes
};

// Compresses block `index` (of `blockSize` bytes; kLzoBlockSize in ".lz" files) of the `size`
// bytes of `input`, reading the block and the history before it into `scratch`.
void CompressLzoBlock(LzoInput& input, uint64_t size, uint64_t blockSize, size_t index, int level,
                      LzoBlock& block, std::vector<uint8_t>& scratch);
// The whole stream of a buffer made block by block on this thread (for tests and comparisons):
// the bare LZO1X stream, as LzoCompressRaw writes it; empty on failure.
std::vector<uint8_t> LzoCompressInBlocks(const void* data, size_t size, int level,
                                         uint64_t blockSize);

// Writes blocks, given in order, as one stream (without the length header) into `out`; the
// merged literal runs are read back from `input`.
class LzoBlockJoiner {
 public:
  LzoBlockJoiner(LzoInput& input, LzWriter& out) : input_(&input), out_(out) {}
  void Add(const LzoBlock& block, uint64_t blockSize);
  // The last literals and the end-of-stream instruction; false when a write or read failed.
  bool Finish();
  uint64_t written() const { return out_.written(); }
  uint32_t crc() const { return crc_; }
  const std::wstring& error() const { return out_.error(); }

 private:
  LzoInput* input_;
  LzoOutput out_;
  uint64_t position_ = 0;       // input bytes covered by the blocks added
  uint64_t pendingStart_ = 0;   // the literal run not yet written
  uint64_t pendingCount_ = 0;
  uint32_t crc_ = 0;
};

}  // namespace sv
