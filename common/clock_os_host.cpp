#include <chrono>
#include <thread>

#include "common/clock_os.h"

namespace sv::os {

uint32_t tickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace sv::os
