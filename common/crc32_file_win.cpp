#include <windows.h>

#include "common/crc32.h"

namespace sv {

namespace {

constexpr DWORD kPieceSize = 1u << 20;

struct HandleOwner {
  HANDLE h;
  ~HandleOwner() { CloseHandle(h); }
};

struct HeapBlock {
  void* p;
  ~HeapBlock() {
    if (p) HeapFree(GetProcessHeap(), 0, p);
  }
};

}  // namespace

bool Crc32File(const std::wstring& path, uint32_t& crcOut, uint64_t& sizeOut) {
  // Every sharing mode: the game or another checker may hold the file while it is measured.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  HandleOwner file{h};
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) return false;
  sizeOut = uint64_t(size.QuadPart);
  HeapBlock buffer{HeapAlloc(GetProcessHeap(), 0, kPieceSize)};
  if (!buffer.p) return false;
  uint32_t reg = 0xFFFFFFFFu;
  bool ok = true;
  for (;;) {
    DWORD done = 0;
    if (!ReadFile(h, buffer.p, kPieceSize, &done, nullptr)) {
      ok = false;
      break;
    }
    if (done == 0) break;
    reg = Crc32Update(reg, buffer.p, done);
  }
  crcOut = ~reg;
  return ok;
}

}  // namespace sv
