#include "patcher/engine/object_hash.h"

#include <memory>

#include "common/file_os.h"

namespace sv {

namespace {
constexpr uint32_t kReadBlock = 1 << 20;
}

void ObjectHashCursor::Advance(const std::wstring& partPath, const std::vector<uint8_t>& done,
                               uint64_t segmentSize, uint64_t total) {
  std::unique_lock<std::mutex> guard(busy_, std::try_to_lock);
  if (!guard.owns_lock() || failed_ || segmentSize == 0) return;
  uint64_t end = hashed_;
  for (size_t k = size_t(hashed_ / segmentSize); k < done.size() && done[k] && end < total; ++k)
    end = (k + 1) * segmentSize < total ? (k + 1) * segmentSize : total;
  if (end > hashed_) HashUpTo(partPath, end, false);
}

bool ObjectHashCursor::Finish(const std::wstring& partPath, Sha256Digest& digest,
                              uint64_t& size) {
  std::lock_guard<std::mutex> guard(busy_);
  if (failed_ || !HashUpTo(partPath, 0, true)) return false;
  digest = hash_.Finish();
  size = hashed_;
  failed_ = true;  // the hash is spent: a second Finish must not pass
  return true;
}

bool ObjectHashCursor::HashUpTo(const std::wstring& partPath, uint64_t end, bool toEnd) {
  os::File file;
  if (!file.openScan(partPath) || !file.seek(hashed_)) {
    failed_ = true;
    return false;
  }
  auto buffer = std::make_unique<uint8_t[]>(kReadBlock);
  while (toEnd || hashed_ < end) {
    const uint64_t left = toEnd ? kReadBlock : end - hashed_;
    uint32_t got = 0;
    if (!file.read(buffer.get(), uint32_t(left < kReadBlock ? left : kReadBlock), got)) {
      failed_ = true;
      return false;
    }
    if (got == 0) break;
    hash_.Update(buffer.get(), got);
    hashed_ += got;
  }
  // Short of a finished segment's end: the file is not what the segments said.
  if (!toEnd && hashed_ != end) failed_ = true;
  return !failed_;
}

}  // namespace sv
