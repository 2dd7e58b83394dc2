#pragma once
// Writes LZO1X instructions: literal runs and matches in the shortest form the instruction set
// allows in the current context, then the end-of-stream instruction. Output is buffered and handed
// to an LzWriter in large blocks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "release/lz_stream.h"
#include "publisher/lzo_compress.h"

namespace sv {

// Largest match distance of LZO1X (the long-distance form reaches 16384 + 32767).
constexpr uint32_t kLzoMaxDistance = 49151;

// A view of the input around the position being compressed: data[0] is input byte `base`. Bytes
// before `base` are read back from `input` when a literal run reaches that far.
struct LzoWindow {
  const uint8_t* data = nullptr;
  uint64_t base = 0;
  size_t size = 0;
  LzoInput* input = nullptr;
};

// Byte costs of the instruction set, shared by the encoder and the optimal parser's cost model.
struct LzoCost {
  // Literal run of `count` bytes, header included. After a match a run of 1 to 3 rides in the
  // match's spare bits; the first run of the stream has its own one-byte form.
  static uint64_t Literals(uint64_t count, bool streamStart) {
    if (count == 0) return 0;
    if (streamStart && count <= 238) return count + 1;
    if (count <= 3) return count;
    if (count <= 18) return count + 1;
    return count + 2 + (count - 19) / 255;
  }
  // Match of `len` at `dist` preceded by `literals` literals (0 = right after a match); 0 when
  // the instruction set has no form for it.
  static uint32_t Match(uint32_t len, uint32_t dist, uint64_t literals) {
    if (len == 2) return (literals >= 1 && literals <= 3 && dist <= 1024) ? 2 : 0;
    if (len == 3 && literals >= 4 && dist >= 2049 && dist <= 3072) return 2;
    if (len <= 8 && dist <= 2048) return 2;
    if (dist <= 16384) return len <= 33 ? 3 : 4 + (len - 34) / 255;
    return len <= 9 ? 3 : 4 + (len - 10) / 255;
  }
};

// Instruction encoders on a raw output pointer; the caller makes sure there is room.
namespace lzo {

inline uint8_t* PutLength(uint8_t* op, uint64_t count) {
  for (; count > 255; count -= 255) *op++ = 0;
  *op++ = uint8_t(count);
  return op;
}

// After a match, a run of 1 to 3 literals rides in the match's spare bits (op[-2]); the first run
// of the stream has its own one-byte form up to 238.
inline uint8_t* PutLiteralHeader(uint8_t* op, uint64_t count, bool streamStart) {
  if (streamStart && count <= 238) {
    *op++ = uint8_t(17 + count);
  } else if (count <= 3) {
    op[-2] |= uint8_t(count);
  } else if (count <= 18) {
    *op++ = uint8_t(count - 3);
  } else {
    *op++ = 0;
    op = PutLength(op, count - 18);
  }
  return op;
}

// kMinLen lets a caller that never has matches shorter than 4 drop the 2-byte forms' tests.
template <uint32_t kMinLen = 2>
inline uint8_t* PutMatch(uint8_t* op, uint32_t len, uint32_t dist, uint64_t literals) {
  if (len <= 8 && dist <= 2048 && (kMinLen >= 3 || len >= 3)) {
    uint32_t d = dist - 1;
    op[0] = uint8_t(((len - 1) << 5) | ((d & 7) << 2));
    op[1] = uint8_t(d >> 3);
    return op + 2;
  }
  if (kMinLen < 4 && (len == 2 || (len == 3 && literals >= 4 && dist >= 2049 && dist <= 3072))) {
    uint32_t d = dist - (len == 2 ? 1 : 2049);
    op[0] = uint8_t((d & 3) << 2);
    op[1] = uint8_t(d >> 2);
    return op + 2;
  }
  // The two 3-byte forms: up to 16384 back, and up to 49151 back with a high distance bit.
  const bool near = dist <= 16384;
  const uint32_t d = near ? dist - 1 : dist - 16384;
  const uint32_t direct = near ? 33 : 9;
  const uint8_t code = near ? 32 : uint8_t(16 | ((d & 0x4000) >> 11));
  if (len <= direct) {
    *op++ = uint8_t(code | (len - 2));
  } else {
    *op++ = code;
    op = PutLength(op, len - direct);
  }
  op[0] = uint8_t((d & 63) << 2);
  op[1] = uint8_t((d >> 6) & 0xFF);
  return op + 2;
}

}  // namespace lzo

class LzoOutput {
 public:
  // Buffered output handed to `sink` in blocks.
  explicit LzoOutput(LzWriter& sink);
  // Output straight into caller memory of `capacity` bytes (at least MemoryBound of the input),
  // without a copy.
  LzoOutput(uint8_t* memory, size_t capacity);
  static size_t MemoryBound(size_t inputSize) { return inputSize + inputSize / 16 + 64 + kRoom; }
  // Makes this the writer of one block of a stream cut into blocks (see lzo_blocks.h): its first
  // literal run and its last are left out (leadLiterals, tailLiterals), for the stitcher to merge
  // with the neighbours' runs, and so is the end-of-stream instruction. The first match then must
  // not take a form that depends on the literals before it, since the stitcher may add some.
  void StartBlock() { block_ = blockHead_ = true; }
  bool blockHasMatch() const { return block_ && !blockHead_; }
  uint64_t leadLiterals() const { return lead_; }
  uint64_t tailLiterals() const { return tail_; }
  // For the stitcher: a literal run read from `input`, and raw instructions of a block.
  void Literals(LzoInput& input, uint64_t start, uint64_t count);
  void Raw(const uint8_t* data, size_t size);
  LzoOutput(const LzoOutput&) = delete;
  LzoOutput& operator=(const LzoOutput&) = delete;

  // The literals [litStart, litStart + litCount) followed by a match of len bytes at dist.
  // False, with nothing written, when no instruction encodes that match after that many literals
  // (a 2-byte match needs 1 to 3 literals before it and a distance up to 1024).
  inline bool Sequence(const LzoWindow& w, uint64_t litStart, uint64_t litCount, uint32_t len,
                       uint32_t dist);
  // The final literals and the end-of-stream instruction; flushes everything.
  void Finish(const LzoWindow& w, uint64_t litStart, uint64_t litCount);

  // Direct writing for the level-1 loop, which writes the common short sequences itself: while
  // its pointer stays below DirectLimit() there is room for a run of up to 16 literals and a
  // match of up to kShortMatch bytes. Valid only after the first sequence of the stream.
  uint8_t* DirectBegin() const { return op_; }
  uint8_t* DirectLimit() const { return end_ - kRoom; }
  void DirectCommit(uint8_t* op) { op_ = op; }
  bool streamStarted() const { return !streamStart_; }
  static constexpr uint32_t kShortMatch = 65536;

  bool failed() const { return !error_.empty(); }
  const std::wstring& error() const { return error_; }
  uint64_t written() const { return flushed_ + uint64_t(op_ - buf_); }

 private:
  // A sequence of at most kShortRun literals from the window and a match of at most
  // kShortMatch bytes is written in one go when this much room is left.
  static constexpr size_t kShortRun = 4096;
  static constexpr size_t kRoom = 8192;

  void Flush(size_t keep);
  uint8_t* Room(size_t bytes);
  void PutLiterals(const LzoWindow& w, uint64_t start, uint64_t count);
  bool BlockHead(uint64_t litCount, uint32_t len, uint32_t dist);
  void SequenceInPieces(const LzoWindow& w, uint64_t litStart, uint64_t litCount, uint32_t len,
                        uint32_t dist);

  LzWriter* sink_ = nullptr;
  std::unique_ptr<uint8_t[]> own_;  // not zeroed: every byte is written before it is handed on
  uint8_t* buf_;
  uint8_t* op_;
  uint8_t* end_;
  uint64_t flushed_ = 0;
  bool streamStart_ = true;
  bool block_ = false;
  bool blockHead_ = false;  // a block's writer before its first match
  uint64_t lead_ = 0;
  uint64_t tail_ = 0;
  std::wstring error_;
};

// Inlined into the match searches' loops: member state is read and written once per sequence,
// the bytes go through a local pointer.
inline bool LzoOutput::Sequence(const LzoWindow& w, uint64_t litStart, uint64_t litCount,
                                uint32_t len, uint32_t dist) {
  if (len == 2 && LzoCost::Match(len, dist, litCount) == 0) return false;
  if (blockHead_) [[unlikely]] return BlockHead(litCount, len, dist);
  uint8_t* op = op_;
  if (litStart >= w.base && litCount <= kShortRun && len <= kShortMatch &&
      size_t(end_ - op) >= kRoom) {
    if (litCount > 0) {
      const uint8_t* from = w.data + (litStart - w.base);
      op = lzo::PutLiteralHeader(op, litCount, streamStart_);
      streamStart_ = false;
      if (litCount <= 16 && w.size - size_t(from - w.data) >= 16) {
        std::memcpy(op, from, 16);  // a fixed size copies without a call
      } else {
        std::memcpy(op, from, size_t(litCount));
      }
      op += litCount;
    }
    op_ = lzo::PutMatch(op, len, dist, litCount);
  } else {
    SequenceInPieces(w, litStart, litCount, len, dist);
  }
  return true;
}

}  // namespace sv
