#include <windows.h>

#include "common/scoped_win.h"
#include "patcher/app/instance_lock.h"
#include "patcher/app/main_window.h"

namespace sv {

InstanceLock::~InstanceLock() {
  if (mutex_) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

void ActivateRunningPatcher() {
  HWND window = FindWindowW(kMainWindowClass, nullptr);
  if (!window) return;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

InstanceLock::Outcome InstanceLock::Acquire(const std::wstring& folder, bool restarted,
                                            unsigned restartWaitMs) {
  std::wstring name = InstanceLockName(folder);
  // Initially owned: a new mutex is ours at once. An existing one is not, whatever we ask.
  ScopedHandle mutex(CreateMutexW(nullptr, TRUE, name.c_str()));
  if (!mutex) return Outcome::Unavailable;
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    mutex_ = mutex.release();
    return Outcome::Acquired;
  }
  if (!restarted) {
    ActivateRunningPatcher();
    return Outcome::OtherRunning;
  }
  // The old copy is on its way out; an abandoned mutex means it ended without releasing it,
  // which is as good as a release.
  DWORD wait = WaitForSingleObject(mutex.get(), restartWaitMs);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    mutex_ = mutex.release();
    return Outcome::Acquired;
  }
  return Outcome::OtherRunning;
}

}  // namespace sv
