#include "publisher/lzo_output.h"

#include <algorithm>

namespace sv {

namespace {
// Small enough for the allocator to reuse heap memory from file to file.
constexpr size_t kBlock = 64 * 1024;
}  // namespace

LzoOutput::LzoOutput(LzWriter& sink) : sink_(&sink), own_(new uint8_t[kBlock + kRoom]) {
  buf_ = op_ = own_.get();
  end_ = buf_ + kBlock + kRoom;
}

LzoOutput::LzoOutput(uint8_t* memory, size_t capacity)
    : buf_(memory), op_(memory), end_(memory + capacity) {}

// Keeps the last `keep` bytes: a literal run of 1 to 3 after a match is recorded in the match's
// second-to-last byte, which must still be in the buffer.
void LzoOutput::Flush(size_t keep) {
  size_t used = size_t(op_ - buf_);
  keep = std::min(keep, used);
  size_t out = used - keep;
  if (!sink_) {
    // Memory output is sized for the worst case, so this means the bound is wrong: fail, and
    // let the rest of the stream fall into scratch space rather than past the caller's memory.
    error_ = L"LZ cikti alani yetmedi.";
    own_.reset(new uint8_t[kBlock + kRoom]);
    buf_ = own_.get();
    op_ = buf_ + 2;
    end_ = buf_ + kBlock + kRoom;
    return;
  }
  if (out > 0 && !failed()) {
    if (!sink_->Write(buf_, out)) error_ = L"Dosya yazilamadi (disk dolu ya da izin yok).";
  }
  std::memmove(buf_, buf_ + out, keep);
  op_ = buf_ + keep;
  flushed_ += out;
}

// Room for `bytes` (at most kRoom) at the returned pointer.
uint8_t* LzoOutput::Room(size_t bytes) {
  if (size_t(end_ - op_) < bytes) Flush(2);
  return op_;
}

// A run that may be long or begin before the window: header, then the bytes in pieces.
void LzoOutput::PutLiterals(const LzoWindow& w, uint64_t start, uint64_t count) {
  uint8_t* op = Room(3);
  if (count > 18 && !(streamStart_ && count <= 238)) {
    *op++ = 0;
    uint64_t rest = count - 18;
    for (; rest > 255; rest -= 255) {
      op_ = op;
      op = Room(1);
      *op++ = 0;
    }
    *op++ = uint8_t(rest);
  } else {
    op = lzo::PutLiteralHeader(op, count, streamStart_);
  }
  op_ = op;
  streamStart_ = false;
  while (count > 0) {
    op = Room(kRoom);
    size_t n = size_t(std::min<uint64_t>(count, size_t(end_ - op)));
    if (start < w.base) {
      n = size_t(std::min<uint64_t>(n, w.base - start));
      if (!failed() && !w.input->ReadAt(start, op, n)) error_ = L"Kaynak dosya okunamadi.";
    } else {
      std::memcpy(op, w.data + (start - w.base), n);
    }
    op_ = op + n;
    start += n;
    count -= n;
  }
}

void LzoOutput::SequenceInPieces(const LzoWindow& w, uint64_t litStart, uint64_t litCount,
                                 uint32_t len, uint32_t dist) {
  if (litCount > 0) PutLiterals(w, litStart, litCount);
  if (len <= kShortMatch) {
    op_ = lzo::PutMatch(Room(kRoom), len, dist, litCount);
    return;
  }
  // A very long match: the length bytes may not fit the buffer at once. Its code byte has no
  // spare bits, so writing it apart from the rest is safe.
  const bool near = dist <= 16384;
  const uint32_t d = near ? dist - 1 : dist - 16384;
  uint8_t* op = Room(3);
  *op++ = near ? 32 : uint8_t(16 | ((d & 0x4000) >> 11));
  for (uint64_t count = len - (near ? 33 : 9); count > 0;) {
    op_ = op;
    op = Room(kRoom);
    uint64_t part = std::min<uint64_t>(count, 255 * 4096);
    count -= part;
    if (count > 0) {
      std::memset(op, 0, size_t(part / 255));  // part is a multiple of 255: zero bytes only
      op += part / 255;
    } else {
      op = lzo::PutLength(op, part);
    }
  }
  op[0] = uint8_t((d & 63) << 2);
  op[1] = uint8_t((d >> 6) & 0xFF);
  op_ = op + 2;
}

// The leading literals are left to the stitcher. A 2-byte match of length 2 means that only
// after 1 to 3 literals, so it is refused; every other form reads the same after any run at
// least as long as this block's own (the 2-byte length-3 form needs 4 or more, and has them).
bool LzoOutput::BlockHead(uint64_t litCount, uint32_t len, uint32_t dist) {
  if (len == 2) return false;
  lead_ = litCount;
  blockHead_ = false;
  streamStart_ = false;
  op_ = lzo::PutMatch(Room(kRoom), len, dist, litCount);
  return true;
}

void LzoOutput::Literals(LzoInput& input, uint64_t start, uint64_t count) {
  if (count == 0) return;
  // A window that holds nothing: every byte is read from `input`.
  LzoWindow w{nullptr, start + count, 0, &input};
  PutLiterals(w, start, count);
}

void LzoOutput::Raw(const uint8_t* data, size_t size) {
  if (size > 0) streamStart_ = false;
  while (size > 0) {
    uint8_t* op = Room(kRoom);
    size_t n = std::min(size, size_t(end_ - op));
    std::memcpy(op, data, n);
    op_ = op + n;
    data += n;
    size -= n;
  }
}

void LzoOutput::Finish(const LzoWindow& w, uint64_t litStart, uint64_t litCount) {
  if (block_) {
    tail_ = litCount;
    if (sink_) Flush(0);
    return;
  }
  if (litCount > 0) PutLiterals(w, litStart, litCount);
  uint8_t* op = Room(3);
  op[0] = 0x11;
  op[1] = 0;
  op[2] = 0;
  op_ = op + 3;
  if (sink_) Flush(0);
}

}  // namespace sv
