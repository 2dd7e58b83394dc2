#pragma once
// One ordinary patcher per game folder: a named mutex per folder within the logon session.
#include <string>

namespace sv {

// "Local\Sarvik_" + "%08x" of the CRC-32 of the folder's UTF-8 bytes after locale-aware
// lower-casing, so that C:\Games\X and c:\games\x share the lock.
std::wstring InstanceLockName(const std::wstring& folder);

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

private:
  void* mutex_ = nullptr;
};

// Restores the running patcher's window when it is minimised and brings it to the front.
void ActivateRunningPatcher();

}  // namespace sv
