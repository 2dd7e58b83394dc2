// The local check: which listed files differ from the game folder, with the CRC cache.
#include <memory>
#include <new>

#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr uint32_t kCheckTickMs = 100;
constexpr std::align_val_t kBufferAlignment{32};

struct AlignedFree {
  void operator()(uint8_t* p) const { ::operator delete[](p, kBufferAlignment); }
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
  // Written straight from the map, under the lock only while the text is written (not while it
  // is flushed): a copy of the text would hold megabytes more at the run's fullest point.
  const bool saved = writeFileAtomic(joinPath(workFolder_, kCrcCacheFileName),
                                     [this](const PieceWriter& write) {
                                       std::lock_guard<std::mutex> guard(lock_);
                                       return WriteCrcCache(crcCache_, defaultRunPath_, write);
                                     });
  if (!saved) {
    Log(L"Uyari: %ls yazilamadi (%u)", kCrcCacheFileName, unsigned(os::lastError()));
  }
}

void UpdateEngine::RecordCrc(const std::wstring& relativePath, const std::wstring& fullPath,
                             uint32_t crc) {
  const os::FileInfo attributes = os::queryFileInfo(fullPath);
  if (!attributes.exists) return;
  RecordCrc(relativePath, attributes.size, attributes.lastWrite, crc);
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
  SetStatus(kPhaseChecking, repair_ ? skin_.format("SV_VERIFYING", {formatPercent(0.0f)})
                                    : Text("TORRENT_STATE_CHECKING"));
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
    // The running patcher is never checked or installed here: the self-update replaces it, when
    // the rule makes this entry its target (PlanFileListUpdate).
    ownIndex = i;
    if (!EnsureOwnCrc()) break;
    SelfUpdateFacts facts = SelfUpdateFactsNow();
    facts.listNames = true;
    facts.listCrc = entry.crc;
    const SelfUpdatePlan plan = PlanFileListUpdate(facts);
    for (const std::wstring& line : plan.logLines) Log(L"%ls", line.c_str());
    if (plan.route == SelfUpdateRoute::FileList) {
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
  os::Thread workers[2];
  int started = 0;
  for (int i = 0; i < workerCount; ++i) {
    if (workers[started].start(CheckEntry, this)) {
      ++started;
    } else {
      Log(L"_beginthreadex hatasi: %u", unsigned(os::lastError()));
    }
  }
  // Without any worker the check runs on this thread.
  if (started == 0) CheckWorker();
  for (;;) {
    const bool ended = os::Thread::waitAll(workers, started, kCheckTickMs);
    {
      std::lock_guard<std::mutex> guard(lock_);
      const float fraction =
          bytesToCheck_ ? float(double(bytesChecked_) / double(bytesToCheck_)) : 1.0f;
      status_.overall = fraction > 1.0f ? 1.0f : fraction;
      status_.current = status_.overall;
      if (repair_) {
        status_.statusText = skin_.format("SV_VERIFYING", {formatPercent(status_.overall)});
      }
      ++status_.changeCounter;
    }
    if (ended) break;
  }
  for (int i = 0; i < started; ++i) workers[i].release();
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
  const uint32_t readSize = checkReadSize_;
  std::unique_ptr<uint8_t, AlignedFree> buffer(static_cast<uint8_t*>(
      ::operator new[](readSize, kBufferAlignment, std::nothrow)));
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

    const os::FileInfo attributes = os::queryFileInfo(fullPath);
    if (!attributes.exists || attributes.directory || attributes.size != entry.size) {
      std::lock_guard<std::mutex> guard(lock_);
      bytesChecked_ += entry.size;
      checkResults_[index] = mustDownload;
      continue;
    }

    bool trusted = false;
    uint32_t crc = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      // A repair believes no remembered CRC: every listed file's entry is made again from its
      // bytes. Entries of files no longer listed stay, as the removal of obsolete files needs
      // them to know what this patcher put in place.
      const CrcCacheEntry* cached = repair_ ? nullptr : crcCache_.find(toLowerWide(entry.path));
      if (CacheTrusted(cached, attributes.size, attributes.lastWrite)) {
        trusted = true;
        crc = cached->crc;
        bytesChecked_ += attributes.size;
      }
      status_.currentText = entry.path;
      ++status_.changeCounter;
    }

    bool known = trusted;
    if (!trusted) {
      uint64_t readSizeTotal = 0;
      const bool readOk =
          !Cancelled() &&
          Crc32File(fullPath, buffer.get(), readSize, crc, readSizeTotal, [this](uint32_t got) {
            {
              std::lock_guard<std::mutex> guard(lock_);
              bytesChecked_ += got;
            }
            return !Cancelled();
          });
      if (readOk) {
        known = true;
        if (testHook_) testHook_("checked", fullPath, testHookContext_);
        // The stamp taken before reading goes with this CRC; a file that changed meanwhile
        // is not recorded (its CRC may be of neither version).
        const os::FileInfo after = os::queryFileInfo(fullPath);
        if (after.exists && after.size == attributes.size &&
            after.lastWrite == attributes.lastWrite) {
          RecordCrc(entry.path, attributes.size, attributes.lastWrite, crc);
        } else {
          Log(L"Kontrol sirasinda degisti: %ls", entry.path.c_str());
          known = false;
        }
      }
    }
    if (known && crc == entry.crc) mustDownload = 0;
    std::lock_guard<std::mutex> guard(lock_);
    checkResults_[index] = mustDownload;
  }
}

}  // namespace sv
