// The local check: which listed files differ from the game folder, with the CRC cache.
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "patcher/engine/engine_threads_win.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr DWORD kCheckTickMs = 100;

uint64_t FileTimeValue(const FILETIME& t) {
  return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

uint64_t AttributeSize(const WIN32_FILE_ATTRIBUTE_DATA& a) {
  return (uint64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

struct AlignedFree {
  void operator()(uint8_t* p) const { _aligned_free(p); }
};

}  // namespace

void UpdateEngine::LoadCrcCache() {
  CrcCacheMap loaded;
  std::wstring runPath;
  std::string bytes;
  if (readWholeFile(joinPath(workFolder_, kCrcCacheFileName), kCrcCacheLimit, bytes)) {
    ParseCrcCache(bytes, loaded, runPath);
  }
  std::lock_guard<std::mutex> guard(lock_);
  crcCache_ = std::move(loaded);
  if (!runPath.empty()) defaultRunPath_ = runPath;
}

void UpdateEngine::SaveCrcCache() {
  std::string text;
  {
    std::lock_guard<std::mutex> guard(lock_);
    text = FormatCrcCache(crcCache_, defaultRunPath_);
  }
  if (!writeFileAtomic(joinPath(workFolder_, kCrcCacheFileName), text.data(), text.size())) {
    Log(L"Uyari: %ls yazilamadi (%u)", kCrcCacheFileName, unsigned(GetLastError()));
  }
}

void UpdateEngine::RecordCrc(const std::wstring& relativePath, const std::wstring& fullPath,
                             uint32_t crc) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &attributes)) return;
  RecordCrc(relativePath, AttributeSize(attributes), FileTimeValue(attributes.ftLastWriteTime),
            crc);
}

void UpdateEngine::RecordCrc(const std::wstring& relativePath, uint64_t size, uint64_t lastWrite,
                             uint32_t crc) {
  const std::wstring key = toLowerWide(relativePath);
  std::lock_guard<std::mutex> guard(lock_);
  crcCache_[key] = CrcCacheEntry{size, lastWrite, crc};
}

bool UpdateEngine::CheckFiles(const std::vector<FileEntry>& targets,
                              std::vector<FileEntry>& toUpdateOut, FileEntry& patcherEntryOut,
                              bool& patcherDiffersOut) {
  SetStatus(kPhaseChecking, Text("TORRENT_STATE_CHECKING"));
  toUpdateOut.clear();
  patcherDiffersOut = false;

  // The list is checked where it lies: a copy of a few hundred thousand entries would double
  // the run's largest allocation. The running patcher alone is left out, by its position.
  size_t ownIndex = targets.size();
  for (size_t i = 0; i < targets.size(); ++i) {
    const FileEntry& entry = targets[i];
    if (ownProgramKey_.empty() || entry.path.size() != ownProgramKey_.size() ||
        toLowerWide(entry.path) != ownProgramKey_) {
      continue;
    }
    // The running patcher is never checked or installed here: the self-update replaces it.
    ownIndex = i;
    if (!EnsureOwnCrc()) break;
    if (ownCrc_ != entry.crc) {
      patcherEntryOut = entry;
      patcherDiffersOut = true;
    }
    break;
  }
  const size_t checkedCount = targets.size() - (ownIndex < targets.size() ? 1 : 0);

  std::vector<uint8_t> results(targets.size(), 0);
  uint64_t total = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (i != ownIndex) total += targets[i].size;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    bytesChecked_ = 0;
    bytesToCheck_ = total;
    checkList_ = &targets;
    checkSkipIndex_ = ownIndex;
    checkResults_ = results.data();
  }
  checkNext_.store(0);

  const int workerCount = checkedCount < 2 ? 1 : 2;
  HANDLE workers[2] = {};
  int started = 0;
  for (int i = 0; i < workerCount; ++i) {
    workers[started] = static_cast<HANDLE>(EngineThreads::Start(EngineThreads::Check, this));
    if (workers[started]) {
      ++started;
    } else {
      Log(L"_beginthreadex hatasi: %u", unsigned(GetLastError()));
    }
  }
  // Without any worker the check runs on this thread.
  if (started == 0) CheckWorker();
  for (;;) {
    const DWORD wait =
        started ? WaitForMultipleObjects(DWORD(started), workers, TRUE, kCheckTickMs) : WAIT_OBJECT_0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      const float fraction =
          bytesToCheck_ ? float(double(bytesChecked_) / double(bytesToCheck_)) : 1.0f;
      status_.overall = fraction > 1.0f ? 1.0f : fraction;
      status_.current = status_.overall;
      ++status_.changeCounter;
    }
    if (wait != WAIT_TIMEOUT) break;
  }
  for (int i = 0; i < started; ++i) CloseHandle(workers[i]);
  {
    std::lock_guard<std::mutex> guard(lock_);
    checkList_ = nullptr;
    checkResults_ = nullptr;
  }

  if (Cancelled() && !workerOutOfMemory_.load()) return false;
  // Only a worker with a read buffer takes files: any left over were read by nobody, and must
  // not pass for up to date.
  if (size_t(checkNext_.load()) < targets.size() || workerOutOfMemory_.load()) {
    return Fail(kOutOfMemoryText);
  }
  uint64_t updateBytes = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!results[i]) continue;
    updateBytes += targets[i].size;
    toUpdateOut.push_back(targets[i]);
  }
  Log(L"Kontrol: %u dosyadan %u tanesi guncellenecek (%ls)%ls", unsigned(checkedCount),
      unsigned(toUpdateOut.size()), formatSize(updateBytes).c_str(),
      patcherDiffersOut ? L" + patcher" : L"");
  return true;
}

void UpdateEngine::CheckWorker() {
  const DWORD readSize = checkReadSize_;
  std::unique_ptr<uint8_t, AlignedFree> buffer(
      static_cast<uint8_t*>(_aligned_malloc(readSize, 32)));
  if (!buffer) {
    Log(L"Kontrol tamponu ayrilamadi (%u bayt)", unsigned(readSize));
    return;
  }
  const std::vector<FileEntry>& list = *checkList_;
  for (;;) {
    const int32_t index = checkNext_.fetch_add(1);
    if (index < 0 || size_t(index) >= list.size() || Cancelled()) break;
    if (size_t(index) == checkSkipIndex_) continue;  // the running patcher, results[] stays 0
    const FileEntry& entry = list[size_t(index)];
    const std::wstring fullPath = joinPath(root_, entry.path);
    uint8_t mustDownload = 1;

    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        AttributeSize(attributes) != entry.size) {
      std::lock_guard<std::mutex> guard(lock_);
      bytesChecked_ += entry.size;
      checkResults_[index] = mustDownload;
      continue;
    }

    bool trusted = false;
    uint32_t crc = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      const CrcCacheEntry* cached = crcCache_.find(toLowerWide(entry.path));
      if (cached && cached->size == AttributeSize(attributes) &&
          cached->lastWrite == FileTimeValue(attributes.ftLastWriteTime)) {
        trusted = true;
        crc = cached->crc;
        bytesChecked_ += AttributeSize(attributes);
      }
      status_.currentText = entry.path;
      ++status_.changeCounter;
    }

    bool known = trusted;
    if (!trusted) {
      HANDLE file = CreateFileW(fullPath.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        uint32_t reg = 0xFFFFFFFFu;
        bool readOk = true;
        for (;;) {
          if (Cancelled()) {
            readOk = false;
            break;
          }
          DWORD got = 0;
          if (!ReadFile(file, buffer.get(), readSize, &got, nullptr)) {
            readOk = false;
            break;
          }
          if (got == 0) break;
          reg = Crc32Update(reg, buffer.get(), got);
          std::lock_guard<std::mutex> guard(lock_);
          bytesChecked_ += got;
        }
        CloseHandle(file);
        if (readOk) {
          crc = ~reg;
          known = true;
          if (testHook_) testHook_("checked", fullPath, testHookContext_);
          // The stamp taken before reading goes with this CRC; a file that changed meanwhile
          // is not recorded (its CRC may be of neither version).
          WIN32_FILE_ATTRIBUTE_DATA after;
          if (GetFileAttributesExW(fullPath.c_str(), GetFileExInfoStandard, &after) &&
              AttributeSize(after) == AttributeSize(attributes) &&
              FileTimeValue(after.ftLastWriteTime) == FileTimeValue(attributes.ftLastWriteTime)) {
            RecordCrc(entry.path, AttributeSize(attributes),
                      FileTimeValue(attributes.ftLastWriteTime), crc);
          } else {
            Log(L"Kontrol sirasinda degisti: %ls", entry.path.c_str());
            known = false;
          }
        }
      }
    }
    if (known && crc == entry.crc) mustDownload = 0;
    std::lock_guard<std::mutex> guard(lock_);
    checkResults_[index] = mustDownload;
  }
}

}  // namespace sv
