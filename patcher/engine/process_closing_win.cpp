// Closing a process: its windows are asked first, termination comes second; programs running
// with more rights than the patcher are closed by an elevated copy of it.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "common/path.h"
#include "common/scoped_win.h"
#include "patcher/engine/process_closing.h"

namespace sv {

namespace {


uint64_t FileTimeValue(const FILETIME& t) {
  return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

struct WindowSearch {
  DWORD pid;
  int posted;
};

BOOL CALLBACK PostCloseToWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->pid && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
    if (PostMessageW(window, WM_CLOSE, 0, 0)) ++search->posted;
  }
  return TRUE;
}

}  // namespace

int CloseProcess(uint32_t pid, uint64_t startTime) {
  // Nothing would tell the process asked for from a later one under the same pid.
  if (startTime == 0) return kCloseFailed;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                         FALSE, pid);
  if (!h) return GetLastError() == ERROR_INVALID_PARAMETER ? kCloseDone : kCloseAccessDenied;
  // Checked on the open handle, which keeps this very process until it is closed.
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(h, &created, &exited, &kernel, &user) ||
      !SameProcessStart(startTime, FileTimeValue(created))) {
    CloseHandle(h);
    return kCloseDone;
  }
  WindowSearch search{pid, 0};
  EnumWindows(PostCloseToWindow, reinterpret_cast<LPARAM>(&search));
  if (search.posted > 0 && WaitForSingleObject(h, kClosePoliteWaitMs) == WAIT_OBJECT_0) {
    CloseHandle(h);
    return kCloseDone;
  }
  int result;
  if (TerminateProcess(h, 1)) {
    result = WaitForSingleObject(h, kCloseTerminateWaitMs) == WAIT_OBJECT_0 ? kCloseDone : kCloseFailed;
  } else {
    const DWORD code = GetLastError();
    if (WaitForSingleObject(h, kCloseRefusedWaitMs) == WAIT_OBJECT_0) {
      result = kCloseDone;
    } else {
      result = code == ERROR_ACCESS_DENIED ? kCloseAccessDenied : kCloseFailed;
    }
  }
  CloseHandle(h);
  return result;
}

int CloseViaElevatedHelper(void* ownerWindow, const std::vector<LockingProcess>& processes,
                           const std::vector<std::wstring>& files) {
  const std::wstring parameters = ElevatedCloseParameters(processes, files);
  const std::wstring program = modulePath();
  const std::wstring folder = moduleDirectory();
  const ScopedCom com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.hwnd = static_cast<HWND>(ownerWindow);
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = folder.c_str();
  info.nShow = SW_HIDE;
  int result;
  if (!ShellExecuteExW(&info)) {
    result = GetLastError() == ERROR_CANCELLED ? kHelperDeclined : kHelperFailed;
  } else {
    result = kHelperFailed;
    if (info.hProcess) {
      DWORD code = 0;
      if (WaitForSingleObject(info.hProcess, ElevatedHelperWaitMs(processes.size())) ==
              WAIT_OBJECT_0 &&
          GetExitCodeProcess(info.hProcess, &code) && code == 0) {
        result = kHelperAllClosed;
      }
      CloseHandle(info.hProcess);
    }
  }
  return result;
}

bool ProcessIsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return ok && elevation.TokenIsElevated != 0;
}

}  // namespace sv
