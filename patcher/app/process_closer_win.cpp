#include <windows.h>

#include <algorithm>

#include "common/path.h"
#include "patcher/app/process_closer.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/process_closing.h"

namespace sv {

int CloseHelperMode(const std::vector<std::wstring>& arguments) {
  const CloseRequest request = ParseCloseArguments(arguments);
  DWORD ownSession = 0;
  const bool ownSessionKnown = ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) != 0;
  // Who holds the named game files now, where the system can tell (the helper runs from the
  // game folder, so the names are taken relative to its own folder).
  const std::wstring gameFolder = moduleDirectory();
  bool holdersKnown = false;
  std::vector<uint32_t> holders;
  for (const std::wstring& name : request.files) {
    std::vector<uint32_t> pids;
    if (!ProbeFileHolders(joinPath(gameFolder, name), pids)) continue;
    holdersKnown = true;
    holders.insert(holders.end(), pids.begin(), pids.end());
  }
  return RunCloseRequest(request, [&](const ClosePair& pair) {
    const ProcessFacts facts = DescribeSystemProcess(pair.pid);
    // Judged as the asking patcher judged it: a Windows component stays, whoever asks.
    const LockingProcess described =
        DescribeLockingProcess(pair.pid, nullptr, facts, ownSessionKnown, ownSession);
    HelperTargetFacts target;
    if (!facts.opened) {
      HANDLE probe = OpenProcess(SYNCHRONIZE, FALSE, pair.pid);
      if (probe) {
        CloseHandle(probe);
      } else {
        target.gone = GetLastError() == ERROR_INVALID_PARAMETER;
      }
    }
    target.closable = described.closable;
    target.creationTime = facts.opened ? facts.creationTime : 0;
    target.holdersKnown = holdersKnown;
    target.holdsGameFile = std::find(holders.begin(), holders.end(), pair.pid) != holders.end();
    switch (DecideHelperClose(pair, target)) {
      case HelperVerdict::Refuse:
        return -1;
      case HelperVerdict::LeaveAlone:
        return kCloseDone;
      case HelperVerdict::Close:
        break;
    }
    return CloseProcess(pair.pid, pair.startTime);
  });
}

}  // namespace sv
