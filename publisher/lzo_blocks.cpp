#include "publisher/lzo_blocks.h"

#include <algorithm>

#include "common/crc32.h"
#include "publisher/lzo_matchers.h"

namespace sv {

void CompressLzoBlock(LzoInput& input, uint64_t size, uint64_t blockSize, size_t index, int level,
                      LzoBlock& block, std::vector<uint8_t>& scratch) {
  block.ok = false;
  const uint64_t start = uint64_t(index) * blockSize;
  const uint64_t end = std::min(size, start + blockSize);
  // As far back as a match can reach: the decoder has written those bytes already.
  const uint64_t from = start - std::min<uint64_t>(start, kLzoMaxDistance);
  const size_t n = size_t(end - from);
  const size_t history = size_t(start - from);
  if (scratch.size() < n) scratch.resize(n);
  if (!input.ReadAt(from, scratch.data(), n)) return;
  block.crc = Crc32(scratch.data() + history, n - history);

  block.body.resize(LzoOutput::MemoryBound(n - history));
  LzoOutput out(block.body.data(), block.body.size());
  out.StartBlock();
  MemoryInput local(scratch.data(), n);
  const LzoWindow w{scratch.data(), 0, n, &local};
  std::unique_ptr<LzoMatcher> matcher = MakeLzoMatcher(level);
  matcher->StartAt(w, history);
  matcher->Run(w, n, true, out);
  out.Finish(w, matcher->anchor, n - matcher->anchor);
  if (out.failed()) return;
  block.body.resize(size_t(out.written()));
  block.hasMatch = out.blockHasMatch();
  block.lead = out.leadLiterals();
  block.tail = out.tailLiterals();
  block.ok = true;
}

void LzoBlockJoiner::Add(const LzoBlock& block, uint64_t blockSize) {
  crc_ = position_ == 0 ? block.crc : Crc32Combine(crc_, block.crc, blockSize);
  if (block.hasMatch) {
    // The pending run ends where this block starts: with the block's own first run it is one.
    out_.Literals(*input_, pendingStart_, pendingCount_ + block.lead);
    out_.Raw(block.body.data(), block.body.size());
    pendingStart_ = position_ + blockSize - block.tail;
    pendingCount_ = block.tail;
  } else {
    pendingCount_ += blockSize;
  }
  position_ += blockSize;
}

std::vector<uint8_t> LzoCompressInBlocks(const void* data, size_t size, int level,
                                         uint64_t blockSize) {
  std::vector<uint8_t> stream, scratch;
  MemoryInput input(data, size);
  MemWriter sink(&stream);
  LzoBlockJoiner joiner(input, sink);
  LzoBlock block;
  for (size_t i = 0; i < LzoBlockCount(size, blockSize); ++i) {
    CompressLzoBlock(input, size, blockSize, i, level, block, scratch);
    if (!block.ok) return {};
    joiner.Add(block, std::min<uint64_t>(blockSize, size - i * blockSize));
  }
  if (!joiner.Finish()) return {};
  return stream;
}

bool LzoBlockJoiner::Finish() {
  const LzoWindow none{nullptr, pendingStart_ + pendingCount_, 0, input_};
  out_.Finish(none, pendingStart_, pendingCount_);
  return !out_.failed();
}

}  // namespace sv
