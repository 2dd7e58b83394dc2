#include <windows.h>

#include <cwchar>

#include "common/file_os.h"
#include "common/scoped_win.h"
#include "patcher/app/instance_lock.h"
#include "patcher/app/main_window.h"

namespace sv {

namespace {

void* CreateFolderMutex(const std::wstring& name, unsigned long& lastError) {
  // Initially owned: a new mutex is ours at once. An existing one is not, whatever we ask.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
  lastError = GetLastError();
  return mutex;
}

MutexOpener gOpenMutex = CreateFolderMutex;

MutexOpen Classify(void* mutex, unsigned long error) {
  if (!mutex) return error == ERROR_ACCESS_DENIED ? MutexOpen::AccessDenied : MutexOpen::Failed;
  return error == ERROR_ALREADY_EXISTS ? MutexOpen::Existed : MutexOpen::Created;
}

constexpr DWORD kDeniedRetryMs = 100;

struct TaggedSearch {
  const wchar_t* tag;
  HWND found;
};

BOOL CALLBACK FindTagged(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TaggedSearch*>(param);
  wchar_t cls[64] = {};
  if (!GetClassNameW(window, cls, 64) || std::wcscmp(cls, kMainWindowClass) != 0) return TRUE;
  if (!GetPropW(window, search->tag)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

void SetMutexOpenerForTests(MutexOpener opener) { gOpenMutex = opener ? opener : CreateFolderMutex; }

std::wstring ResolveLockFolder(const std::wstring& folder) {
  // The final path: long names, the file system's own spelling, links and substituted drives
  // followed. A folder that cannot be opened gets its full, long path at least.
  HANDLE h = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= path.size()) {
      path.resize(n);
      n = GetFinalPathNameByHandleW(h, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(h);
    if (n > 0 && n < path.size()) {
      path.resize(n);
      return path;
    }
  }
  return os::longFullPath(folder);
}

bool ActivateRunningPatcher(const std::wstring& tag) {
  TaggedSearch search{tag.c_str(), nullptr};
  EnumWindows(FindTagged, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return false;
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
  return true;
}

InstanceLock::~InstanceLock() {
  if (mutex_) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

InstanceLock::Outcome InstanceLock::Acquire(const std::wstring& folder, bool restarted,
                                            unsigned restartWaitMs) {
  const std::wstring name = InstanceLockName(ResolveLockFolder(folder));
  tag_ = InstanceWindowTag(name);
  unsigned long error = 0;
  ScopedHandle mutex(gOpenMutex(name, error));
  switch (DecideLockStep(Classify(mutex.get(), error), restarted)) {
    case LockStep::Own:
      mutex_ = mutex.release();
      return Outcome::Acquired;
    case LockStep::GoOnWithout:
      return Outcome::Unavailable;
    case LockStep::ActivateOther:
      ActivateRunningPatcher(tag_);
      return Outcome::OtherRunning;
    case LockStep::WaitForOld:
      break;
  }
  if (mutex) {
    // The old copy is on its way out; an abandoned mutex means it ended without releasing it,
    // which is as good as a release.
    const DWORD wait = WaitForSingleObject(mutex.get(), restartWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      mutex_ = mutex.release();
      return Outcome::Acquired;
    }
    return Outcome::OtherRunning;
  }
  // A mutex we may not open (the old copy runs elevated) cannot be waited for: ask again until
  // the old copy has gone and the mutex with it.
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < restartWaitMs) {
    Sleep(kDeniedRetryMs);
    mutex.reset(gOpenMutex(name, error));
    const LockStep step = DecideLockStep(Classify(mutex.get(), error), false);
    if (step == LockStep::Own) {
      mutex_ = mutex.release();
      return Outcome::Acquired;
    }
    if (step == LockStep::GoOnWithout) return Outcome::Unavailable;
    if (mutex) {  // now openable: wait for it the ordinary way, for what is left of the time
      const ULONGLONG spent = GetTickCount64() - start;
      const DWORD left = spent < restartWaitMs ? DWORD(restartWaitMs - spent) : 0;
      const DWORD wait = WaitForSingleObject(mutex.get(), left);
      if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        mutex_ = mutex.release();
        return Outcome::Acquired;
      }
      return Outcome::OtherRunning;
    }
  }
  return Outcome::OtherRunning;
}

}  // namespace sv
