// The update run: configuration, notice, file lists, write test, check, download and install.
#include "common/clock_os.h"
#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/fetch_retries.h"
#include "http/http_rate_limit.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "release/chunk_list.h"
#include "release/url.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr uint32_t kAnswerStepMs = 100;
constexpr uint64_t kMiB = 1048576;
constexpr uint32_t kErrorAccessDenied = 5;

// The running patcher's path relative to the game folder, folded the way the file list folds
// names; empty when the program lies elsewhere.
std::wstring ProgramKey(const std::wstring& programPath, const std::wstring& gameFolder) {
  const std::wstring program = toLowerWide(os::longFullPath(programPath));
  std::wstring folder = toLowerWide(os::longFullPath(gameFolder));
  if (folder.empty()) return {};
  if (folder.back() != L'\\') folder += L'\\';
  if (program.size() <= folder.size() || program.compare(0, folder.size(), folder) != 0) return {};
  return program.substr(folder.size());
}

}  // namespace

void UpdateEngine::ApplyRateLimit(int32_t configKbps) {
  const int32_t kbps = EffectiveMaxKbps(skin_.settings.maxKbps, configKbps);
  const uint64_t rate = uint64_t(kbps) * kRateLimitKiB;
  if (rate == ProcessRateLimiter().Rate()) return;
  ProcessRateLimiter().SetRate(rate, os::tickCount());
  Log(L"Hiz siniri: %d KB/sn", kbps);
}

bool UpdateEngine::UpdateRun() {
  Log(L"Sarvik basladi. Klasor: %ls", gameFolder_.c_str());
  if (repair_) Log(L"Onarim: her dosya okunacak, kayitli CRC'lere guvenilmeyecek.");
  SetStatus(kPhaseLoading, Text("CONFIG_LOADING"));
  if (!http_.Open(kUserAgent)) {
    return Fail(skin_.format("INTERNET_OPEN_ERROR", {std::to_wstring(os::lastError())}));
  }
  PrepareWorkArea();
  LoadCrcCache();

  connections_ = skin_.settings.connections;
  // The builder's limit covers the configuration's own fetch; the configuration may lower it.
  ApplyRateLimit(0);
  segmentSize_ = uint64_t(skin_.settings.segmentMb) * kMiB;
  ownProgramKey_ = ProgramKey(programPath_, gameFolder_);
  // The new patcher is stored under the program's long name, whatever name started it.
  if (!ownProgramKey_.empty()) programPath_ = os::longFullPath(programPath_);

  if (skin_.remoteConfigPath.empty()) {
    return Fail(Text("REMOTE_CONFIG_OPEN_ERROR") + L"\n(url.xml: remoteConfigPath boş)");
  }
  RemoteConfig config;
  if (!LoadRemoteConfig(config)) return false;
  if (config.connections > 0) connections_ = config.connections;
  ApplyRateLimit(config.maxKbps);

  if (Cancelled() || !NoticeAccepted(config)) return false;

  if (CheckSelfUpdate(config)) return true;
  if (Cancelled()) return false;

  std::vector<FileEntry> targets;
  std::vector<std::wstring> removed;
  if (!FetchFileLists(config, targets, removed)) return false;

  if (!WriteTestPassed()) {
    Post(WM_SV_NEED_ADMIN);
    return Fail(Text("LAUNCH_ERROR_WITH_ADMIN_PRIVILEGES"));
  }

  std::vector<FileEntry> toUpdate;
  FileEntry patcherEntry;
  bool patcherDiffers = false;
  if (!CheckFiles(targets, toUpdate, patcherEntry, patcherDiffers)) return false;
  SaveCrcCache();
  const size_t checkedCount = toUpdate.size();
  TakeStagedFiles(toUpdate);
  if (toUpdate.size() != checkedCount) SaveCrcCache();

  const bool nothingToDo = checkedCount == 0 && !patcherDiffers;
  // Counted now: chunked files that are rebuilt leave the list before the download.
  const size_t repairCount = checkedCount;
  if (toUpdate.empty() && !patcherDiffers) {
    CleanTempDownloads(nullptr);
  } else {
    if (!UpdateChunkedFiles(toUpdate)) {
      SaveCrcCache();
      LogMirrors();
      return false;
    }
    const bool downloaded = (toUpdate.empty() && !patcherDiffers) ||
                            DownloadFiles(toUpdate, patcherDiffers ? &patcherEntry : nullptr);
    SaveCrcCache();
    LogMirrors();
    if (!downloaded) return false;
    bool patcherReady = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      patcherReady = selfUpdateReady_;
    }
    if (patcherReady && ApplySelfUpdate()) return true;
  }
  if (!removed.empty()) {
    RemoveObsoleteFiles(removed, targets);
    SaveCrcCache();
  }

  {
    std::lock_guard<std::mutex> guard(lock_);
    status_.phase = kPhaseFinished;
    status_.statusText = Text("TORRENT_STATE_FINISHED");
    status_.currentText = nothingToDo ? Text("SV_UP_TO_DATE") : std::wstring();
    if (chunkTotals_.reused > 0) {
      status_.currentText = skin_.format("SV_CHUNK_SUMMARY", {formatSize(chunkTotals_.reused),
                                                               formatSize(chunkTotals_.downloaded)});
    }
    if (repair_) {
      status_.currentText = repairCount == 0
                                ? Text("SV_ALL_SOUND")
                                : skin_.format("SV_REPAIRED", {std::to_wstring(repairCount)});
    }
    status_.speedText.clear();
    status_.remainingText.clear();
    status_.overall = 1.0f;
    status_.current = 1.0f;
    ++status_.changeCounter;
    preloadPending_ = true;
    installed_ = std::move(targets);
  }
  if (repair_) Log(L"Onarim: %u dosya onarildi", unsigned(repairCount));
  Log(L"Tamamlandi.");
  return true;
}

bool UpdateEngine::LoadRemoteConfig(RemoteConfig& configOut) {
  std::string document;
  std::wstring error;
  if (!FetchConfigDocument(document)) return false;
  release_.reset();
  if (releaseKey_ && !AcceptSignedRelease(document)) return false;
  if (!ParseRemoteConfig(document, skin_.remoteConfigPath, Text("SV_NO_DOWNLOAD_URL"), configOut,
                         error)) {
    return Fail(Text("SV_INVALID_CONFIG") + L"\n" + error);
  }
  std::lock_guard<std::mutex> guard(lock_);
  remoteConfig_ = configOut;
  mirrors_.Reset(configOut);
  if (!configOut.runPath.empty()) defaultRunPath_ = configOut.runPath;
  return true;
}

bool UpdateEngine::FetchConfigDocument(std::string& document) {
  std::wstring error;
  if (FetchWithRetries(http_, FreshUrl(skin_.remoteConfigPath), kRemoteConfigLimit, document,
                       &cancel_, error)) {
    return true;
  }
  if (Cancelled()) return false;
  return Fail(Text("REMOTE_CONFIG_OPEN_ERROR") + L"\n" + error);
}

bool UpdateEngine::NoticeAccepted(const RemoteConfig& config) {
  if (config.noticeUrl.empty()) return true;
  const int32_t local = LocalNoticeVersion(gameFolder_, skin_.localConfigPath);
  if (local >= config.noticeVersion) return true;
  Log(L"Duyuru gosteriliyor (surum %d > %d)", config.noticeVersion, local);
  noticeEvent_.reset();
  noticeAnswer_.exchange(-1);
  Post(WM_SV_NOTICE);
  while (!noticeEvent_.wait(kAnswerStepMs)) {
    if (Cancelled()) return false;
  }
  if (Cancelled()) return false;
  if (noticeAnswer_.load() != 1) {
    Log(L"Duyuru reddedildi.");
    if (!Cancelled()) {
      cancel_.exchange(1);
      Post(0x0010 /* WM_CLOSE */);
    }
    return false;
  }
  SaveNoticeVersion(gameFolder_, skin_.localConfigPath, config.noticeVersion);
  return true;
}

bool UpdateEngine::FetchFileLists(const RemoteConfig& config, std::vector<FileEntry>& targetOut,
                                  std::vector<std::wstring>& removedOut) {
  MergedFileList merged;
  chunkLists_.clear();
  const size_t count = config.sources.size();
  for (size_t i = 0; i < count; ++i) {
    const std::wstring suffix =
        count >= 2 ? L" (kaynak " + std::to_wstring(i + 1) + L")" : std::wstring();
    const std::wstring listUrl = joinUrl(config.sources[i], L"crclist");
    const bool immutable = IsImmutableSource(config, config.sources[i]);
    std::string bytes;
    std::wstring error;
    std::vector<FileEntry> list;
    std::vector<std::wstring> logLines;
    bool parsed = false;
    for (bool pastCache = false;; pastCache = true) {
      HttpResult answer;
      const std::wstring url =
          pastCache ? PastCacheUrl(listUrl) : SourceListUrl(listUrl, immutable);
      if (!FetchWithRetries(http_, url, kFileListMaxBytes, bytes, &cancel_, error, &answer)) {
        if (Cancelled()) return false;
        // A server that answers "not there" is reachable: the list (or its version folder) is
        // what is missing, and saying so points the operator at the release rather than the
        // network.
        if (answer.status == 404) {
          Log(L"Dosya listesi sunucuda yok (HTTP 404): %ls", listUrl.c_str());
          return Fail(Text("SV_LIST_MISSING") + suffix + L"\n" + error);
        }
        return Fail(Text("INVALID_CRC_TABLE") + suffix + L"\n" + error);
      }
      list.clear();
      logLines.clear();
      parsed = ParseFileList(bytes, list, error, &logLines);
      // A list that may have come from a cache and is damaged: once more, past any cache.
      if (!immutable || pastCache || (parsed && SignedListMatches(config.sources[i], bytes))) break;
      Log(L"Dosya listesi bozuk geldi, onbellek atlanarak tekrar indiriliyor: %ls",
          listUrl.c_str());
    }
    for (const std::wstring& line : logLines) Log(L"%ls", line.c_str());
    if (!parsed) return Fail(Text("INVALID_CRC_TABLE") + suffix + L"\n" + error);
    if (!SignedListAccepted(config.sources[i], bytes, list, suffix)) return false;
    ReleaseObject chunkList;
    if (FindChunkListReference(bytes, chunkList)) chunkLists_[config.sources[i]] = chunkList;
    for (std::wstring& path : ParseRemovedPaths(bytes)) removedOut.push_back(std::move(path));
    std::string().swap(bytes);  // up to 32 MiB, not needed while the list is merged
    logLines.clear();
    MergeFileLists(merged, config.sources[i], std::move(list), &logLines);
    for (const std::wstring& line : logLines) Log(L"%ls", line.c_str());
    if (merged.entries.size() > kFileListMaxEntries) {
      return Fail(Text("INVALID_CRC_TABLE") + suffix + L"\n" + TooManyFilesText());
    }
    if (Cancelled()) return false;
  }
  targetOut = std::move(merged.entries);
  return true;
}

bool UpdateEngine::WriteTestPassed() {
  const std::wstring probe = joinPath(root_, kWriteProbeName);
  const uint32_t code = os::probeWriteAccess(probe);
  if (code == 0) return true;
  if (code == kErrorAccessDenied) return false;
  // Any other reason is not a permission problem; the check and the download will tell.
  Log(L"Yazma denemesi basarisiz (%u), devam ediliyor.", unsigned(code));
  return true;
}

bool UpdateEngine::PreviewRun() {
  static const wchar_t* const kSamples[] = {L"pack\\root.epk", L"pack\\locale.epk",
                                            L"pack\\icon.epk", L"draskelclient.bin"};
  constexpr uint64_t kPreviewTotal = 299892736;
  constexpr double kPreviewSpeed = 7654604.8;
  constexpr int kDownloadSteps = 120;
  constexpr uint32_t kDownloadMs = 6000;

  SetStatus(kPhaseLoading, Text("CONFIG_LOADING"));
  if (!SleepWatchingCancel(700)) return false;
  SetStatus(kPhaseChecking, Text("TORRENT_STATE_CHECKING"));
  for (int i = 0; i <= 20; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      status_.overall = status_.current = float(i) / 20.0f;
      status_.currentText = kSamples[i % 4];
      ++status_.changeCounter;
    }
    if (!SleepWatchingCancel(100)) return false;
  }
  SetStatus(kPhaseDownloading, Text("TORRENT_STATE_DOWNLOADING"));
  for (int i = 0; i <= kDownloadSteps; ++i) {
    const double overall = double(i) / kDownloadSteps;
    const double perFile = overall * 4.0;
    const int file = perFile >= 4.0 ? 3 : int(perFile);
    const double fileFraction = perFile >= 4.0 ? 1.0 : perFile - file;
    const uint32_t countdown = kDownloadMs - uint32_t(i) * (kDownloadMs / kDownloadSteps);
    {
      std::lock_guard<std::mutex> guard(lock_);
      status_.overall = float(overall);
      status_.current = float(fileFraction);
      status_.currentText = std::wstring(kSamples[file]) + L" (%" +
                            std::to_wstring(unsigned(fileFraction * 100)) + L")";
      status_.speedText = formatSpeed(kPreviewSpeed);
      status_.remainingText = formatDuration(countdown / 1000 + 1);
      status_.amountText = formatSize(uint64_t(overall * double(kPreviewTotal))) + L" / " +
                           formatSize(kPreviewTotal);
      ++status_.changeCounter;
    }
    if (!SleepWatchingCancel(50)) return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  status_.phase = kPhaseFinished;
  status_.statusText = Text("TORRENT_STATE_FINISHED");
  status_.currentText = Text("SV_PREVIEW");
  status_.speedText.clear();
  status_.remainingText.clear();
  status_.amountText.clear();
  status_.overall = status_.current = 1.0f;
  ++status_.changeCounter;
  return true;
}

}  // namespace sv
