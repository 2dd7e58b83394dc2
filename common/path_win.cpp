#include <windows.h>

#include "common/path.h"

namespace sv {

std::wstring modulePath() {
  DWORD capacity = MAX_PATH;
  for (int attempt = 0; attempt < 6; ++attempt, capacity *= 2) {
    std::wstring buffer(capacity, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), capacity);
    if (n == 0) return {};
    if (n < capacity) {
      buffer.resize(n);
      return buffer;
    }
    // A result that fills the buffer was cut short: try again with twice the room.
  }
  return {};
}

}  // namespace sv
