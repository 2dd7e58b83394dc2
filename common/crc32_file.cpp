#include <memory>
#include <new>

#include "common/crc32.h"
#include "common/file_os.h"

namespace sv {

bool Crc32File(const std::wstring& path, void* buffer, uint32_t bufferSize, uint32_t& crcOut,
               uint64_t& sizeOut, const Crc32FileProgress& progress) {
  os::File file;
  if (!file.openScan(path) || !file.size(sizeOut)) return false;
  uint32_t reg = 0xFFFFFFFFu;
  for (;;) {
    uint32_t done = 0;
    if (!file.read(buffer, bufferSize, done)) return false;
    if (done == 0) break;
    reg = Crc32Update(reg, buffer, done);
    if (progress && !progress(done)) return false;
  }
  crcOut = ~reg;
  return true;
}

bool Crc32File(const std::wstring& path, uint32_t& crcOut, uint64_t& sizeOut) {
  constexpr uint32_t kPieceSize = 1u << 20;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kPieceSize]);
  if (!buffer) return false;
  return Crc32File(path, buffer.get(), kPieceSize, crcOut, sizeOut);
}

}  // namespace sv
