#pragma once
// Who holds a file: the answers of the two system sources (the Restart Manager and the file-system
// probe) merged into the list the in-use dialog shows. The sources sit behind a seam, so the
// merging, ordering and protection rules can be tried with any answers.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "patcher/engine/in_use.h"

namespace sv {

// Restart Manager application types that are never closed.
constexpr uint32_t kRmService = 3;
constexpr uint32_t kRmExplorer = 4;

struct RmProcess {
  uint32_t pid = 0;
  uint64_t startTime = 0;
  std::wstring appName;
  uint32_t appType = 0;
};

// What the system says about one running process.
struct ProcessFacts {
  bool opened = false;       // a limited-query open succeeded
  std::wstring imagePath;    // empty when it could not be read
  uint64_t creationTime = 0;
  bool sessionKnown = false;
  uint32_t session = 0;
};

struct LockingSources {
  std::function<std::vector<RmProcess>(const std::vector<std::wstring>& paths)> restartManager;
  std::function<std::vector<uint32_t>(const std::wstring& path)> fileProbe;
  std::function<ProcessFacts(uint32_t pid)> describe;
  uint32_t ownPid = 0;
  bool ownSessionKnown = false;
  uint32_t ownSession = 0;
};

// Windows components the patcher never closes, by lower-cased program name.
bool IsProtectedProcessName(const std::wstring& name);

// One process as shown and closed; rm is the Restart Manager's entry when it named the pid.
LockingProcess DescribeLockingProcess(uint32_t pid, const RmProcess* rm, const ProcessFacts& facts,
                                      bool ownSessionKnown, uint32_t ownSession);

// Every holder of the paths once, the own process left out; closable ones first (descending
// pid), then the others (ascending pid).
std::vector<LockingProcess> MergeLockingProcesses(const std::vector<std::wstring>& paths,
                                                  const LockingSources& sources);

// The system's own sources (Restart Manager and NtQueryInformationFile, both looked up at run
// time). Windows build only.
LockingSources SystemLockingSources();
ProcessFacts DescribeSystemProcess(uint32_t pid);
// The processes that have the file open, from the file-system probe alone; false when the system
// cannot tell (no such query, as under Wine, or the file could not be opened to ask), and then
// whyOut (when given) says which. The first such answer of a process is also logged.
bool ProbeFileHolders(const std::wstring& path, std::vector<uint32_t>& pidsOut,
                      std::wstring* whyOut = nullptr);

}  // namespace sv
