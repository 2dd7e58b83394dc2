// Turning a downloaded ".part" into the game file: decode, verify, move into place.
#include "common/file.h"
#include "common/clock_os.h"
#include "common/file_os.h"
#include "common/folder_list.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "release/lz_decode.h"
#include "patcher/engine/update_engine.h"
#include "release/url.h"
#include "patcher/engine/object_hash.h"
#include "release/sha256.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr wchar_t kOldWorkFolder[] = L"Sarvik.tmp";
constexpr uint32_t kInUseWaitMs = 500;
constexpr uint32_t kCommitIdleMs = 10;
constexpr int32_t kInUseDialogTries = 5;     // the dialog is due after the sixth failed try
constexpr int32_t kInUseProtectedTries = 30;  // ... or the thirtieth when no holder can close

bool DecodeCancelled(void* context) {
  return static_cast<const CancelFlag*>(context)->load(std::memory_order_relaxed) != 0;
}

// ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE.
bool IsInUseError(uint32_t code) { return code == 32 || code == 5 || code == 33 || code == 1224; }

void DeleteIfPresent(const std::wstring& path) { os::deleteFile(path); }

}  // namespace

void UpdateEngine::PrepareWorkArea() {
  if (!createDirectories(workFolder_)) {
    Log(L"temp klasoru olusturulamadi: %ls (%u)", workFolder_.c_str(), unsigned(os::lastError()));
  }
  const std::wstring oldCache = joinPath(root_, kCrcCacheFileName);
  const std::wstring cache = joinPath(workFolder_, kCrcCacheFileName);
  if (isFile(oldCache)) {
    if (!isFile(cache)) {
      os::moveFile(oldCache, cache, true);
    } else {
      os::deleteFile(oldCache);
    }
  }
  const std::wstring oldWork = joinPath(root_, kOldWorkFolder);
  if (isDirectory(oldWork)) {
    std::vector<FolderItem> items;
    listFolder(oldWork, L"*", items);
    for (const FolderItem& found : items) {
      if (!found.directory) os::deleteFile(joinPath(oldWork, found.name));
    }
    if (os::removeDirectory(oldWork)) Log(L"Eski Sarvik.tmp klasoru temizlendi.");
  }
  DeleteIfPresent(NewExePath());
}

void UpdateEngine::CleanTempDownloads(const std::vector<std::wstring>* keep) {
  std::vector<std::wstring> keepLower;
  if (keep) {
    for (const std::wstring& path : *keep) keepLower.push_back(toLowerWide(path));
  }
  int deleted = 0;
  std::vector<FolderItem> items;
  listFolder(workFolder_, L"*", items);
  for (const FolderItem& found : items) {
    // The work files' names begin with "sv_", in any case.
    if (found.directory || toLowerWide(found.name).rfind(L"sv_", 0) != 0) continue;
    const std::wstring path = joinPath(workFolder_, found.name);
    const std::wstring lower = toLowerWide(path);
    bool kept = false;
    for (const std::wstring& k : keepLower) kept = kept || k == lower;
    if (!kept && os::deleteFile(path)) ++deleted;
  }
  if (deleted > 0) Log(L"temp: %d gecici indirme dosyasi silindi", deleted);
}

void UpdateEngine::FinishJob(int32_t jobIndex) {
  DownloadJob job;
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_[size_t(jobIndex)].state = kJobFinishing;
    ++status_.changeCounter;
    job = jobs_[size_t(jobIndex)];
  }
  createDirectories(parentPath(job.destPath));

  if (job.hasObject) {
    // Nothing unsigned is decoded: the bytes must be the object the signed list names.
    Sha256Digest digest{};
    uint64_t size = 0;
    if (!job.objectHash->Finish(job.partPath, digest, size) || size != job.objectSize ||
        digest != job.objectDigest) {
      Log(L"SHA-256 uyusmadi: %ls (%llu bayt, imzali liste %llu)", job.name.c_str(),
          (unsigned long long)size, (unsigned long long)job.objectSize);
      Redownload(jobIndex, kObjectRefusedText + job.name);
      return;
    }
  }
  FileReader reader;
  if (!reader.OpenRead(job.partPath)) {
    Redownload(jobIndex, Text("FAILED_DOWNLOAD_FILE") + L"\n" + job.name);
    return;
  }
  FileWriter writer;
  uint32_t createError = 0;
  if (!writer.OpenWrite(job.outPath, &createError)) {
    std::lock_guard<std::mutex> guard(lock_);
    SetDownloadFailure(Text("FAILED_CREATE_FILE") + L"\n" + job.outPath + L"\n" +
                       systemErrorText(createError));
    jobs_[size_t(jobIndex)].state = kJobFailed;
    return;
  }
  const LzResult decoded = LzDecode(reader, &writer, DecodeCancelled, &cancel_);
  const bool closed = writer.Close();
  reader.Close();

  if (Cancelled()) {
    // ".part" and ".state" stay for the next run.
    os::deleteFile(job.outPath);
    return;
  }
  if (!decoded.ok || !closed) {
    os::deleteFile(job.outPath);
    const std::wstring& why = decoded.error_text;
    if (!closed || why.find(L"yazılamadı") != std::wstring::npos ||
        why.find(L"yazilamadi") != std::wstring::npos) {
      std::lock_guard<std::mutex> guard(lock_);
      SetDownloadFailure(Text("FAILED_WRITE_FILE") + L"\n" + job.name);
      jobs_[size_t(jobIndex)].state = kJobFailed;
    } else {
      Redownload(jobIndex, Text("ERROR_LZO_DECOMPRESS") + L"\n" + job.name + L": " + why);
    }
    return;
  }
  if (decoded.crc != job.crc || decoded.out_size != job.size) {
    os::deleteFile(job.outPath);
    Log(L"CRC uyusmadi: %ls beklenen %08x/%llu gelen %08x/%llu", job.name.c_str(),
        unsigned(job.crc), (unsigned long long)job.size, unsigned(decoded.crc),
        (unsigned long long)decoded.out_size);
    Redownload(jobIndex, skin_.format("SV_CRC_MISMATCH", {job.name}));
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (committing_) {
      commitQueue_.push_back(jobIndex);
      return;
    }
  }
  CommitFile(jobIndex);
}

namespace {

// Through a handle of its own: the flush covers the file's data, whichever handle wrote it.
bool FlushFile(const std::wstring& path) {
  os::File file;
  const bool flushed = file.openSharedWrite(path, false) && file.flush();
  return file.close() && flushed;
}

}  // namespace

void UpdateEngine::CommitLoop() {
  for (;;) {
    int32_t next = -1;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!commitQueue_.empty()) {
        next = commitQueue_.front();
        commitQueue_.pop_front();
      } else if (commitsClosed_) {
        return;
      }
    }
    if (next < 0) {
      os::sleepMs(kCommitIdleMs);
    } else if (Cancelled()) {
      std::lock_guard<std::mutex> guard(lock_);
      os::deleteFile(jobs_[size_t(next)].outPath);  // ".part" and ".state" stay for the next run
    } else {
      CommitFile(next);
    }
  }
}

void UpdateEngine::CommitFile(int32_t jobIndex) {
  DownloadJob job;
  {
    std::lock_guard<std::mutex> guard(lock_);
    job = jobs_[size_t(jobIndex)];
  }
  // On the disk before the move: after a power cut the game file is old or new, never empty.
  if (!FlushFile(job.outPath)) {
    os::deleteFile(job.outPath);
    std::lock_guard<std::mutex> guard(lock_);
    SetDownloadFailure(Text("FAILED_WRITE_FILE") + L"\n" + job.name);
    jobs_[size_t(jobIndex)].state = kJobFailed;
    return;
  }
  std::wstring error;
  if (!ReplaceFile(job.outPath, job.destPath, job.name, error)) {
    os::deleteFile(job.outPath);
    std::lock_guard<std::mutex> guard(lock_);
    SetDownloadFailure(error);
    jobs_[size_t(jobIndex)].state = kJobFailed;
    return;
  }
  if (!os::deleteFile(job.partPath)) {
    Log(L"Uyari: gecici dosya silinemedi: %ls (%u)", job.partPath.c_str(),
        unsigned(os::lastError()));
  }
  os::deleteFile(job.statePath);
  if (!job.isExtra) RecordCrc(job.name, job.destPath, job.crc);
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_[size_t(jobIndex)].state = kJobDone;
    if (job.isExtra) selfUpdateReady_ = true;
    ++status_.changeCounter;
  }
  Log(L"Guncellendi: %ls (%ls)", job.name.c_str(), formatSize(job.size).c_str());
}

void UpdateEngine::Redownload(int32_t jobIndex, const std::wstring& reason) {
  std::wstring part, state, out;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const DownloadJob& job = jobs_[size_t(jobIndex)];
    part = job.partPath;
    state = job.statePath;
    out = job.outPath;
  }
  os::deleteFile(part);
  os::deleteFile(state);
  os::deleteFile(out);
  std::lock_guard<std::mutex> guard(lock_);
  DownloadJob& job = jobs_[size_t(jobIndex)];
  // Another mirror owes a download when the bad bytes came from one that is now left.
  const bool owed = BlameMirrors(job, reason);
  if (!owed && job.redownloads >= 1) {
    job.state = kJobFailed;
    SetDownloadFailure(reason);
    return;
  }
  if (!owed) ++job.redownloads;
  totalDownloaded_ -= job.downloaded < totalDownloaded_ ? job.downloaded : totalDownloaded_;
  job.downloaded = 0;
  job.remoteSize = -1;
  job.segmentSize = 0;
  job.partCount = 0;
  job.partsLeft = 0;
  job.partDone.clear();
  job.objectHash = NewObjectHash(job);
  // A cache on the way must not hand back the same bytes.
  if (!job.pastCache) job.url = PastCacheUrl(job.url);
  job.pastCache = true;
  job.state = kJobNew;
  queue_.push_back(WorkItem{jobIndex, -1, 0, 0});
  Log(L"Yeniden indirilecek: %ls (%ls)", job.name.c_str(), reason.c_str());
}

bool UpdateEngine::ReplaceFile(const std::wstring& source, const std::wstring& dest,
                               const std::wstring& relativePath, std::wstring& errorOut) {
  const os::FileInfo attributes = os::queryFileInfo(dest);
  // A folder where the file belongs is no file in use: no program holds it, and no wait helps.
  if (attributes.directory && FolderStaysAt(dest, relativePath)) {
    errorOut = Text("FAILED_WRITE_FILE") + L"\n" + relativePath + L": " +
               L"bu adda bir klasör var";
    return false;
  }
  if (attributes.exists && (attributes.readOnly || attributes.hiddenOrSystem)) {
    os::setNormalAttributes(dest);
  }
  const std::vector<std::wstring> watched = {dest, source};
  const std::vector<std::wstring> names = {relativePath};
  int32_t tries = 0;
  bool waiting = false;
  do {
    if (os::moveFile(source, dest, true)) {
      if (waiting) SetInUseText(L"");
      return true;
    }
    const uint32_t code = os::lastError();
    if (!IsInUseError(code)) {
      if (waiting) SetInUseText(L"");
      errorOut = Text("FAILED_WRITE_FILE") + L"\n" + relativePath + L": " + systemErrorText(code);
      return false;
    }
    if (!waiting) {
      Log(L"Dosya kullanimda, bekleniyor: %ls (%u)", relativePath.c_str(), unsigned(code));
      waiting = true;
    }
    SetInUseText(skin_.format("SV_FILE_IN_USE", {relativePath}));
    ++tries;
    if (!InUseDialogDue(tries, watched)) {
      SleepWatchingCancel(kInUseWaitMs);
      continue;
    }
    std::lock_guard<std::mutex> dialog(inUseLock_);
    if (!AskInUse(watched, names)) break;
    tries = 0;
  } while (!Cancelled());
  SetInUseText(L"");
  errorOut = Cancelled() ? std::wstring(L"İptal edildi")
                         : Text("SV_INUSE_STOPPED") + L"\n" + relativePath;
  return false;
}

bool UpdateEngine::FolderStaysAt(const std::wstring& path, const std::wstring& relativePath) {
  if (!isDirectory(path)) return false;
  // An empty folder where the release has a file holds nothing of the player's: it goes. One
  // with anything inside, even empty folders, may be the player's and stays; the error names it.
  if (os::removeDirectory(path)) {
    Log(L"Dosyanin yerindeki bos klasor silindi: %ls", relativePath.c_str());
    return false;
  }
  Log(L"Dosyanin yerindeki klasor birakildi: %ls (%u)", relativePath.c_str(),
      unsigned(os::lastError()));
  return true;
}

bool UpdateEngine::InUseDialogDue(int32_t tries, const std::vector<std::wstring>& paths) {
  if (tries <= kInUseDialogTries) return false;
  if (tries >= kInUseProtectedTries) return true;
  // Windows components usually let go within seconds: only they hold the file, so wait longer.
  const std::vector<LockingProcess> holders = FindHolders(paths);
  if (holders.empty()) return true;
  for (const LockingProcess& p : holders) {
    if (p.closable) return true;
  }
  return false;
}

}  // namespace sv
