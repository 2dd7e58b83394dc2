// Closing real processes under Wine: a program whose window closes on WM_CLOSE is never
// terminated, one without a window is, and a pid whose start time no longer matches is left
// alone. Also what the two system sources of holders answer here.
#include "patcher/engine/process_closing.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/file.h"
#include "common/text.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/log.h"

namespace sv {
namespace {

constexpr DWORD kTerminatedCode = 1;  // the exit code CloseProcess terminates with
constexpr DWORD kClosedCode = 7;      // close_target's own exit after WM_CLOSE

std::wstring TargetExe() {
  return L"Z:" + toWide(SV_BINARY_DIR) + L"/tests/engine/update/close_target.exe";
}

uint64_t StartTimeOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  EXPECT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
  return (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

struct WindowSearch {
  DWORD pid;
  bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND w, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (owner == search->pid && IsWindowVisible(w)) search->found = true;
  return TRUE;
}

struct Target {
  PROCESS_INFORMATION pi = {};

  explicit Target(const wchar_t* mode) {
    std::wstring cmd = L"\"" + TargetExe() + L"\" " + mode;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    EXPECT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi))
        << GetLastError();
    WaitForInputIdle(pi.hProcess, 10000);
  }
  ~Target() {
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  // True once a visible top-level window of the process exists (up to 10 s).
  bool WaitForWindow() {
    for (int i = 0; i < 200; ++i) {
      WindowSearch search{pi.dwProcessId, false};
      EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
      if (search.found) return true;
      Sleep(50);
    }
    return false;
  }
  DWORD ExitCode() {
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  bool Running() { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
};

TEST(CloseProcess, WindowThatClosesOnRequestIsNotTerminated) {
  Target t(L"window");
  ASSERT_TRUE(t.WaitForWindow());
  const DWORD before = GetTickCount();
  EXPECT_EQ(CloseProcess(t.pi.dwProcessId, StartTimeOf(t.pi.hProcess)), kCloseDone);
  EXPECT_EQ(t.ExitCode(), kClosedCode);
  EXPECT_LT(GetTickCount() - before, 3000u);
}

TEST(CloseProcess, ProgramsWithoutAnAnsweringWindowAreTerminated) {
  Target plain(L"plain");
  Sleep(300);
  EXPECT_EQ(CloseProcess(plain.pi.dwProcessId, StartTimeOf(plain.pi.hProcess)), kCloseDone);
  EXPECT_EQ(plain.ExitCode(), kTerminatedCode);

  // WM_CLOSE is asked for and ignored: terminated after the polite wait.
  Target stubborn(L"stubborn");
  ASSERT_TRUE(stubborn.WaitForWindow());
  const DWORD before = GetTickCount();
  EXPECT_EQ(CloseProcess(stubborn.pi.dwProcessId, StartTimeOf(stubborn.pi.hProcess)), kCloseDone);
  EXPECT_EQ(stubborn.ExitCode(), kTerminatedCode);
  EXPECT_GE(GetTickCount() - before, 2900u);

  // An owned window is not the program's main window: not asked, so terminated at once.
  Target owned(L"owned");
  ASSERT_TRUE(owned.WaitForWindow());
  EXPECT_EQ(CloseProcess(owned.pi.dwProcessId, StartTimeOf(owned.pi.hProcess)), kCloseDone);
  EXPECT_EQ(owned.ExitCode(), kTerminatedCode);
}

TEST(CloseProcess, AnotherStartTimeMeansAnotherProgramAndItIsLeftAlone) {
  Target t(L"window");
  ASSERT_TRUE(t.WaitForWindow());
  const uint64_t start = StartTimeOf(t.pi.hProcess);
  EXPECT_EQ(CloseProcess(t.pi.dwProcessId, start + 1), kCloseDone);
  Sleep(500);
  EXPECT_TRUE(t.Running());

  // A process that is gone counts as closed.
  Target gone(L"plain");
  TerminateProcess(gone.pi.hProcess, 5);
  WaitForSingleObject(gone.pi.hProcess, 5000);
  const DWORD pid = gone.pi.dwProcessId;
  const uint64_t goneStart = StartTimeOf(gone.pi.hProcess);
  CloseHandle(gone.pi.hProcess);
  CloseHandle(gone.pi.hThread);
  gone.pi.hProcess = gone.pi.hThread = nullptr;
  EXPECT_EQ(CloseProcess(pid, goneStart), kCloseDone);
  gone.pi.hProcess = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());  // for the destructor
}

// The file is held by another process (holdfile.exe), as a game holds its files: the test used
// to hold it itself, and the patcher leaves its own process out, so it found nobody whatever the
// sources said. Now whatever a source names must be that holder, found with its start time and
// closable, and when no source names it the probe must say why (Wine's Restart Manager lists no
// process and its probe, class 47, is not implemented; a real Windows names the holder).
TEST(SystemHolders, HeldFileFindsNoHolderHereAndSaysWhy) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"sv_holders_test.bin";
  const std::wstring logPath = std::wstring(folder) + L"sv_holders_test.log";
  {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  // holdfile prints HELD once the file is open; its output comes through a pipe.
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  const std::wstring holdfile =
      L"Z:" + toWide(SV_BINARY_DIR) + L"/tests/engine/update/holdfile.exe";
  std::wstring cmd = L"\"" + holdfile + L"\" \"" + path + L"\" 20000";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &pi))
      << GetLastError();
  CloseHandle(writeEnd);
  char said[64] = {};
  DWORD got = 0;
  ReadFile(readEnd, said, sizeof(said) - 1, &got, nullptr);
  ASSERT_EQ(std::string(said).rfind("HELD", 0), 0u) << said;
  const uint64_t holderStart = StartTimeOf(pi.hProcess);

  OpenLog(logPath);
  const LockingSources sources = SystemLockingSources();
  const std::vector<RmProcess> rm = sources.restartManager({path});
  std::vector<uint32_t> probed;
  std::wstring why;
  const bool probeAnswered = ProbeFileHolders(path, probed, &why);
  const std::vector<LockingProcess> found = FindLockingProcesses({path});
  CloseLog();
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(readEnd);
  std::string log;
  readWholeFile(logPath, 1 << 20, log);
  DeleteFileW(path.c_str());
  DeleteFileW(logPath.c_str());
  std::printf("Restart Manager: %u process(es); probe: %s, %u process(es)%s%ls; found %u\nlog:\n%s\n",
              unsigned(rm.size()), probeAnswered ? "answered" : "no answer",
              unsigned(probed.size()), why.empty() ? "" : ": ", why.c_str(),
              unsigned(found.size()), log.c_str());

  // A source that names anyone names the holder, never this process or another one.
  bool named = false;
  for (const RmProcess& p : rm) {
    EXPECT_EQ(p.pid, pi.dwProcessId);
    named = true;
  }
  for (uint32_t pid : probed) {
    EXPECT_EQ(pid, pi.dwProcessId);
    named = true;
  }
  EXPECT_EQ(log.find("RmGetList hatasi"), std::string::npos) << log;
  if (named) {
    // Found once, by its name and start time, and closable.
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, pi.dwProcessId);
    EXPECT_EQ(found[0].name, L"holdfile.exe");
    EXPECT_EQ(found[0].startTime, holderStart);
    EXPECT_TRUE(found[0].closable);
  } else {
    EXPECT_TRUE(found.empty());
    // Nobody named: the probe says why, and so does the log.
    EXPECT_FALSE(probeAnswered);
    EXPECT_FALSE(why.empty());
  }
  if (!probeAnswered) {
    EXPECT_NE(log.find("Dosya kullanan sorgusu kullanilamiyor: " + toUtf8(why)), std::string::npos)
        << log;
  }
  // The own process is described like any other.
  const ProcessFacts self = DescribeSystemProcess(GetCurrentProcessId());
  EXPECT_TRUE(self.opened);
  EXPECT_NE(self.imagePath.find(L"engine_tests.exe"), std::wstring::npos);
  EXPECT_NE(self.creationTime, 0u);
}

// A pid whose start time is unknown is never closed, even when it names a live process.
TEST(CloseProcess, AnUnknownStartTimeIsRefusedWithoutTouchingTheProcess) {
  Target t(L"window");
  ASSERT_TRUE(t.WaitForWindow());
  EXPECT_EQ(CloseProcess(t.pi.dwProcessId, 0), kCloseFailed);
  Sleep(500);
  EXPECT_TRUE(t.Running());
}

}  // namespace
}  // namespace sv
