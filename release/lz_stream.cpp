#include "release/lz_stream.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace sv {

uint32_t MemReader::Read(void* buffer, uint32_t capacity) {
  const size_t count = std::min(size_ - pos_, size_t(capacity));
  if (count > 0) std::memcpy(buffer, data_ + pos_, count);
  pos_ += count;
  return uint32_t(count);
}

bool MemWriter::Write(const void* data, size_t size) {
  if (size == 0) return true;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  // Running out of memory (a 32-bit process, a hostile length) is a refused write, not a crash.
  try {
    out_->insert(out_->end(), p, p + size);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace sv
