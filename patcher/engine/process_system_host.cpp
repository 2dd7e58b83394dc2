// The host's side of files in use: no system source names the holders of a file, and a process
// is closed by a termination signal. Only the Windows build has an elevated helper.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "patcher/engine/in_use.h"
#include "patcher/engine/process_closing.h"

namespace sv {

std::vector<LockingProcess> FindLockingProcesses(const std::vector<std::wstring>&) { return {}; }

int CloseProcess(uint32_t pid, uint64_t startTime) {
  if (startTime == 0) return kCloseFailed;
  if (::kill(pid_t(pid), SIGTERM) == 0 || errno == ESRCH) return kCloseDone;
  return errno == EPERM ? kCloseAccessDenied : kCloseFailed;
}

int CloseViaElevatedHelper(void*, const std::vector<LockingProcess>&,
                           const std::vector<std::wstring>&) {
  return kHelperFailed;
}

bool ProcessIsElevated() { return ::geteuid() == 0; }

}  // namespace sv
