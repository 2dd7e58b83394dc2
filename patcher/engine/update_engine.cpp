#include "patcher/engine/update_engine.h"

#include <new>

#include "common/clock_os.h"
#include "common/file_os.h"
#include "common/notify_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {
constexpr uint32_t kShutdownWaitMs = 1500;
constexpr uint32_t kSleepStepMs = 50;
}  // namespace

void UpdateEngine::RunEntry(void* self) { static_cast<UpdateEngine*>(self)->RunThread(); }

void UpdateEngine::CheckEntry(void* self) {
  UpdateEngine& engine = *static_cast<UpdateEngine*>(self);
  try {
    engine.CheckWorker();
  } catch (const std::bad_alloc&) {
    // The files this worker took are unread: the check must not pass them.
    engine.workerOutOfMemory_.store(true);
  }
}

void UpdateEngine::RunOrCancel(void (UpdateEngine::*loop)()) {
  try {
    (this->*loop)();
  } catch (const std::bad_alloc&) {
    workerOutOfMemory_.store(true);
    Cancel();
  }
}

void UpdateEngine::DownloadEntry(void* self) {
  static_cast<UpdateEngine*>(self)->RunOrCancel(&UpdateEngine::WorkerLoop);
}

void UpdateEngine::CommitEntry(void* self) {
  static_cast<UpdateEngine*>(self)->RunOrCancel(&UpdateEngine::CommitLoop);
}

UpdateEngine* UpdateEngine::Create(const SkinDefinition& skin, const std::wstring& gameFolder,
                                   void* window, bool preview) {
  return new UpdateEngine(skin, gameFolder, window, preview);
}

UpdateEngine::UpdateEngine(const SkinDefinition& skin, const std::wstring& gameFolder,
                           void* window, bool preview)
    : skin_(skin),
      gameFolder_(gameFolder),
      root_(EngineRoot(gameFolder)),
      programPath_(modulePath()),
      workFolder_(joinPath(root_, kWorkFolderName)),
      window_(window),
      preview_(preview) {
  if (!noticeEvent_.valid() || !inUseEvent_.valid())
    Log(L"CreateEvent hatasi: %u", unsigned(os::lastError()));
}

UpdateEngine::UpdateEngine(const EngineSkin& skin, const std::wstring& gameFolder)
    : skin_(skin),
      gameFolder_(gameFolder),
      root_(EngineRoot(gameFolder)),
      programPath_(modulePath()),
      workFolder_(joinPath(root_, kWorkFolderName)),
      window_(nullptr),
      preview_(false) {}

UpdateEngine::~UpdateEngine() = default;

void UpdateEngine::Start(RunMode mode) {
  if (runThread_.started()) {
    if (!runThread_.wait(0)) return;
    runThread_.release();
  }
  cancel_.exchange(0);
  repair_ = mode == RunMode::kRepair;
  {
    std::lock_guard<std::mutex> guard(lock_);
    status_.repair = repair_;
    status_.errorText.clear();
    status_.stoppedInUse = false;
    stoppedInUse_ = false;
    preloadPending_ = false;
    preloadStopped_.store(false);
    inUseText_.clear();
    pendingInUseMessage_.clear();
    inUseList_.message.clear();
  }
  if (!runThread_.start(RunEntry, this)) Log(L"_beginthreadex hatasi: %u", unsigned(os::lastError()));
}

void UpdateEngine::Cancel() {
  cancel_.exchange(1);
  StopRunningTransfers();
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stager_) stager_->Cancel();
  }
  noticeEvent_.set();
  inUseEvent_.set();
}

bool UpdateEngine::Shutdown() {
  Cancel();
  if (!runThread_.wait(kShutdownWaitMs)) {
    // The thread still uses the engine; it is left alive rather than pulled from under it.
    Log(L"Guncelleme is parcacigi zamaninda bitmedi.");
    return false;
  }
  delete this;
  return true;
}

void UpdateEngine::RunThread() {
  workerOutOfMemory_.store(false);
  bool result = false;
  try {
    result = preview_ ? PreviewRun() : UpdateRun();
  } catch (const std::bad_alloc&) {
    workerOutOfMemory_.store(true);
  }
  if (workerOutOfMemory_.load()) {
    // What failed to allocate is gone by now; the few bytes of the failure text fit.
    try {
      Fail(kOutOfMemoryText);
    } catch (const std::bad_alloc&) {
    }
    result = false;
    Post(WM_SV_DONE, 0);
    return;
  }
  if (!Cancelled()) Post(WM_SV_DONE, result ? 1 : 0);
  if (!result || Cancelled() || !PreloadPending()) return;
  bool staged = false;
  try {
    staged = PreloadAfterRun();
  } catch (const std::bad_alloc&) {
    Log(L"%ls", kOutOfMemoryText);
  }
  if (!Cancelled()) Post(WM_SV_PRELOADED, staged ? 1 : 0);
}

void UpdateEngine::StopPreload() {
  preloadStopped_.store(true);
  std::lock_guard<std::mutex> guard(lock_);
  if (stager_) stager_->Cancel();
}

bool UpdateEngine::PreloadPending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return preloadPending_;
}

StatusSnapshot UpdateEngine::GetStatus() const {
  std::lock_guard<std::mutex> guard(lock_);
  StatusSnapshot status = status_;
  // While the next release downloads, the finished run's remark makes room for its progress.
  // The staging engine never takes this engine's lock, so holding it here cannot deadlock.
  if (stager_ && status.phase == kPhaseFinished) {
    const StatusSnapshot staging = stager_->GetStatus();
    if (staging.phase == kPhaseDownloading) {
      status.currentText =
          skin_.format("SV_PRELOADING", {formatPercent(stager_->DownloadedFraction())});
      status.changeCounter += staging.changeCounter;
    }
  }
  return status;
}

void UpdateEngine::AnswerNotice(bool accepted) {
  noticeAnswer_.exchange(accepted ? 1 : 0);
  noticeEvent_.set();
}

void UpdateEngine::AnswerInUse(int32_t choice) {
  inUseAnswer_.exchange(choice);
  inUseEvent_.set();
}

std::wstring UpdateEngine::GetRunPath() const {
  std::lock_guard<std::mutex> guard(lock_);
  return remoteConfig_.runPath.empty() ? defaultRunPath_ : remoteConfig_.runPath;
}

RemoteConfig UpdateEngine::GetRemoteConfig() const {
  std::lock_guard<std::mutex> guard(lock_);
  return remoteConfig_;
}

InUseList UpdateEngine::GetInUseList() const {
  std::lock_guard<std::mutex> guard(lock_);
  return inUseList_;
}

void UpdateEngine::Post(uint32_t message, uintptr_t wParam) const {
  if (window_) os::postMessage(window_, message, wParam);
}

bool UpdateEngine::SleepWatchingCancel(uint32_t totalMs) {
  for (uint32_t waited = 0; waited < totalMs; waited += kSleepStepMs) {
    if (Cancelled()) return false;
    os::sleepMs(kSleepStepMs);
  }
  return !Cancelled();
}

std::wstring UpdateEngine::Text(const char* key) const { return skin_.text(key); }

void UpdateEngine::SetStatus(int32_t phase, const std::wstring& text) {
  std::lock_guard<std::mutex> guard(lock_);
  status_.phase = phase;
  status_.statusText = text;
  status_.currentText.clear();
  status_.speedText.clear();
  status_.remainingText.clear();
  status_.amountText.clear();
  status_.overall = 0;
  status_.current = 0;
  ++status_.changeCounter;
}

bool UpdateEngine::Fail(const std::wstring& text) {
  Log(L"HATA: %ls", text.c_str());
  std::lock_guard<std::mutex> guard(lock_);
  status_.phase = kPhaseFailed;
  status_.errorText = text;
  status_.statusText = text.substr(0, text.find(L'\n'));
  status_.currentText.clear();
  status_.speedText.clear();
  status_.remainingText.clear();
  status_.stoppedInUse = stoppedInUse_;
  ++status_.changeCounter;
  return false;
}

void UpdateEngine::SetInUseText(const std::wstring& text) {
  std::lock_guard<std::mutex> guard(lock_);
  inUseText_ = text;
  if (!text.empty()) status_.currentText = text;
  ++status_.changeCounter;
}

void UpdateEngine::SetCurrentText(const std::wstring& text) {
  std::lock_guard<std::mutex> guard(lock_);
  status_.currentText = text;
  ++status_.changeCounter;
}

}  // namespace sv
