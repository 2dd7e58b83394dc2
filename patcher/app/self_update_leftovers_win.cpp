#include <windows.h>

#include "common/file.h"
#include "common/path.h"
#include "patcher/app/self_update_leftovers.h"

namespace sv {

namespace {

constexpr int kDeleteTries = 40;
constexpr DWORD kDeletePauseMs = 100;

void DeleteWithRetries(const std::wstring& path) {
  if (!isFile(path)) return;
  for (int attempt = 0; attempt < kDeleteTries; ++attempt) {
    if (DeleteFileW(path.c_str())) return;
    Sleep(kDeletePauseMs);
  }
}

}  // namespace

void RemoveSelfUpdateLeftovers(const std::wstring& tempFolder, const std::wstring& programPath) {
  DeleteWithRetries(joinPath(tempFolder, fileName(programPath) + L".old"));
  DeleteWithRetries(programPath + L".old");
}

}  // namespace sv
