#include "publisher/lzo_compress.h"

#include <algorithm>
#include <cstring>

#include "common/crc32.h"
#include "publisher/lzo_matchers.h"
#include "publisher/lzo_output.h"

namespace sv {

namespace {

// The window keeps this much input behind the cursor (more than the longest distance), reads
// this much new input at a time, and keeps this much ahead of the cursor so a match or a planned
// stretch never runs into the end of what has been read.
constexpr size_t kHistory = 64 * 1024;
constexpr size_t kPiece = 4 * 1024 * 1024;
constexpr size_t kLookahead = 64 * 1024;

// The LZO1X stream of the input (without the length header), and the input's CRC when asked.
LzCompressResult CompressStream(LzoInput& input, uint64_t size, LzoOutput& out, int level,
                                bool withCrc, LzProgressFn progress, void* progressContext) {
  LzCompressResult result;
  if (size > kLzMaxInputSize) {
    result.errorText = L"Dosya .lz bicimi icin fazla buyuk (en cok 4 GiB - 1 bayt).";
    return result;
  }
  std::unique_ptr<LzoMatcher> matcher = MakeLzoMatcher(level);
  uint32_t crc = 0xFFFFFFFFu;

  if (const uint8_t* whole = input.WholeData()) {
    LzoWindow w{whole, 0, size_t(size), &input};
    matcher->Run(w, size, true, out);
    out.Finish(w, matcher->anchor, size - matcher->anchor);
    if (withCrc) crc = Crc32Update(crc, whole, size_t(size));
    if (progress) progress(progressContext, size);
  } else {
    std::vector<uint8_t> buf(size_t(std::min<uint64_t>(kHistory + kPiece + kLookahead, size)));
    uint64_t base = 0;
    uint64_t readPos = 0;
    size_t filled = 0;
    for (;;) {
      size_t want = size_t(std::min<uint64_t>(buf.size() - filled, size - readPos));
      if (want > 0 && !input.ReadAt(readPos, buf.data() + filled, want)) {
        result.errorText = L"Kaynak dosya okunamadi.";
        return result;
      }
      crc = Crc32Update(crc, buf.data() + filled, want);
      filled += want;
      readPos += want;
      if (progress) progress(progressContext, readPos);
      const bool last = readPos == size;
      LzoWindow w{buf.data(), base, filled, &input};
      matcher->Run(w, last ? size : readPos - kLookahead, last, out);
      if (last) {
        out.Finish(w, matcher->anchor, size - matcher->anchor);
        break;
      }
      if (out.failed()) break;
      uint64_t keepFrom = std::max(base, matcher->cursor - kHistory);
      size_t drop = size_t(keepFrom - base);
      std::memmove(buf.data(), buf.data() + drop, filled - drop);
      filled -= drop;
      base = keepFrom;
    }
  }
  if (out.failed()) {
    result.errorText = out.error();
    return result;
  }
  result.ok = true;
  result.crc = ~crc;
  result.outSize = out.written();
  return result;
}

bool WriteHeader(uint64_t size, LzWriter& sink) {
  const uint8_t header[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16),
                             uint8_t(size >> 24)};
  return sink.Write(header, sizeof header);
}

// Compresses a buffer straight into `out`, after `offset` bytes kept at its start; returns the
// stream's length (0 on failure: a stream has at least its end instruction). `out` is only ever
// grown to the worst case, never shrunk: shrinking and growing again for the next input would
// zero the difference every time.
size_t CompressIntoVector(const void* data, size_t size, int level, std::vector<uint8_t>& out,
                          size_t offset) {
  const size_t bound = offset + LzoOutput::MemoryBound(size);
  if (out.size() < bound) out.resize(bound);
  LzoOutput writer(out.data() + offset, out.size() - offset);
  MemoryInput input(data, size);
  LzCompressResult r = CompressStream(input, size, writer, level, false, nullptr, nullptr);
  return r.ok ? size_t(writer.written()) : 0;
}

}  // namespace

bool MemoryInput::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(buffer, data_ + offset, size);
  return true;
}

LzCompressResult LzCompress(LzoInput& input, uint64_t size, LzWriter& output, int level,
                            LzProgressFn progress, void* progressContext) {
  LzCompressResult result;
  if (size <= kLzMaxInputSize && !WriteHeader(size, output)) {
    result.errorText = L"Dosya yazilamadi (disk dolu ya da izin yok).";
    return result;
  }
  LzoOutput out(output);
  result = CompressStream(input, size, out, level, true, progress, progressContext);
  result.outSize += 4;
  return result;
}

bool LzCompressToMemory(const void* data, size_t size, std::vector<uint8_t>& out, int level) {
  if (size > kLzMaxInputSize) {
    out.clear();
    return false;
  }
  const size_t packed = CompressIntoVector(data, size, level, out, 4);
  out.resize(packed > 0 ? 4 + packed : 0);
  for (int i = 0; packed > 0 && i < 4; ++i) out[size_t(i)] = uint8_t(uint64_t(size) >> (8 * i));
  return packed > 0;
}

size_t LzoCompressRaw(const void* data, size_t size, int level, std::vector<uint8_t>& out) {
  return CompressIntoVector(data, size, level, out, 0);
}

}  // namespace sv
