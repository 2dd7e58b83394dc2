#include <windows.h>

#include "patcher/engine/in_use.h"

namespace sv {

std::vector<LockingProcess> FindLockingProcesses(const std::vector<std::wstring>& paths) {
  // The holders are looked up by the process-closing code (Restart Manager and the file-system
  // probe); until that lands nothing is known about them, which callers treat as "no holder
  // found", the same answer a system without those services gives.
  (void)paths;
  return {};
}

}  // namespace sv
