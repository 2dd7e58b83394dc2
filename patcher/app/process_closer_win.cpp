#include <windows.h>

#include "patcher/app/process_closer.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/process_closing.h"

namespace sv {

int CloseHelperMode(const std::vector<std::wstring>& arguments) {
  const CloseRequest request = ParseCloseArguments(arguments);
  DWORD ownSession = 0;
  const bool ownSessionKnown = ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) != 0;
  return RunCloseRequest(request, [&](const ClosePair& pair) {
    // Judged as the asking patcher judged it: a Windows component stays, whoever asks.
    const LockingProcess p = DescribeLockingProcess(pair.pid, nullptr,
                                                    DescribeSystemProcess(pair.pid),
                                                    ownSessionKnown, ownSession);
    if (!p.closable) return -1;
    return CloseProcess(pair.pid, pair.startTime);
  });
}

}  // namespace sv
