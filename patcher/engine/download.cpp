// Segmented download of the files to update, with resume state and retries.
#include "common/clock_os.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "patcher/engine/object_hash.h"
#include "patcher/engine/resume_state.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr uint32_t kProgressTickMs = 250;
constexpr uint32_t kIdleSleepMs = 40;
constexpr uint64_t kStateFileLimit = 1048576;
constexpr uint32_t kHttpRangeNotSatisfiable = 416;
constexpr uint32_t kErrorWriteFault = 29;  // ERROR_WRITE_FAULT
// How often a transfer asks whether a faster mirror should take over what it is left to bring.
constexpr uint32_t kMoveLookMs = 250;

bool ItemReady(const WorkItem& item, uint32_t now) {
  return item.notBefore == 0 || int32_t(now - item.notBefore) >= 0;
}

}  // namespace

// One attempt's writes into a ".part" file.
struct DownloadSink {
  UpdateEngine* engine = nullptr;
  int32_t job = 0;
  int32_t generation = 0;        // of the job when the attempt began
  os::File* file = nullptr;      // positioned at the attempt's first byte
  uint64_t limit = 0;            // more bytes than this fail the attempt
  uint64_t attemptBytes = 0;
  uint32_t writeError = 0;
  bool overLimit = false;
  // A transfer from a slow mirror is cut off for a faster one.
  Attempt* attempt = nullptr;
  uint64_t expected = 0;  // bytes asked for
  uint32_t began = 0;
  // The request's own stop flag: set when the run is cancelled or the transfer is cut off, so
  // that a transfer waiting for its slow server's next piece ends at once.
  CancelFlag stop{0};
};

bool UpdateEngine::SinkPiece(void* context, const void* data, uint32_t size) {
  DownloadSink& sink = *static_cast<DownloadSink*>(context);
  if (size > sink.limit - sink.attemptBytes) {
    sink.overLimit = true;
    return false;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t left = size;
  while (left > 0) {
    uint32_t written = 0;
    if (!sink.file->write(p, left, written) || written == 0) {
      sink.writeError = os::lastError();
      if (sink.writeError == 0) sink.writeError = kErrorWriteFault;
      return false;
    }
    p += written;
    left -= written;
  }
  UpdateEngine& engine = *sink.engine;
  std::lock_guard<std::mutex> guard(engine.lock_);
  DownloadJob& job = engine.jobs_[size_t(sink.job)];
  // The file starts afresh: what this attempt brings belongs to the old resource.
  if (job.generation != sink.generation) return false;
  sink.attemptBytes += size;
  job.downloaded += size;
  engine.totalDownloaded_ += size;
  const uint32_t now = os::tickCount();
  if (now - engine.lastCutLook_ >= kMoveLookMs) engine.CutSlowTransfers(now);
  return !IsCancelled(&sink.stop);
}

void UpdateEngine::CutSlowTransfers(uint32_t now) {
  lastCutLook_ = now;
  if (!mirrors_.HasMirrors()) return;
  std::lock_guard<std::mutex> guard(sinksLock_);
  for (DownloadSink* sink : runningSinks_) {
    Attempt& attempt = *sink->attempt;
    if (!attempt.mayMove || attempt.mirror < 0 || attempt.movedTo >= 0) continue;
    const uint64_t left =
        sink->expected > sink->attemptBytes ? sink->expected - sink->attemptBytes : 0;
    attempt.movedTo =
        mirrors_.FasterElsewhere(attempt.mirror, sink->attemptBytes, now - sink->began, left);
    if (attempt.movedTo >= 0) sink->stop.store(1);
  }
}

bool UpdateEngine::GetWatched(DownloadSink& sink, const std::wstring& url, int64_t first,
                              int64_t last, HttpResult& result) {
  {
    std::lock_guard<std::mutex> guard(sinksLock_);
    runningSinks_.push_back(&sink);
    if (Cancelled()) sink.stop.store(1);
  }
  const bool ok = http_.Get(url, first, last, result, SinkPiece, &sink, &sink.stop);
  std::lock_guard<std::mutex> guard(sinksLock_);
  for (size_t i = 0; i < runningSinks_.size(); ++i) {
    if (runningSinks_[i] != &sink) continue;
    runningSinks_[i] = runningSinks_.back();
    runningSinks_.pop_back();
    break;
  }
  return ok;
}

void UpdateEngine::StopRunningTransfers() {
  std::lock_guard<std::mutex> guard(sinksLock_);
  for (DownloadSink* sink : runningSinks_) sink->stop.store(1);
}

namespace {

void NoteServedBy(DownloadJob& job, int32_t mirror) {
  if (mirror < 0) return;
  for (int32_t id : job.servedBy) {
    if (id == mirror) return;
  }
  job.servedBy.push_back(mirror);
}

// Takes back what a failed attempt added to the counters (engine lock held).
void TakeBack(DownloadJob& job, uint64_t& total, uint64_t bytes) {
  job.downloaded -= bytes < job.downloaded ? bytes : job.downloaded;
  total -= bytes < total ? bytes : total;
}

}  // namespace

void UpdateEngine::SetDownloadFailure(const std::wstring& text) {
  if (downloadFailed_) return;
  downloadFailed_ = true;
  downloadFailure_ = text;
}

bool UpdateEngine::EnsureDiskSpace(uint64_t bytes) {
  uint64_t available = 0;
  if (!os::freeDiskSpace(gameFolder_, available)) {
    Log(L"GetDiskFreeSpaceEx hatasi: %u", unsigned(os::lastError()));
    return true;  // unknown: the writes themselves report a full disk
  }
  const uint64_t needed = DiskSpaceNeeded(bytes);
  return available >= needed || Fail(skin_.format("SV_DISK_FULL", {formatSize(needed)}));
}

bool UpdateEngine::DownloadFiles(const std::vector<FileEntry>& entries, const FileEntry* extra) {
  SetStatus(kPhaseDownloading, Text("TORRENT_STATE_DOWNLOADING"));
  if (!createDirectories(workFolder_)) {
    return Fail(Text("FAILED_CREATE_FILE") + L"\n" + joinPath(gameFolder_, kWorkFolderName));
  }
  uint64_t sum = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_.clear();
    queue_.clear();
    activeWorkers_ = 0;
    downloadFailed_ = false;
    downloadFailure_.clear();
    totalDownloaded_ = 0;
    selfUpdateReady_ = false;
    progress_.Reset();
    for (const FileEntry& entry : entries) {
      jobs_.push_back(MakeDownloadJob(entry, root_, workFolder_));
      sum += entry.size;
    }
    if (extra) {
      DownloadJob job = MakeDownloadJob(*extra, root_, workFolder_);
      // The new patcher waits beside the work files until the self-update applies it.
      job.destPath = NewExePath();
      job.isExtra = true;
      jobs_.push_back(std::move(job));
      sum += extra->size;
    }
  }

  std::vector<std::wstring> keep;
  for (const DownloadJob& job : jobs_) {
    keep.push_back(job.partPath);
    keep.push_back(job.statePath);
  }
  CleanTempDownloads(&keep);

  if (!EnsureDiskSpace(sum)) return false;

  // Refused before any byte is fetched: the ".lz" header could not even state the length.
  for (const DownloadJob& job : jobs_) {
    if (job.size > kMaxFileSize) {
      return Fail(Text("FAILED_DOWNLOAD_FILE") + L"\n" + job.name + L": " + formatSize(job.size) +
                  L"; 4 GB ve üzeri dosyalar desteklenmiyor");
    }
    if (!job.isExtra && FolderStaysAt(job.destPath, job.name)) {
      return Fail(Text("FAILED_WRITE_FILE") + L"\n" + job.name + L": bu adda bir klasör var");
    }
  }

  if (!WaitForFilesBeforeDownload()) {
    if (Cancelled()) return false;
    return Fail(Text("SV_INUSE_STOPPED"));
  }

  std::vector<int32_t> ready;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    DownloadJob& job = jobs_[i];
    std::lock_guard<std::mutex> guard(lock_);
    if (!LoadResumeState(job)) {
      queue_.push_back(WorkItem{int32_t(i), -1, 0, 0});
      continue;
    }
    Log(L"Kaldigi yerden devam: %ls (%d/%d parca)", job.name.c_str(),
        job.partCount - job.partsLeft, job.partCount);
    job.state = kJobDownloading;
    if (job.partsLeft == 0) {
      ready.push_back(int32_t(i));
      continue;
    }
    for (int32_t k = 0; k < job.partCount; ++k) {
      if (!job.partDone[size_t(k)]) queue_.push_back(WorkItem{int32_t(i), k, 0, 0});
    }
  }
  for (int32_t index : ready) {
    if (Cancelled()) break;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (downloadFailed_) break;
    }
    FinishJob(index);
  }
  if (Cancelled()) return false;
  {
    std::unique_lock<std::mutex> guard(lock_);
    if (downloadFailed_) {
      const std::wstring failure = downloadFailure_;
      guard.unlock();
      return Fail(failure);
    }
  }

  const int32_t workerCount = ClampWorkers(connections_);
  Log(L"Indirme basliyor: %u dosya, %ls, %d baglanti, parca %ls", unsigned(jobs_.size()),
      formatSize(sum).c_str(), workerCount, formatSize(segmentSize_).c_str());
  os::Thread committer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    commitQueue_.clear();
    commitsClosed_ = false;
    committing_ = committer.start(CommitEntry, this);
  }
  os::Thread workers[kMaxWorkers];
  int32_t started = 0;
  for (int32_t i = 0; i < workerCount; ++i) {
    if (workers[started].start(DownloadEntry, this)) {
      ++started;
    } else {
      Log(L"_beginthreadex hatasi: %u", unsigned(os::lastError()));
    }
  }
  if (started == 0) WorkerLoop();
  for (;;) {
    const bool ended = os::Thread::waitAll(workers, started, kProgressTickMs);
    ProgressTick();
    if (ended) break;
  }
  for (int32_t i = 0; i < started; ++i) workers[i].release();
  {
    std::lock_guard<std::mutex> guard(lock_);
    commitsClosed_ = true;
  }
  while (!committer.wait(kProgressTickMs)) ProgressTick();
  committer.release();
  {
    std::lock_guard<std::mutex> guard(lock_);
    committing_ = false;
  }

  if (Cancelled()) return false;
  std::wstring failure;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (downloadFailed_) {
      failure = downloadFailure_;
    } else {
      for (const DownloadJob& job : jobs_) {
        if (job.state != kJobDone) {
          failure = Text("FAILED_DOWNLOAD_FILE") + L"\n" + job.name;
          break;
        }
      }
    }
  }
  if (!failure.empty()) return Fail(failure);
  CleanTempDownloads(&keep);
  return true;
}

Attempt UpdateEngine::BeginAttempt(const WorkItem& item) {
  DownloadJob& job = jobs_[size_t(item.job)];
  Attempt attempt;
  attempt.url = job.url;
  const bool keepPin = job.pinned && job.pinMirror >= 0 && !mirrors_.at(job.pinMirror).left;
  attempt.mirror = keepPin ? job.pinMirror : mirrors_.Pick(job.baseUrl, item.avoid);
  if (job.pinned) job.pinMirror = attempt.mirror;
  if (attempt.mirror < 0) return attempt;
  mirrors_.Begin(attempt.mirror);
  const std::wstring& base = mirrors_.at(attempt.mirror).base;
  if (base != job.baseUrl) {
    attempt.url = FileDownloadUrl(base, job.listPath, job.crc);
    if (job.pastCache) attempt.url = PastCacheUrl(attempt.url);
  }
  attempt.mayMove = mirrors_.HasMirrors() && item.avoid < 0 && !job.pinned;
  return attempt;
}

bool UpdateEngine::MoveToOtherMirror(WorkItem& item, const Attempt& attempt,
                                     const std::wstring& error) {
  if (attempt.mirror < 0) return false;
  const Mirror& mirror = mirrors_.at(attempt.mirror);
  if (attempt.movedTo >= 0) {
    Log(L"Yavas ayna: %ls; kalan is %ls aynasina", mirror.base.c_str(),
        mirrors_.at(attempt.movedTo).base.c_str());
    item.avoid = attempt.mirror;
  } else if (attempt.remoteFault && mirror.left) {
    item.avoid = -1;  // left meanwhile for another attempt's failure
  } else if (attempt.remoteFault && mirrors_.Leave(attempt.mirror, error)) {
    Log(L"Ayna birakildi: %ls (%ls)", mirror.base.c_str(), mirror.whyLeft.c_str());
    item.avoid = -1;
  } else {
    return false;
  }
  // Taken at once by another mirror, without counting as a failed attempt of the file.
  item.notBefore = 0;
  queue_.push_front(item);
  return true;
}

bool UpdateEngine::BlameMirrors(DownloadJob& job, const std::wstring& reason) {
  std::vector<int32_t> served;
  served.swap(job.servedBy);
  const bool resumed = job.resumed;
  job.resumed = false;
  job.firstMirror = -1;
  job.pinMirror = -1;
  // Segments of an earlier run came from mirrors unknown: no one is blamed for them.
  if (resumed || served.empty()) return false;
  if (served.size() == 1) {
    const Mirror& mirror = mirrors_.at(served[0]);
    if (mirror.left) return true;  // the same mirror's bytes, left for another file's
    if (!mirrors_.Leave(served[0], reason)) return false;
    Log(L"Ayna birakildi: %ls (%ls)", mirror.base.c_str(), mirror.whyLeft.c_str());
    return true;
  }
  if (job.pinned) return false;
  // Which of the mirrors sent the bad bytes is unknown: the next download comes from one.
  job.pinned = true;
  Log(L"%ls birden cok aynadan geldi; tek aynadan yeniden indirilecek", job.name.c_str());
  return true;
}

void UpdateEngine::LogMirrors() const {
  std::vector<std::wstring> lines;
  {
    std::lock_guard<std::mutex> guard(lock_);
    lines = mirrors_.Report();
  }
  for (const std::wstring& line : lines) Log(L"%ls", line.c_str());
}

void UpdateEngine::WorkerLoop() {
  for (;;) {
    WorkItem item;
    Attempt attempt;
    {
      std::unique_lock<std::mutex> guard(lock_);
      if (downloadFailed_ || Cancelled()) return;
      const uint32_t now = os::tickCount();
      auto found = queue_.begin();
      while (found != queue_.end() && !ItemReady(*found, now)) ++found;
      if (found == queue_.end()) {
        if (queue_.empty() && activeWorkers_ == 0) return;
        guard.unlock();
        os::sleepMs(kIdleSleepMs);
        continue;
      }
      item = *found;
      queue_.erase(found);
      ++activeWorkers_;
      ++jobs_[size_t(item.job)].attemptsInFlight;
      attempt = BeginAttempt(item);
    }

    std::wstring error;
    bool complete = false;
    const uint32_t began = os::tickCount();
    const bool ok = item.part < 0 ? FirstRequest(item.job, attempt, error, complete)
                                  : DownloadPart(item.job, item.part, attempt, error, complete);
    if (ok && complete && !Cancelled()) FinishJob(item.job);
    if (ok && !complete && !Cancelled()) AdvanceObjectHash(item.job);

    bool restart = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      DownloadJob& job = jobs_[size_t(item.job)];
      --job.attemptsInFlight;
      restart = job.restartPending && job.attemptsInFlight == 0 && !downloadFailed_;
      if (restart) job.restartPending = false;
    }
    if (restart && !Cancelled()) RestartJob(item.job);

    std::lock_guard<std::mutex> guard(lock_);
    --activeWorkers_;
    if (attempt.mirror >= 0) {
      mirrors_.End(attempt.mirror, attempt.bytes, os::tickCount() - began, ok,
                   ok || attempt.movedTo >= 0);
      // A new measure may show a running transfer to be the slow one: cut now, not at its
      // server's next piece, which a paced server may send a second later.
      CutSlowTransfers(os::tickCount());
    }
    if (ok || Cancelled() || downloadFailed_) continue;
    if (MoveToOtherMirror(item, attempt, error)) continue;
    if (attempt.finalFault) {
      SetDownloadFailure(error);
      continue;
    }
    ++item.retries;
    if (item.retries < kWorkItemAttempts) {
      // Delays of 2, 4, 8 and 16 s, kept in the queue so no worker waits on them.
      item.notBefore = os::tickCount() + (1000u << item.retries);
      if (item.notBefore == 0) item.notBefore = 1;
      queue_.push_back(item);
      Log(L"Tekrar denenecek (%d): %ls", item.retries, error.c_str());
    } else {
      SetDownloadFailure(error);
    }
  }
}

bool UpdateEngine::FirstRequest(int32_t jobIndex, Attempt& attempt, std::wstring& errorOut,
                                bool& completeOut) {
  completeOut = false;
  std::wstring name, partPath;
  const std::wstring& url = attempt.url;
  uint64_t size = 0, limit = 0;
  int32_t generation = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    DownloadJob& job = jobs_[size_t(jobIndex)];
    name = job.name;
    partPath = job.partPath;
    size = job.size;
    // A signed object is exactly its size: a longer answer ends at that size, not near 2^32.
    limit = job.hasObject ? job.objectSize : MaxLzStreamSize(size);
    job.state = kJobDownloading;
    job.downloaded = 0;
    generation = job.generation;
  }
  os::File file;
  if (!file.openSharedWrite(partPath, true)) {
    errorOut = Text("FAILED_CREATE_FILE") + L" " + systemErrorText(os::lastError());
    return false;
  }
  const uint64_t segment = segmentSize_;
  // Never asked for more than the file can be: a small file's request ends at its bound.
  const uint64_t asked = segment < limit ? segment : limit;
  DownloadSink sink;
  sink.engine = this;
  sink.job = jobIndex;
  sink.file = &file;
  sink.limit = limit;
  sink.generation = generation;
  sink.attempt = &attempt;
  sink.expected = asked;
  sink.began = os::tickCount();
  HttpResult result;
  const bool ok = GetWatched(sink, url, 0, int64_t(asked - 1), result);
  attempt.bytes = sink.attemptBytes;
  attempt.remoteFault = sink.writeError == 0 && !Cancelled();
  // Closed before the engine lock is let go: the worker finishing the file opens it at once.
  file.close();
  const std::wstring prefix = Text("FAILED_DOWNLOAD_FILE") + L"\n" + name + L": ";

  std::unique_lock<std::mutex> guard(lock_);
  DownloadJob& job = jobs_[size_t(jobIndex)];
  if (job.generation != generation) return true;
  if (!ok) {
    TakeBack(job, totalDownloaded_, sink.attemptBytes);
    if (sink.writeError) {
      errorOut = WriteErrorText(skin_.locale, sink.writeError);
    } else if (sink.overLimit) {
      errorOut = prefix + L"yanıt beklenenden büyük";
    } else {
      errorOut = prefix + result.error_text;
    }
    attempt.finalFault = AttemptIsFinal(sink.writeError, sink.overLimit);
    return false;
  }
  if (result.status == 206 && result.has_range && result.range_first == 0 &&
      result.range_total != 0) {
    const uint64_t total = result.range_total;
    const uint64_t expected = asked < total ? asked : total;
    if (sink.attemptBytes != expected) {
      TakeBack(job, totalDownloaded_, sink.attemptBytes);
      errorOut = prefix + L"eksik veri";
      return false;
    }
    if (total > limit) {
      TakeBack(job, totalDownloaded_, sink.attemptBytes);
      errorOut = prefix + L"yanıt beklenenden büyük";
      attempt.finalFault = true;
      return false;
    }
    const uint64_t count = (total - 1) / segment + 1;
    job.remoteSize = int64_t(total);
    job.segmentSize = segment;
    job.partCount = int32_t(count);
    job.partDone.assign(size_t(count), 0);
    job.partDone[0] = 1;
    job.partsLeft = job.partCount - 1;
    // At the front, segment 1 first: the workers finish one file before starting the next.
    for (int32_t k = job.partCount - 1; k >= 1; --k) {
      queue_.push_front(WorkItem{jobIndex, k, 0, 0});
    }
  } else {
    job.remoteSize = int64_t(sink.attemptBytes);
    job.segmentSize = sink.attemptBytes ? sink.attemptBytes : 1;
    job.partCount = 1;
    job.partDone.assign(1, 1);
    job.partsLeft = 0;
  }
  job.firstMirror = attempt.mirror;
  NoteServedBy(job, attempt.mirror);
  completeOut = job.partsLeft == 0;
  guard.unlock();
  SaveResumeState(jobIndex);
  return true;
}

bool UpdateEngine::DownloadPart(int32_t jobIndex, int32_t part, Attempt& attempt,
                                std::wstring& errorOut, bool& completeOut) {
  completeOut = false;
  std::wstring name, partPath;
  const std::wstring& url = attempt.url;
  uint64_t first = 0, end = 0;
  int32_t generation = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    DownloadJob& job = jobs_[size_t(jobIndex)];
    name = job.name;
    partPath = job.partPath;
    first = uint64_t(part) * job.segmentSize;
    end = first + job.segmentSize;
    if (end > uint64_t(job.remoteSize)) end = uint64_t(job.remoteSize);
    if (job.state == kJobNew) job.state = kJobDownloading;
    generation = job.generation;
  }
  os::File file;
  if (!file.openSharedWrite(partPath, false) || !file.seek(first)) {
    errorOut = Text("FAILED_CREATE_FILE") + L" " + systemErrorText(os::lastError());
    return false;
  }
  DownloadSink sink;
  sink.engine = this;
  sink.job = jobIndex;
  sink.file = &file;
  sink.limit = end - first;
  sink.generation = generation;
  sink.attempt = &attempt;
  sink.expected = end - first;
  sink.began = os::tickCount();
  HttpResult result;
  const bool ok = GetWatched(sink, url, int64_t(first), int64_t(end - 1), result);
  file.close();
  attempt.bytes = sink.attemptBytes;
  attempt.remoteFault = sink.writeError == 0 && !Cancelled();
  const bool valid = ok && result.status == 206 && result.has_range &&
                     result.range_first == first && sink.attemptBytes == end - first;

  std::unique_lock<std::mutex> guard(lock_);
  DownloadJob& job = jobs_[size_t(jobIndex)];
  if (job.generation != generation) return true;  // the file started afresh meanwhile
  // The ".state" belongs to the compressed resource it was made from: another total, or a range
  // beyond the end, means the operator republished it and the stored segments are worthless.
  const bool resourceChanged =
      result.status == kHttpRangeNotSatisfiable ||
      (result.status == 206 && result.has_range && result.range_total != 0 &&
       result.range_total != uint64_t(job.remoteSize));
  // While the mirror that gave the file's size is in use, one that disagrees holds another file.
  const bool otherMirrorsFile = resourceChanged && attempt.mirror >= 0 && job.firstMirror >= 0 &&
                                attempt.mirror != job.firstMirror &&
                                !mirrors_.at(job.firstMirror).left;
  if (resourceChanged && !otherMirrorsFile && job.restarts < kMaxJobRestarts) {
    TakeBack(job, totalDownloaded_, sink.attemptBytes);
    Log(L"Sunucudaki dosya degismis (HTTP %u, %llu / %lld bayt): %ls bastan indirilecek",
        unsigned(result.status), (unsigned long long)result.range_total,
        (long long)job.remoteSize, name.c_str());
    MarkResourceChanged(jobIndex);
    return true;
  }
  if (!valid || resourceChanged) {
    TakeBack(job, totalDownloaded_, sink.attemptBytes);
    const std::wstring prefix = Text("FAILED_DOWNLOAD_FILE") + L"\n" + name + L": ";
    if (sink.writeError) {
      errorOut = WriteErrorText(skin_.locale, sink.writeError);
    } else if (ok || sink.overLimit) {
      errorOut = prefix + L"parçalı indirme yanıtı hatalı (HTTP " +
                 std::to_wstring(result.status) + L")";
    } else {
      errorOut = prefix + result.error_text;
    }
    // More than the segment's range is a server fault that may pass; a full disk is not.
    attempt.finalFault = AttemptIsFinal(sink.writeError, false);
    return false;
  }
  NoteServedBy(job, attempt.mirror);
  if (!job.partDone[size_t(part)]) {
    job.partDone[size_t(part)] = 1;
    --job.partsLeft;
  }
  completeOut = job.partsLeft == 0;
  guard.unlock();
  SaveResumeState(jobIndex);
  return true;
}

bool UpdateEngine::LoadResumeState(DownloadJob& job) {
  std::string text;
  if (!readWholeFile(job.statePath, kStateFileLimit, text) || !isFile(job.partPath)) return false;
  ResumeState state;
  if (!ParseResumeState(text, job.crc, job.size, state)) return false;
  job.remoteSize = int64_t(state.remoteSize);
  job.segmentSize = state.segmentSize;
  job.partCount = int32_t(state.partDone.size());
  job.partDone = state.partDone;
  job.resumed = true;
  job.partsLeft = 0;
  job.downloaded = 0;
  for (size_t i = 0; i < job.partDone.size(); ++i) {
    if (job.partDone[i]) {
      job.downloaded += SegmentLength(state.remoteSize, state.segmentSize, i);
    } else {
      ++job.partsLeft;
    }
  }
  return true;
}

void UpdateEngine::SaveResumeState(int32_t jobIndex) {
  // One writer at a time, the flags read under that lock: the last write always holds the
  // latest flags, and the file I/O keeps off the engine lock.
  std::lock_guard<std::mutex> files(stateLock_);
  std::wstring path, partPath;
  std::string text;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const DownloadJob& job = jobs_[size_t(jobIndex)];
    partPath = job.partPath;
    if (job.restartPending || job.remoteSize < 0) return;
    ResumeState state;
    state.crc = job.crc;
    state.size = job.size;
    state.remoteSize = uint64_t(job.remoteSize);
    state.segmentSize = job.segmentSize;
    state.partDone = job.partDone;
    text = FormatResumeState(state);
    path = job.statePath;
  }
  if (testHook_) testHook_("state", partPath, testHookContext_);
  // Not flushed: the ".part" bytes it describes are not either, so after a power cut it may
  // claim more than the disk holds whatever is done here; the CRC check of the finished file
  // catches that and the file downloads again, and a damaged state is ignored when read.
  if (!writeFileAtomic(path, text.data(), text.size(), WriteDurability::kCached)) {
    Log(L"Uyari: durum dosyasi yazilamadi: %ls (%u)", path.c_str(), unsigned(os::lastError()));
  }
}

void UpdateEngine::MarkResourceChanged(int32_t jobIndex) {
  DownloadJob& job = jobs_[size_t(jobIndex)];
  ++job.generation;
  ++job.restarts;
  job.restartPending = true;
  totalDownloaded_ -= job.downloaded < totalDownloaded_ ? job.downloaded : totalDownloaded_;
  job.downloaded = 0;
  for (auto it = queue_.begin(); it != queue_.end();) {
    it = it->job == jobIndex ? queue_.erase(it) : it + 1;
  }
}

void UpdateEngine::AdvanceObjectHash(int32_t jobIndex) {
  std::shared_ptr<ObjectHashCursor> cursor;
  std::vector<uint8_t> done;
  std::wstring partPath;
  uint64_t segment = 0, total = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const DownloadJob& job = jobs_[size_t(jobIndex)];
    if (!job.objectHash || job.remoteSize < 0) return;
    cursor = job.objectHash;
    done = job.partDone;
    partPath = job.partPath;
    segment = job.segmentSize;
    total = uint64_t(job.remoteSize);
  }
  cursor->Advance(partPath, done, segment, total);
}

void UpdateEngine::RestartJob(int32_t jobIndex) {
  std::lock_guard<std::mutex> files(stateLock_);
  std::wstring part, state;
  {
    std::lock_guard<std::mutex> guard(lock_);
    part = jobs_[size_t(jobIndex)].partPath;
    state = jobs_[size_t(jobIndex)].statePath;
  }
  // No attempt of the old generation has the ".part" open any more.
  os::deleteFile(part);
  os::deleteFile(state);
  std::lock_guard<std::mutex> guard(lock_);
  DownloadJob& job = jobs_[size_t(jobIndex)];
  job.remoteSize = -1;
  job.segmentSize = 0;
  job.partCount = 0;
  job.partsLeft = 0;
  job.partDone.clear();
  job.objectHash = NewObjectHash(job);
  job.servedBy.clear();
  job.firstMirror = -1;
  job.state = kJobNew;
  queue_.push_front(WorkItem{jobIndex, -1, 0, 0});
}

void UpdateEngine::ProgressTick() {
  const std::wstring writing = Text("SV_WRITING");
  const uint32_t now = os::tickCount();
  std::lock_guard<std::mutex> guard(lock_);
  const ProgressFigures figures =
      progress_.Tick(now, jobs_, totalDownloaded_, writing, inUseText_);
  status_.overall = figures.overall;
  if (figures.hasCurrent) {
    status_.current = figures.current;
    status_.currentText = figures.fileLine;
  }
  status_.speedText = figures.speedText;
  status_.remainingText = figures.remainingText;
  status_.amountText = figures.amountText;
  ++status_.changeCounter;
}

}  // namespace sv
