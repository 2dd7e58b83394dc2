// Pre-loading: the release the configuration announces as the next one is fetched ahead of its
// day into the staging folder (temp\next), and at go-live its files move into the game folder
// instead of being downloaded. Nothing in the game folder changes before then.
//
// The staging folder is kept by an engine of its own whose game folder it is: its lists, its
// signed-release check, its CRC cache, its resume states and its downloads are those of an
// ordinary run, in its own work folder (temp\next\temp).
#include <ctime>
#include <unordered_map>
#include <vector>

#include "common/clock_os.h"
#include "common/crc32.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/folder_list.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/download_progress.h"
#include "http/http_rate_limit.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "release/release_manifest.h"

namespace sv {

namespace {

// Without a limit of the operator's or the player's, staging takes 2 MiB/s (16 Mbit/s): a share
// of a usual broadband line that leaves the game its room, and a release of 20 GB is on the
// disk in under three hours of the days between its announcement and its day.
constexpr uint64_t kBackgroundRate = 2048 * kRateLimitKiB;
// With a limit, staging takes half of it: it must never slow what the player does.
constexpr uint64_t kBackgroundShare = 2;
constexpr int32_t kBackgroundConnections = 2;
constexpr uint32_t kReadSize = 1048576;
constexpr uint64_t kMarkerLimit = 65536;

// Removes a folder and everything below it; what cannot be removed stays for the next try.
void RemoveTree(const std::wstring& folder) {
  std::vector<FolderItem> items;
  listFolder(folder, L"*", items);
  for (const FolderItem& item : items) {
    const std::wstring path = joinPath(folder, item.name);
    if (item.directory) {
      RemoveTree(path);
    } else {
      os::setNormalAttributes(path);
      os::deleteFile(path);
    }
  }
  os::removeDirectory(folder);
}

struct Present {
  uint64_t size;
  uint32_t crc;
};

}  // namespace

bool UpdateEngine::PreloadAfterRun() {
  std::optional<NextRelease> next;
  std::vector<FileEntry> present;
  {
    std::lock_guard<std::mutex> guard(lock_);
    next = remoteConfig_.next;
    present.swap(installed_);
  }
  const std::wstring folder = joinPath(workFolder_, kNextFolderName);
  const std::wstring marker = joinPath(workFolder_, kNextMarkerName);
  std::string stagedFor;
  readWholeFile(marker, kMarkerLimit, stagedFor);
  if (!next) {
    // Withdrawn, or gone live: the files the update needed have left the folder already.
    if (isDirectory(folder) || isFile(marker)) {
      RemoveTree(folder);
      os::deleteFile(marker);
      Log(L"Sonraki surum duyurusu yok; hazirlanan dosyalar silindi.");
    }
    return true;
  }
  const std::string url = toUtf8(next->configUrl);
  if (stagedFor != url) {
    // Another release than the one staged: its files are not this one's.
    if (isDirectory(folder)) {
      RemoveTree(folder);
      Log(L"Hazirlanan dosyalar baska bir surume aitti, silindi.");
    }
    if (!createDirectories(workFolder_) || !writeFileAtomic(marker, url.data(), url.size())) {
      Log(L"Uyari: %ls yazilamadi (%u)", marker.c_str(), unsigned(os::lastError()));
      return false;
    }
  }
  Log(L"Sonraki surum hazirlaniyor: %ls (yayin %ls)", next->configUrl.c_str(),
      toWide(FormatUtcTime(next->at)).c_str());

  EngineSkin skin = skin_;
  skin.remoteConfigPath = next->configUrl;
  UpdateEngine* stager =
      new UpdateEngine(skin, joinPath(joinPath(gameFolder_, kWorkFolderName), kNextFolderName));
  stager->releaseKey_ = releaseKey_;
  stager->connections_ = connections_ < kBackgroundConnections ? connections_
                                                                : kBackgroundConnections;
  stager->segmentSize_ = segmentSize_;
  // The staging folder's signed release may not be older than the game folder's.
  std::string trust;
  if (readWholeFile(joinPath(workFolder_, kTrustFileName), kMarkerLimit, trust)) {
    createDirectories(stager->workFolder_);
    writeFileAtomic(joinPath(stager->workFolder_, kTrustFileName), trust.data(), trust.size());
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    stager_ = stager;
  }
  if (Cancelled() || preloadStopped_.load()) stager->Cancel();

  RateLimiter& limiter = ProcessRateLimiter();
  const uint64_t foregroundRate = limiter.Rate();
  uint64_t background = foregroundRate > 0 ? foregroundRate / kBackgroundShare : kBackgroundRate;
  if (background < uint64_t(kMinMaxKbps) * kRateLimitKiB) background = kMinMaxKbps * kRateLimitKiB;
  limiter.SetRate(background, os::tickCount());
  Log(L"Arka plan hizi: %llu KB/sn", (unsigned long long)(background / kRateLimitKiB));

  const bool staged = stager->StageRelease(present);
  limiter.SetRate(foregroundRate, os::tickCount());
  {
    std::lock_guard<std::mutex> guard(lock_);
    stager_ = nullptr;
    ++status_.changeCounter;  // the remark comes back
  }
  const StatusSnapshot result = stager->GetStatus();
  delete stager;
  if (staged) {
    Log(L"Sonraki surum hazir.");
  } else if (preloadStopped_.load()) {
    Log(L"Sonraki surumun hazirlanmasi oyun icin durduruldu.");
  } else if (!Cancelled()) {
    Log(L"Sonraki surum hazirlanamadi: %ls", result.errorText.c_str());
  }
  return staged;
}

bool UpdateEngine::StageRelease(const std::vector<FileEntry>& present) {
  if (!http_.Open(kUserAgent)) return Fail(L"HTTP istemcisi acilamadi");
  PrepareWorkArea();
  LoadCrcCache();
  RemoteConfig config;
  if (!LoadRemoteConfig(config)) return false;
  std::vector<FileEntry> targets;
  std::vector<std::wstring> removed;
  if (!FetchFileLists(config, targets, removed)) return false;

  std::unordered_map<std::wstring, Present> inGame;
  for (const FileEntry& entry : present) inGame[toLowerWide(entry.path)] = {entry.size, entry.crc};
  std::vector<FileEntry> lacking;
  uint64_t lackingBytes = 0;
  for (FileEntry& entry : targets) {
    const auto found = inGame.find(toLowerWide(entry.path));
    if (found != inGame.end() && found->second.size == entry.size &&
        found->second.crc == entry.crc) {
      continue;
    }
    lackingBytes += entry.size;
    lacking.push_back(std::move(entry));
  }
  Log(L"Sonraki surum: %u dosyadan %u tanesi oyunda yok (%ls)", unsigned(targets.size()),
      unsigned(lacking.size()), formatSize(lackingBytes).c_str());
  std::vector<FileEntry>().swap(targets);

  // What an earlier start staged already is checked like game files, through this folder's cache.
  std::vector<FileEntry> toFetch;
  FileEntry patcherEntry;
  bool patcherDiffers = false;
  if (!CheckFiles(lacking, toFetch, patcherEntry, patcherDiffers)) return false;
  SaveCrcCache();
  if (toFetch.empty()) {
    CleanTempDownloads(nullptr);
    return true;
  }
  const bool downloaded = DownloadFiles(toFetch, nullptr);
  SaveCrcCache();
  LogMirrors();
  return downloaded;
}

float UpdateEngine::DownloadedFraction() const {
  std::lock_guard<std::mutex> guard(lock_);
  uint64_t total = 0, done = 0;
  for (const DownloadJob& job : jobs_) {
    total += JobBytesTotal(job);
    done += JobBytesDone(job);
  }
  return total > 0 ? float(double(done) / double(total)) : 0.0f;
}

void UpdateEngine::TakeStagedFiles(std::vector<FileEntry>& toUpdate) {
  const std::wstring folder = joinPath(workFolder_, kNextFolderName);
  if (toUpdate.empty() || !isDirectory(folder)) return;
  std::vector<uint8_t> buffer(kReadSize);
  std::vector<FileEntry> left;
  size_t taken = 0;
  uint64_t takenBytes = 0;
  for (FileEntry& entry : toUpdate) {
    const std::wstring staged = joinPath(folder, entry.path);
    const os::FileInfo info = os::queryFileInfo(staged);
    if (Cancelled() || !info.exists || info.directory || info.size != entry.size) {
      left.push_back(std::move(entry));
      continue;
    }
    // Its name proves nothing: only bytes with the listed CRC are taken.
    uint32_t crc = 0;
    uint64_t size = 0;
    SetCurrentText(entry.path);
    const bool read = Crc32File(staged, buffer.data(), kReadSize, crc, size,
                                [this](uint32_t) { return !Cancelled(); });
    if (!read || crc != entry.crc || size != entry.size) {
      if (read) {
        Log(L"Hazirlanan dosya uyusmadi, indirilecek: %ls", entry.path.c_str());
        os::deleteFile(staged);
      }
      left.push_back(std::move(entry));
      continue;
    }
    const std::wstring dest = joinPath(root_, entry.path);
    createDirectories(parentPath(dest));
    std::wstring error;
    if (!ReplaceFile(staged, dest, entry.path, error)) {
      Log(L"Hazirlanan dosya yerine konamadi: %ls", error.c_str());
      left.push_back(std::move(entry));
      continue;
    }
    RecordCrc(entry.path, dest, entry.crc);
    ++taken;
    takenBytes += entry.size;
  }
  toUpdate.swap(left);
  if (taken > 0) {
    Log(L"Hazirlanan surumden alindi: %u dosya (%ls), indirilecek %u dosya", unsigned(taken),
        formatSize(takenBytes).c_str(), unsigned(toUpdate.size()));
  }
}

}  // namespace sv
