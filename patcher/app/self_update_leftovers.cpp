#include "patcher/app/self_update_leftovers.h"

#include "common/clock_os.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"

namespace sv {

namespace {

constexpr int kDeleteTries = 40;
constexpr uint32_t kDeletePauseMs = 100;

void DeleteWithRetries(const std::wstring& path) {
  if (!isFile(path)) return;
  for (int attempt = 0; attempt < kDeleteTries; ++attempt) {
    if (os::deleteFile(path)) return;
    os::sleepMs(kDeletePauseMs);
  }
}

}  // namespace

void RemoveSelfUpdateLeftovers(const std::wstring& tempFolder, const std::wstring& programPath) {
  DeleteWithRetries(joinPath(tempFolder, fileName(programPath) + L".old"));
  DeleteWithRetries(programPath + L".old");
}

}  // namespace sv
