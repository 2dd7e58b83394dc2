#pragma once
// Time and waiting, as the system offers them (GetTickCount and Sleep on Windows).
#include <cstdint>

namespace sv::os {

// Milliseconds since some fixed moment; wraps after 49.7 days.
uint32_t tickCount();
void sleepMs(uint32_t ms);

}  // namespace sv::os
