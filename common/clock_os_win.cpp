#include <windows.h>

#include "common/clock_os.h"

namespace sv::os {

uint32_t tickCount() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace sv::os
