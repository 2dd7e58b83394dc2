#include <memory>
#include <new>

#include "common/file_os.h"
#include "common/crc32.h"

namespace sv {

bool Crc32File(const std::wstring& path, uint32_t& crcOut, uint64_t& sizeOut) {
  constexpr uint32_t kPieceSize = 1u << 20;
  os::File file;
  if (!file.openRead(path) || !file.size(sizeOut)) return false;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kPieceSize]);
  if (!buffer) return false;
  uint32_t reg = 0xFFFFFFFFu;
  bool ok = true;
  for (;;) {
    uint32_t done = 0;
    if (!file.read(buffer.get(), kPieceSize, done)) {
      ok = false;
      break;
    }
    if (done == 0) break;
    reg = Crc32Update(reg, buffer.get(), done);
  }
  crcOut = ~reg;
  return ok;
}

}  // namespace sv
