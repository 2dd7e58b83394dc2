#include "release/lz_decode.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "common/crc32.h"

namespace sv {

// Thrown inside the decoder only; LzDecode turns it into its result.
struct LzError {
  const wchar_t* message;
};

namespace {

constexpr uint32_t kInputSize = 1u << 20;
constexpr uint32_t kWindowSize = 1u << 16;
constexpr uint32_t kMaxDistance = 65535;
constexpr uint32_t kMaxLength = 0x7FFFFFFF;
constexpr uint32_t kDeclaredReserveLimit = 0x10000000;

// Bulk copies store up to this many bytes past the output they produce, into window slots that
// hold output from one window size ago. Those bytes are at a distance no LZO1X instruction can
// express (the format's largest is 49151), and they are rewritten before the next flush; at the
// end of the window the stores land in spare bytes after it.
constexpr uint32_t kCopySlack = 16;
constexpr uint32_t kLargestEncodableDistance = 16384 + 32767;
static_assert(kLargestEncodableDistance + kCopySlack < kWindowSize);

const wchar_t kErrTruncated[] = L"LZ verisi erken bitti (bozuk ya da eksik dosya).";
const wchar_t kErrBadReference[] = L"LZ verisi bozuk (gecersiz geri referans).";
const wchar_t kErrOversize[] = L"LZ verisi bozuk (boyut asildi).";
const wchar_t kErrTooLong[] = L"LZ verisi bozuk (asiri uzun tekrar).";
const wchar_t kErrSizeMismatch[] = L"LZ dosyasi bozuk (boyut uyusmuyor).";
const wchar_t kErrWrite[] = L"Dosya yazilamadi (disk dolu ya da izin yok).";
const wchar_t kErrCancelled[] = L"Iptal edildi.";
const wchar_t kErrNoMemory[] = L"Bellek yetersiz.";

// Copies count bytes forward from src to dst, where dst - src is distance d (an overlapping copy
// repeats the last d bytes) or src lies ahead of dst. Eight-byte steps read only bytes that are
// already final when d >= 8; they may store up to 7 bytes past dst + count.
inline void CopyForward(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t d) {
  if (d >= 8 || src > dst) {
    for (uint32_t i = 0; i < count; i += 8) std::memcpy(dst + i, src + i, 8);
  } else if (d == 1) {
    std::memset(dst, *src, count);
  } else {
    for (uint32_t i = 0; i < count; ++i) dst[i] = src[i];
  }
}

class Decoder {
 public:
  Decoder(LzReader& reader, LzWriter* writer, LzCancelFn cancel, void* cancelContext,
          uint8_t* input, uint8_t* window)
      : reader_(reader),
        writer_(writer),
        cancel_(cancel),
        cancelContext_(cancelContext),
        input_(input),
        window_(window) {}

  // Fills result; throws LzError.
  void Run(LzResult& result);

 private:
  enum class Context { Initial, AfterLiteralRun, AfterTrailingLiterals };

  [[gnu::noinline]] uint32_t Refill();
  [[gnu::noinline]] void Flush(uint32_t size);

  LzReader& reader_;
  LzWriter* writer_;
  LzCancelFn cancel_;
  void* cancelContext_;
  uint8_t* input_;
  uint8_t* window_;
  uint32_t reg_ = 0xFFFFFFFFu;
};

uint32_t Decoder::Refill() {
  if (cancel_ && cancel_(cancelContext_)) throw LzError{kErrCancelled};
  const uint32_t count = reader_.Read(input_, kInputSize);
  if (count == 0) throw LzError{kErrTruncated};
  return count;
}

void Decoder::Flush(uint32_t size) {
  reg_ = Crc32Update(reg_, window_, size);
  if (writer_ && !writer_->Write(window_, size)) throw LzError{kErrWrite};
}

void Decoder::Run(LzResult& result) {
  // The cursor lives in locals (and the lambdas below are inlined) so that it stays in registers.
  const uint8_t* ip = input_;
  const uint8_t* ipEnd = input_;
  uint8_t* const win = window_;
  uint32_t op = 0;    // window index of the next output byte
  uint32_t base = 0;  // output already flushed, a multiple of the window size

  auto refill = [&] {
    ipEnd = input_ + Refill();
    ip = input_;
  };
  auto next = [&]() -> uint32_t {
    if (ip == ipEnd) [[unlikely]]
      refill();
    return *ip++;
  };
  auto advance = [&](uint32_t count) {
    op += count;
    if (op == kWindowSize) {
      Flush(kWindowSize);
      base += kWindowSize;
      op = 0;
    }
  };

  uint32_t expected = next();
  expected |= next() << 8;
  expected |= next() << 16;
  expected |= next() << 24;
  result.expected_size = expected;

  // Output beyond the declared length is refused before it is produced, so that a corrupt length
  // field cannot fill the disk first. The position never exceeds expected, so it fits 32 bits.
  auto reserve = [&](uint32_t count) {
    if (count > expected - (base + op)) throw LzError{kErrOversize};
  };
  auto extendLength = [&](uint32_t value) -> uint32_t {
    uint32_t b;
    while ((b = next()) == 0) {
      if (value > kMaxLength - 255) throw LzError{kErrTooLong};
      value += 255;
    }
    if (b > kMaxLength - value) throw LzError{kErrTooLong};
    return value + b;
  };
  auto copyLiterals = [&](uint32_t count) {
    reserve(count);
    if (count <= kCopySlack && count <= kWindowSize - op && ipEnd - ip >= ptrdiff_t(kCopySlack))
        [[likely]] {
      std::memcpy(win + op, ip, kCopySlack);
      ip += count;
      advance(count);
      return;
    }
    while (count > 0) {
      if (ip == ipEnd) refill();
      const uint32_t piece = std::min({count, uint32_t(ipEnd - ip), kWindowSize - op});
      std::memcpy(win + op, ip, piece);
      ip += piece;
      count -= piece;
      advance(piece);
    }
  };
  auto copyMatch = [&](uint32_t d, uint32_t count) {
    if (d == 0 || d > base + op || d > kMaxDistance) throw LzError{kErrBadReference};
    reserve(count);
    if (d <= op && count <= kWindowSize - op) [[likely]] {
      CopyForward(win + op, win + op - d, count, d);
      advance(count);
      return;
    }
    // The source or the destination crosses the end of the window: copy up to the first crossing.
    while (count > 0) {
      const uint32_t src = op >= d ? op - d : op + kWindowSize - d;
      const uint32_t piece = std::min(count, kWindowSize - std::max(op, src));
      CopyForward(win + op, win + src, piece, d);
      count -= piece;
      advance(piece);
    }
  };

  // LZO1X instruction stream. The context says how a byte below 16 is read: in the first
  // instruction and after a match without trailing literals it starts a literal run; after a run
  // of 4 or more literals it is a 3-byte match at distance 2049 and more; after 1 to 3 trailing
  // literals, a 2-byte match at distance 1 to 1024.
  Context context = Context::Initial;
  uint32_t t = next();
  if (t > 17) {
    const uint32_t count = t - 17;
    copyLiterals(count);
    context = count >= 4 ? Context::AfterLiteralRun : Context::AfterTrailingLiterals;
    t = next();
  }
  for (;;) {
    uint32_t trailing;  // low two bits of the byte before the last one taken
    if (t < 16) {
      if (context == Context::Initial) {
        copyLiterals((t == 0 ? extendLength(15) : t) + 3);
        context = Context::AfterLiteralRun;
        t = next();
        continue;
      }
      const uint32_t b = next();
      if (context == Context::AfterLiteralRun) {
        copyMatch(2049 + (t >> 2) + (b << 2), 3);
      } else {
        copyMatch(1 + (t >> 2) + (b << 2), 2);
      }
      trailing = t & 3;
    } else if (t >= 64) {
      const uint32_t b = next();
      copyMatch(1 + ((t >> 2) & 7) + (b << 3), (t >> 5) + 1);
      trailing = t & 3;
    } else if (t >= 32) {
      uint32_t length = t & 31;
      if (length == 0) length = extendLength(31);
      const uint32_t b0 = next();
      const uint32_t b1 = next();
      copyMatch(1 + (b0 >> 2) + (b1 << 6), length + 2);
      trailing = b0 & 3;
    } else {
      uint32_t length = t & 7;
      if (length == 0) length = extendLength(7);
      const uint32_t b0 = next();
      const uint32_t b1 = next();
      const uint32_t d = ((t & 8) << 11) + (b0 >> 2) + (b1 << 6);
      if (d == 0) break;  // end-of-stream instruction
      copyMatch(d + 16384, length + 2);
      trailing = b0 & 3;
    }
    if (trailing == 0) {
      context = Context::Initial;
    } else {
      copyLiterals(trailing);
      context = Context::AfterTrailingLiterals;
    }
    t = next();
  }

  if (op > 0) Flush(op);
  const uint32_t produced = base + op;
  result.out_size = produced;
  result.crc = ~reg_;
  if (produced != expected) throw LzError{kErrSizeMismatch};
  result.ok = true;
}

}  // namespace

LzResult LzDecode(LzReader& reader, LzWriter* writer, LzCancelFn cancel, void* cancelContext) {
  LzResult result;
  std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[kInputSize]);
  // Zeroed: the spare bytes after the window are read (and ignored) by bulk copies.
  std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[kWindowSize + kCopySlack]());
  if (!input || !window) {
    result.error_text = kErrNoMemory;
    return result;
  }
  Decoder decoder(reader, writer, cancel, cancelContext, input.get(), window.get());
  try {
    decoder.Run(result);
  } catch (const LzError& e) {
    result.ok = false;
    result.error_text = e.message;
  }
  return result;
}

bool LzDecodeToMemory(const void* data, size_t size, std::vector<uint8_t>& out,
                      std::wstring* errorOut) {
  out.clear();
  if (size >= 4) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint32_t declared =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    if (declared <= kDeclaredReserveLimit && declared > out.capacity() - out.size()) {
      // Only a hint: without it the vector grows as the output arrives.
      try {
        out.reserve(declared);
      } catch (const std::exception&) {
      }
    }
  }
  MemReader reader(data, size);
  MemWriter writer(&out);
  const LzResult result = LzDecode(reader, &writer, nullptr, nullptr);
  if (!result.ok && errorOut) *errorOut = result.error_text;
  return result.ok;
}

}  // namespace sv
