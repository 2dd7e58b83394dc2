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
// After the pairs: the game files (relative to the game folder) the processes were found holding.
constexpr wchar_t kCloseFilesSwitch[] = L"--sv-files";
// At most this many files travel on the helper's command line.
constexpr size_t kCloseMaxFiles = 16;

// How long closing one process may take (CloseProcess): its windows are asked and waited for,
// then it is terminated and waited for, or a refused termination is waited for a moment.
constexpr uint32_t kClosePoliteWaitMs = 3000;
constexpr uint32_t kCloseTerminateWaitMs = 5000;
constexpr uint32_t kCloseRefusedWaitMs = 300;
constexpr uint32_t kCloseOneBoundMs = kClosePoliteWaitMs + kCloseTerminateWaitMs;
// What the elevated helper needs besides closing: starting, reading its arguments, describing
// each process and asking who holds the files.
constexpr uint32_t kHelperOverheadMs = 10000;
constexpr uint32_t kHelperPerProcessOverheadMs = 1000;

// How long the patcher waits for an elevated helper closing `processCount` processes: the
// helper's own bound, so the player never hears of a failure while the helper is still at work.
uint32_t ElevatedHelperWaitMs(size_t processCount);

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

// "--sv-close", one " pid:startTime" per process (a process without a start time is never
// sent), then " --sv-files" and each held file's relative path in double quotes (at most
// kCloseMaxFiles of them; names that hold a double quote are left out).
std::wstring ElevatedCloseParameters(const std::vector<LockingProcess>& processes,
                                     const std::vector<std::wstring>& files = {});

struct ClosePair {
  uint32_t pid = 0;
  uint64_t startTime = 0;
};

struct CloseRequest {
  std::vector<ClosePair> pairs;
  // An argument after the switch did not read pid:startTime with pid >= 5 and a start time
  // other than 0 (a process whose start time is unknown cannot be told from a later one).
  bool malformed = false;
  // The relative paths after "--sv-files"; one that leaves the game folder is left out.
  std::vector<std::wstring> files;
};

// The arguments after "--sv-close" (earlier ones are skipped; no switch, no pairs).
CloseRequest ParseCloseArguments(const std::vector<std::wstring>& arguments);

// What the elevated helper knows of one process it was asked to close.
struct HelperTargetFacts {
  bool gone = false;            // the system knows no process of that pid any more
  bool closable = false;        // judged as the patcher judges holders (not a Windows component)
  uint64_t creationTime = 0;    // read from the process now; 0 when it could not be read
  bool holdersKnown = false;    // the system could say which processes hold the named files
  bool holdsGameFile = false;   // and this pid is among them
};

enum class HelperVerdict {
  Refuse,      // not closable, or its identity cannot be checked: counted as not closed
  LeaveAlone,  // the pid is another program now, or it no longer holds a game file: done
  Close,
};

// The helper closes only the process it was asked for: the pid's start time must be the one
// given, and where the system can tell, it must still hold one of the game files.
HelperVerdict DecideHelperClose(const ClosePair& pair, const HelperTargetFacts& facts);

// The elevated helper's exit code: 2 without a valid pair; else 1 when a process was protected
// or could not be closed, else 2 when an argument was malformed, else 0 (all closed or gone).
// closeOne returns -1 for a process that must not be closed, else a CloseProcess result.
int RunCloseRequest(const CloseRequest& request,
                    const std::function<int(const ClosePair&)>& closeOne);

// Whether a process whose creation time reads `actual` is the one that started at `expected`;
// never for an unknown (0) expected time.
bool SameProcessStart(uint64_t expected, uint64_t actual);

// The Windows build's calls. CloseProcess: 0 closed or gone, 1 access denied, 2 failed; the
// start time must still match (SameProcessStart, on the opened process), else the pid is another
// program's and is left alone (0); a start time of 0 is refused (2) without opening anything.
int CloseProcess(uint32_t pid, uint64_t startTime);
// One "runas" start of the own program with "--sv-close" for all of them, waited for
// ElevatedHelperWaitMs: 0 all closed, 2 failed, 3 the user declined the prompt.
int CloseViaElevatedHelper(void* ownerWindow, const std::vector<LockingProcess>& processes,
                           const std::vector<std::wstring>& files = {});
// The process token says it runs elevated.
bool ProcessIsElevated();

}  // namespace sv
