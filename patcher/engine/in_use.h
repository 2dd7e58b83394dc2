#pragma once
// Files held open by other programs: the lock test, and the processes that hold given files.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

struct LockingProcess {
  uint32_t pid = 0;
  uint64_t startTime = 0;  // FILETIME of its creation; 0 when unknown
  std::wstring name;
  std::wstring path;
  bool closable = false;
  // Not closable because nothing tells it apart from a later process under the same pid: its
  // start time could not be read.
  bool identityUnknown = false;
};

// In-use answers of the dialog; anything else stops the update.
constexpr int32_t kInUseRetry = 1;
constexpr int32_t kInUseClose = 2;
constexpr int32_t kInUseStop = 3;

// A write-and-delete open without sharing fails with 32, 33 or 1224.
bool IsFileLocked(const std::wstring& path);
bool AnyFileLocked(const std::vector<std::wstring>& paths);

// The processes that hold any of the paths, closable ones first.
std::vector<LockingProcess> FindLockingProcesses(const std::vector<std::wstring>& paths);

}  // namespace sv
