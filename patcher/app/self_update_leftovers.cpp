#include "patcher/app/self_update_leftovers.h"

#include <cstdint>

#include "common/clock_os.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"
#include "patcher/engine/self_update.h"

namespace sv {

namespace {

constexpr int kDeleteTries = 40;
constexpr uint32_t kDeletePauseMs = 100;

bool RemoveOne(const std::wstring& path) {
  if (!os::queryAttributes(path).exists) return true;
  // A read-only program gives a read-only ".old" (a move keeps the attribute), which no delete
  // would ever remove: every start would wait the whole retry time for it.
  os::clearReadOnly(path);
  return os::deleteFile(path);
}

void Pause(uint32_t ms) { os::sleepMs(ms); }

}  // namespace

void RemoveWithRetries(const std::vector<std::wstring>& paths,
                       bool (*remove)(const std::wstring& path), void (*pause)(uint32_t ms)) {
  for (const std::wstring& path : paths) {
    for (int attempt = 0; attempt < kDeleteTries; ++attempt) {
      if (remove(path)) break;
      if (attempt + 1 < kDeleteTries) pause(kDeletePauseMs);
    }
  }
}

void RemoveSelfUpdateLeftovers(const std::wstring& tempFolder, const std::wstring& programPath) {
  RemoveWithRetries(SelfUpdateLeftovers(tempFolder, programPath), RemoveOne, Pause);
}

}  // namespace sv
