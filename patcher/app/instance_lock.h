#pragma once
// One ordinary patcher per game folder: a named mutex per folder within the logon session, and a
// tag on the main window so that a second start brings that folder's patcher to the front.
#include <string>

namespace sv {

// The folder as the lock is named from it: without a "\\?\" (or "\\?\UNC\") prefix, '/' as '\',
// without trailing separators (a drive's root keeps its own), lower-cased like the file system's
// own comparison. The Windows side first resolves the folder to its long, final path
// (ResolveLockFolder), so that an 8.3 short name reaches the same spelling.
std::wstring NormalizeLockFolder(const std::wstring& folder);

// "Local\Sarvik_" + "%08x" of the CRC-32 of NormalizeLockFolder(folder) in UTF-8, so that
// C:\Games\X, c:\games\x and C:\Games\X\ share the lock.
std::wstring InstanceLockName(const std::wstring& folder);

// The name of the main window's property that tells which folder's patcher the window is
// ("SarvikLock_" + the lock name's CRC): a window without it (the builder's preview, another
// folder's patcher) is never brought to the front by a second start.
std::wstring InstanceWindowTag(const std::wstring& lockName);

// What opening the folder's mutex found.
enum class MutexOpen {
  Created,       // it did not exist: it is ours
  Existed,       // another process of this user holds it
  AccessDenied,  // it exists but we may not open it: an elevated patcher holds it
  Failed,        // any other failure (no such object can be made)
};

enum class LockStep {
  Own,            // this process owns the folder's lock
  ActivateOther,  // another patcher runs here: bring its window to the front and end
  WaitForOld,     // a restarted copy: wait for the old copy to end, then own the lock
  GoOnWithout,    // no lock can be had at all: run without one
};

// Access denied means that another patcher runs (elevated, so this one may not even open its
// mutex): it is no reason to run without the lock.
LockStep DecideLockStep(MutexOpen opened, bool restarted);

class InstanceLock {
public:
  enum class Outcome {
    Acquired,      // this process owns the folder's lock
    Unavailable,   // the mutex could not be created; go on without a lock
    OtherRunning,  // another patcher holds it (activated, or not released within the wait)
  };

  InstanceLock() = default;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // Releases an owned lock.
  ~InstanceLock();

  // Takes the lock of `folder`. When another patcher holds it, a fresh start brings that
  // patcher's window to the front; a restarted copy (after a self-update or an elevated restart)
  // waits up to `restartWaitMs` for the old copy to end instead.
  Outcome Acquire(const std::wstring& folder, bool restarted, unsigned restartWaitMs = 15000);

  // The tag for the main window (InstanceWindowTag of this folder's lock); empty before Acquire.
  const std::wstring& WindowTag() const { return tag_; }

private:
  void* mutex_ = nullptr;
  std::wstring tag_;
};

// The folder's long, final path as the file system spells it ("\\?\" prefix kept off); the
// folder itself when it cannot be resolved. Windows only.
std::wstring ResolveLockFolder(const std::wstring& folder);

// Restores the window of the patcher whose main window carries `tag` when it is minimised and
// brings it to the front; a main window without that tag is left alone. False when none has it.
bool ActivateRunningPatcher(const std::wstring& tag);

// For the tests: how Acquire opens the mutex (CreateMutexW by default). Returns the handle (null
// on failure) and the last error.
using MutexOpener = void* (*)(const std::wstring& name, unsigned long& lastError);
void SetMutexOpenerForTests(MutexOpener opener);

}  // namespace sv
