// Feeds arbitrary bytes to the LZ decoders: they must never read or write out of bounds, a stream
// the in-memory decoder accepts must have produced exactly the length its header declares, and
// the streaming decoder, fed in small uneven pieces, must come to the same verdict, length and
// CRC as the in-memory one.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "fuzz/fuzz_check.h"
#include "release/lz_decode.h"
#include "release/lz_stream.h"

using sv::fuzz::Check;

namespace {

// Hands out 1 to 7 bytes per read, so that every refill boundary falls somewhere new.
class PieceReader : public sv::LzReader {
 public:
  PieceReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Read(void* buffer, uint32_t capacity) override {
    const size_t left = size_ - pos_;
    size_t n = 1 + (pos_ * 7 + 3) % 7;
    if (n > left) n = left;
    if (n > capacity) n = capacity;
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return uint32_t(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  std::wstring error;
  const bool ok = sv::LzDecodeToMemory(data, size, out, &error);
  if (ok) {
    const uint32_t declared = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                              uint32_t(data[3]) << 24;
    Check(out.size() == declared && error.empty());
  } else {
    Check(!error.empty());
  }

  PieceReader reader(data, size);
  std::vector<uint8_t> streamed;
  sv::MemWriter writer(&streamed);
  const sv::LzResult result = sv::LzDecode(reader, &writer, nullptr, nullptr);
  Check(result.ok == ok);
  if (ok) {
    Check(streamed == out && result.out_size == out.size() && result.error_text.empty());
    Check(result.crc == sv::Crc32(out.data(), out.size()));
  } else {
    Check(!result.error_text.empty());
  }
  return 0;
}
