#pragma once
// Closing the programs that hold game files: the decisions (who is closed, who needs the
// elevated helper, what the next dialog says) and the elevated helper's command line. The calls
// that close a process are the Windows build's (process_closing_win.cpp).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "patcher/engine/in_use.h"

namespace sv {

// Results of CloseProcess.
constexpr int kCloseDone = 0;          // closed, or gone (also: the pid is another process now)
constexpr int kCloseAccessDenied = 1;
constexpr int kCloseFailed = 2;
// Results of CloseViaElevatedHelper.
constexpr int kHelperAllClosed = 0;
constexpr int kHelperFailed = 2;
constexpr int kHelperDeclined = 3;

constexpr wchar_t kCloseSwitch[] = L"--sv-close";

struct CloseSteps {
  std::function<void(const LockingProcess&)> announce;  // log line and status line
  std::function<int(uint32_t pid, uint64_t startTime)> closeProcess;
  std::function<bool()> elevated;
  std::function<int(const std::vector<LockingProcess>&)> closeElevated;
  std::function<void(const std::wstring&)> log;
};

struct CloseReport {
  std::wstring needAdminNames;  // set when the user declined the elevation prompt
  std::wstring failedNames;     // wins over needAdminNames in the next dialog
};

// Closes every closable process of the list; the ones refused for lack of rights go to the
// elevated helper together, with a single prompt.
CloseReport CloseProgramsWith(const std::vector<LockingProcess>& processes,
                              const CloseSteps& steps);

// "--sv-close" and one " pid:startTime" per process.
std::wstring ElevatedCloseParameters(const std::vector<LockingProcess>& processes);

struct ClosePair {
  uint32_t pid = 0;
  uint64_t startTime = 0;
};

struct CloseRequest {
  std::vector<ClosePair> pairs;
  bool malformed = false;  // an argument after the switch did not read pid:startTime, pid >= 5
};

// The arguments after "--sv-close" (earlier ones are skipped; no switch, no pairs).
CloseRequest ParseCloseArguments(const std::vector<std::wstring>& arguments);

// The elevated helper's exit code: 2 without a valid pair; else 1 when a process was protected
// or could not be closed, else 2 when an argument was malformed, else 0 (all closed or gone).
// closeOne returns -1 for a process that must not be closed, else a CloseProcess result.
int RunCloseRequest(const CloseRequest& request,
                    const std::function<int(const ClosePair&)>& closeOne);

// The Windows build's calls. CloseProcess: 0 closed or gone, 1 access denied, 2 failed; a
// start time (when not 0) must still match, else the pid is another program's and is left alone.
int CloseProcess(uint32_t pid, uint64_t startTime);
// One "runas" start of the own program with "--sv-close" for all of them: 0 all closed, 2 failed,
// 3 the user declined the prompt.
int CloseViaElevatedHelper(void* ownerWindow, const std::vector<LockingProcess>& processes);
// The process token says it runs elevated.
bool ProcessIsElevated();

}  // namespace sv
