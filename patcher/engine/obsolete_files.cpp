// Files a release no longer has: a list names them on its removal lines, and the patcher deletes
// the copies it put in place itself. A file the player made, or one no release listed, is never in
// the CRC cache; a listed file the player changed since has another size or time stamp than the
// cache recorded. Either stays.
#include <algorithm>

#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/crc_cache.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"

namespace sv {

void UpdateEngine::RemoveObsoleteFiles(const std::vector<std::wstring>& removed,
                                       const std::vector<FileEntry>& targets) {
  std::vector<std::wstring> listed;
  listed.reserve(targets.size());
  for (const FileEntry& entry : targets) listed.push_back(toLowerWide(entry.path));
  std::sort(listed.begin(), listed.end());
  for (const std::wstring& path : removed) {
    const std::wstring key = toLowerWide(path);
    // Another source (or a later line) still lists it, or it is the running patcher.
    if (std::binary_search(listed.begin(), listed.end(), key)) continue;
    if (key == ownProgramKey_) continue;
    const std::wstring fullPath = joinPath(root_, path);
    const os::FileInfo info = os::queryFileInfo(fullPath);
    if (!info.exists || info.directory) continue;
    bool installed = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      installed = CacheTrusted(crcCache_.find(key), info.size, info.lastWrite);
    }
    if (!installed) {
      Log(L"Kaldirilan dosya birakildi (patcher kurmadi ya da degismis): %ls", path.c_str());
      continue;
    }
    if (!os::deleteFile(fullPath)) {
      Log(L"Kaldirilan dosya silinemedi: %ls (%u)", path.c_str(), unsigned(os::lastError()));
      continue;
    }
    Log(L"Kaldirilan dosya silindi: %ls", path.c_str());
    std::lock_guard<std::mutex> guard(lock_);
    crcCache_[key] = CrcCacheEntry{};  // no file has size and time 0: a new one is never trusted
  }
}

}  // namespace sv
