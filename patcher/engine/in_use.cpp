// Files of the game folder that other programs hold open: waiting for them and asking the player.
#include "common/file_os.h"
#include "common/text.h"
#include "patcher/engine/in_use.h"
#include "patcher/engine/log.h"
#include "patcher/engine/process_closing.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr uint32_t kPassWaitMs = 500;
constexpr uint32_t kAnswerStepMs = 400;
constexpr int32_t kDialogPasses = 5;

}  // namespace

bool IsFileLocked(const std::wstring& path) {
  const uint32_t code = os::probeExclusiveOpen(path);
  // ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE.
  return code == 32 || code == 33 || code == 1224;
}

bool AnyFileLocked(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) {
    if (IsFileLocked(path)) return true;
  }
  return false;
}

bool UpdateEngine::WaitForFilesBeforeDownload() {
  int32_t passes = 0;
  bool reported = false;
  for (;;) {
    std::vector<std::wstring> paths, names;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (const DownloadJob& job : jobs_) {
        if (job.isExtra) continue;
        paths.push_back(job.destPath);
        names.push_back(job.name);
      }
    }
    std::vector<std::wstring> lockedPaths, lockedNames;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (!IsFileLocked(paths[i])) continue;
      lockedPaths.push_back(paths[i]);
      lockedNames.push_back(names[i]);
    }
    if (lockedPaths.empty()) {
      if (reported) SetInUseText(L"");
      return true;
    }
    if (!reported) {
      Log(L"Guncellenecek %u dosya kullanimda.", unsigned(lockedPaths.size()));
      reported = true;
    }
    SetInUseText(skin_.format("SV_FILE_IN_USE", {lockedNames[0]}));
    ++passes;
    if (InUseDialogDue(passes, lockedPaths)) {
      bool goOn = false;
      {
        std::lock_guard<std::mutex> dialog(inUseLock_);
        goOn = AskInUse(lockedPaths, lockedNames);
      }
      if (!goOn || Cancelled()) {
        SetInUseText(L"");
        return false;
      }
      passes = 0;
      continue;
    }
    if (!SleepWatchingCancel(kPassWaitMs)) {
      SetInUseText(L"");
      return false;
    }
  }
}

bool UpdateEngine::AskInUse(const std::vector<std::wstring>& paths,
                            const std::vector<std::wstring>& names) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (downloadFailed_ || stoppedInUse_) return false;
  }
  if (Cancelled()) return false;
  const bool lockedNow = AnyFileLocked(paths);
  const std::vector<LockingProcess> processes = FindHolders(paths);
  Log(L"Dosya kullanimda: %ls (+%u dosya), %u program", names.empty() ? L"" : names[0].c_str(),
      unsigned(names.empty() ? 0 : names.size() - 1), unsigned(processes.size()));
  for (const LockingProcess& p : processes) {
    Log(L"  kullanan: %ls (PID %u%ls) %ls", p.name.c_str(), unsigned(p.pid),
        p.closable ? L"" : L", kapatilamaz", p.path.c_str());
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    inUseList_.names = names;
    inUseList_.processes = processes;
    inUseList_.message = std::move(pendingInUseMessage_);
    pendingInUseMessage_.clear();
  }
  inUseAnswer_.exchange(-1);
  inUseEvent_.reset();
  Post(WM_SV_INUSE_SHOW);
  for (;;) {
    if (inUseEvent_.wait(kAnswerStepMs)) break;
    if (Cancelled()) return false;
    if (lockedNow && !AnyFileLocked(paths)) {
      Log(L"Dosya serbest kaldi, devam ediliyor.");
      Post(WM_SV_INUSE_CLOSE);
      return true;
    }
  }
  if (Cancelled()) return false;
  const int32_t answer = inUseAnswer_.load();
  if (answer == kInUseClose) {
    ClosePrograms(processes, names);
    return !Cancelled();
  }
  if (answer == kInUseRetry) return true;
  Log(L"Kullanici guncellemeyi durdurdu (dosya kullanimda).");
  std::lock_guard<std::mutex> guard(lock_);
  stoppedInUse_ = true;
  return false;
}

void UpdateEngine::ClosePrograms(const std::vector<LockingProcess>& processes,
                                 const std::vector<std::wstring>& names) {
  CloseSteps steps;
  steps.announce = [this](const LockingProcess& p) {
    Log(L"Program kapatiliyor: %ls (PID %u) %ls", p.name.c_str(), unsigned(p.pid),
        p.path.c_str());
    SetInUseText(skin_.format("SV_INUSE_CLOSING", {p.name}));
  };
  steps.closeProcess = CloseProcess;
  steps.elevated = ProcessIsElevated;
  steps.closeElevated = [this, &names](const std::vector<LockingProcess>& list) {
    return CloseViaElevatedHelper(window_, list, names);
  };
  steps.log = [](const std::wstring& line) { Log(L"%ls", line.c_str()); };
  const CloseReport report = CloseProgramsWith(processes, steps);
  std::wstring message;
  if (!report.failedNames.empty()) {
    message = skin_.format("SV_INUSE_CLOSE_FAILED", {report.failedNames});
  } else if (!report.needAdminNames.empty()) {
    message = skin_.format("SV_INUSE_NEED_ADMIN", {report.needAdminNames});
  }
  std::lock_guard<std::mutex> guard(lock_);
  pendingInUseMessage_ = std::move(message);
}

std::vector<LockingProcess> UpdateEngine::FindHolders(const std::vector<std::wstring>& paths) const {
  return findHolders_ ? findHolders_(paths) : FindLockingProcesses(paths);
}

}  // namespace sv
