#include <windows.h>

#include "common/notify_os.h"

namespace sv::os {

void postMessage(void* window, uint32_t message, uintptr_t wParam) {
  PostMessageW(static_cast<HWND>(window), message, WPARAM(wParam), 0);
}

}  // namespace sv::os
