#include "common/notify_os.h"

namespace sv::os {

void postMessage(void* window, uint32_t message, uintptr_t wParam) {
  static_cast<MessageQueue*>(window)->post(message, wParam);
}

}  // namespace sv::os
