#pragma once
// The update engine: one update run at a time on a thread of its own, from the remote
// configuration to installed files. The window only reads the status record and answers the two
// questions; the engine reaches the window by posted messages alone.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "patcher/engine/crc_cache.h"
#include "patcher/engine/download_plan.h"
#include "patcher/engine/download_progress.h"
#include "patcher/engine/engine_skin.h"
#include "release/file_list.h"
#include "http/http_client.h"
#include "patcher/engine/in_use.h"
#include "patcher/engine/mirror_set.h"
#include "patcher/engine/release_trust.h"
#include "patcher/engine/remote_config.h"
#include "patcher/engine/self_update.h"
#include "common/thread_os.h"

namespace sv {

class SkinDefinition;
struct ChunkedFile;
struct DownloadSink;

constexpr uint32_t kWmApp = 0x8000;
constexpr uint32_t WM_SV_NOTICE = kWmApp + 10;
constexpr uint32_t WM_SV_DONE = kWmApp + 11;          // wParam 1 success, 0 failure
constexpr uint32_t WM_SV_NEED_ADMIN = kWmApp + 12;
constexpr uint32_t WM_SV_SELF_UPDATED = kWmApp + 13;
constexpr uint32_t WM_SV_INUSE_SHOW = kWmApp + 14;
constexpr uint32_t WM_SV_INUSE_CLOSE = kWmApp + 15;
// After WM_SV_DONE of a finished update (see PreloadPending): the announced next release is
// staged (wParam 1), or staging stopped short (0). Not posted when cancelled.
constexpr uint32_t WM_SV_PRELOADED = kWmApp + 17;

enum RunPhase : int32_t {
  kPhaseLoading = 1,
  kPhaseChecking = 2,
  kPhaseDownloading = 3,
  kPhaseFinished = 4,
  kPhaseFailed = 5,
};

// A repair reads every listed file whatever the cache says, and reports what it put right.
enum class RunMode { kUpdate, kRepair };

struct StatusSnapshot {
  int32_t phase = 0;
  // The run is a repair: its check's headline carries the percentage itself.
  bool repair = false;
  std::wstring statusText, currentText, speedText, remainingText, amountText;
  float overall = 0, current = 0;
  std::wstring errorText;
  bool stoppedInUse = false;
  uint32_t changeCounter = 0;
};

// What the in-use dialog shows.
struct InUseList {
  std::vector<std::wstring> names;
  std::vector<LockingProcess> processes;
  std::wstring message;
};

constexpr wchar_t kWorkFolderName[] = L"temp";
constexpr wchar_t kOutOfMemoryText[] = L"Bellek yetersiz.";
constexpr wchar_t kWriteProbeName[] = L"Sarvik.wtest";
constexpr wchar_t kUserAgent[] = L"Sarvik/1.0";
// The next release's files wait in this folder of the work folder until it goes live, laid out
// as in the game folder; kNextMarkerName in the work folder names the configuration they are for.
constexpr wchar_t kNextFolderName[] = L"next";
constexpr wchar_t kNextMarkerName[] = L"Sarvik.next";
// What the player reads when a signed release is refused; the reason follows on its own line.
constexpr wchar_t kReleaseRefusedText[] =
    L"Güncelleme reddedildi: sunucudaki sürüm oyunun imzasını taşımıyor. Oyun klasörüne "
    L"dokunulmadı.\n";
constexpr wchar_t kObjectRefusedText[] = L"İmzalı sürümle uyuşmayan dosya: ";

class UpdateEngine {
 public:
  // window: what receives the posted messages (an HWND on Windows, an os::MessageQueue on the
  // host; may be null in tests).
  static UpdateEngine* Create(const SkinDefinition& skin, const std::wstring& gameFolder,
                              void* window, bool preview);

  // Starts a run unless one is going on.
  void Start(RunMode mode = RunMode::kUpdate);
  // Asks the run to stop; does not wait.
  void Cancel();
  // Cancel, then wait up to 1.5 s for the run; destroys the engine when the run has ended (true)
  // and leaves it alive for the still running thread otherwise. The caller drops its pointer.
  bool Shutdown();

  StatusSnapshot GetStatus() const;
  void AnswerNotice(bool accepted);
  void AnswerInUse(int32_t choice);
  std::wstring GetRunPath() const;
  RemoteConfig GetRemoteConfig() const;
  InUseList GetInUseList() const;
  // True once a run has finished its update and goes on, on its own thread, with the next
  // release (staging it, or removing what was staged for a release no longer announced); it then
  // posts WM_SV_PRELOADED. Set before WM_SV_DONE is posted.
  bool PreloadPending() const;
  // Stops staging the next release for this run (the game is starting: it gets the line).
  void StopPreload();

  // Started by a self-update ("--sv-updated", or put back after a build that could not start):
  // this run takes no other patcher build (SelfUpdateFacts::restarted). Before Start.
  void SetRestartedAfterUpdate(bool restarted) { restartedAfterUpdate_ = restarted; }
  // Also for tests: the program file (default: this process's own file).
  void SetProgramPath(const std::wstring& path) { programPath_ = path; }
  // The operator's release key: with it, only a signed release is installed or started.
  void SetReleaseKey(const ReleaseKey& key) { releaseKey_ = key; }
  // Also for tests: the read buffer of each check worker.
  void SetCheckBufferSize(uint32_t bytes) { checkReadSize_ = bytes; }
  // Also for tests: called on the run's threads at two points with the file concerned:
  // "state" just before a file's resume state is written (its ".part" path; the engine lock is
  // not held), "checked" once a file's CRC has been read in the check (its full path), before
  // its time stamp is looked at again, "cut" once a chunked file's local copies have been cut
  // into chunks (its full path), before any chunk is copied from them.
  using TestHook = void (*)(const char* point, const std::wstring& path, void* context);
  void SetTestHook(TestHook hook, void* context) {
    testHook_ = hook;
    testHookContext_ = context;
  }
  // Also for tests: who holds files (default: the system's sources, FindLockingProcesses).
  using HolderFinder = std::function<std::vector<LockingProcess>(const std::vector<std::wstring>&)>;
  void SetHolderFinder(HolderFinder finder) { findHolders_ = std::move(finder); }

 private:
  UpdateEngine(const SkinDefinition& skin, const std::wstring& gameFolder, void* window,
               bool preview);
  // The engine that keeps the staging folder: its game folder is that folder, and it has no
  // window.
  UpdateEngine(const EngineSkin& skin, const std::wstring& gameFolder);
  ~UpdateEngine();
  UpdateEngine(const UpdateEngine&) = delete;
  UpdateEngine& operator=(const UpdateEngine&) = delete;

  // Thread entry points; the context is the engine.
  static void RunEntry(void* self);
  static void CheckEntry(void* self);
  static void DownloadEntry(void* self);
  static void CommitEntry(void* self);
  // A download-phase thread's loop: running out of memory ends the run.
  void RunOrCancel(void (UpdateEngine::*loop)());
  // HttpClient sink of a download attempt; context is a DownloadSink.
  static bool SinkPiece(void* context, const void* data, uint32_t size);
  void RunThread();

  bool Cancelled() const { return cancel_.load(std::memory_order_relaxed) != 0; }
  void Post(uint32_t message, uintptr_t wParam = 0) const;
  bool SleepWatchingCancel(uint32_t totalMs);
  std::wstring Text(const char* key) const;

  // Status helpers (engine lock taken inside).
  void SetStatus(int32_t phase, const std::wstring& text);
  bool Fail(const std::wstring& text);
  void SetInUseText(const std::wstring& text);
  void SetCurrentText(const std::wstring& text);

  // The run.
  bool UpdateRun();
  // Sets the process's bandwidth limit from the builder's value and the configuration's (0: none).
  void ApplyRateLimit(int32_t configKbps);
  bool PreviewRun();

  // Pre-loading the next release (preload.cpp).
  // After a finished update: stages the announced release, or removes staged data no longer
  // announced; false when staging stopped short.
  bool PreloadAfterRun();
  // Run by the staging engine: fetches the next configuration and lists, and downloads into its
  // own game folder (the staging folder) what the game folder lacks: files not in `present`
  // with the same size and CRC.
  bool StageRelease(const std::vector<FileEntry>& present);
  // The staging engine's bytes fetched over all it fetches, for the status line: unlike the
  // window's weighted figure it moves during a file's first request, which at a background pace
  // can take minutes.
  float DownloadedFraction() const;
  // At go-live: the files to update that the staging folder holds with the listed size and CRC
  // are moved into the game folder and leave `toUpdate`.
  void TakeStagedFiles(std::vector<FileEntry>& toUpdate);
  bool NoticeAccepted(const RemoteConfig& config);
  // removedOut: the files the lists name as no longer part of the release.
  bool FetchFileLists(const RemoteConfig& config, std::vector<FileEntry>& targetOut,
                      std::vector<std::wstring>& removedOut);
  // Deletes the removed files this patcher put in place (see obsolete_files.cpp).
  void RemoveObsoleteFiles(const std::vector<std::wstring>& removed, const std::vector<FileEntry>& targets);
  // The configuration fetched, checked against the signed release when there is a key, parsed
  // and made this run's; false after Fail (or when cancelled).
  bool LoadRemoteConfig(RemoteConfig& configOut);
  // The configuration document, fresh past any cache; false after Fail (or when cancelled).
  bool FetchConfigDocument(std::string& document);
  // With a release key: the signed manifest for `document`, read again with the configuration
  // while the two do not match (a publish under way); false after Fail.
  bool AcceptSignedRelease(std::string& document);
  // True without a signed release, or when `bytes` are the list the manifest names for `source`.
  bool SignedListMatches(const std::wstring& source, std::string_view bytes) const;
  bool SignedListAccepted(const std::wstring& source, std::string_view bytes,
                          const std::vector<FileEntry>& list, const std::wstring& suffix);
  bool RefuseRelease(const std::wstring& reason, const std::string& detail);
  bool WriteTestPassed();

  // Local check and CRC cache.
  void LoadCrcCache();
  void SaveCrcCache();
  void RecordCrc(const std::wstring& relativePath, const std::wstring& fullPath, uint32_t crc);
  void RecordCrc(const std::wstring& relativePath, uint64_t size, uint64_t lastWrite,
                 uint32_t crc);
  bool CheckFiles(const std::vector<FileEntry>& targets, std::vector<FileEntry>& toUpdateOut,
                  FileEntry& patcherEntryOut, bool& patcherDiffersOut);
  void CheckWorker();

  // Download.
  bool DownloadFiles(const std::vector<FileEntry>& entries, const FileEntry* extra);
  // Room on the game's volume for `bytes` of new files and their work copies; false after Fail.
  bool EnsureDiskSpace(uint64_t bytes);
  void WorkerLoop();
  // Where the next attempt on `item` goes (engine lock held by the caller).
  Attempt BeginAttempt(const WorkItem& item);
  // After a failed attempt: true when the item went to another mirror (engine lock held).
  bool MoveToOtherMirror(WorkItem& item, const Attempt& attempt, const std::wstring& error);
  // After a failed check of a download: leaves the one mirror that served it, or has the next
  // download come from one mirror alone; true when another download is owed (engine lock held).
  bool BlameMirrors(DownloadJob& job, const std::wstring& reason);
  void LogMirrors() const;
  // Cuts off every running transfer that a faster mirror would finish clearly sooner (engine
  // lock held): each ends at once and its segment moves to that mirror.
  void CutSlowTransfers(uint32_t now);
  // http_.Get of an attempt, stoppable through the sink's own flag while it runs.
  bool GetWatched(DownloadSink& sink, const std::wstring& url, int64_t first, int64_t last,
                  HttpResult& result);
  void StopRunningTransfers();
  bool FirstRequest(int32_t jobIndex, Attempt& attempt, std::wstring& errorOut,
                    bool& completeOut);
  bool DownloadPart(int32_t jobIndex, int32_t part, Attempt& attempt, std::wstring& errorOut,
                    bool& completeOut);
  bool LoadResumeState(DownloadJob& job);
  void SaveResumeState(int32_t jobIndex);  // engine lock NOT held: the write runs outside it
  void MarkResourceChanged(int32_t jobIndex);  // engine lock held by the caller
  void RestartJob(int32_t jobIndex);
  void ProgressTick();
  void SetDownloadFailure(const std::wstring& text);  // engine lock held by the caller

  // Chunked files: rebuilt from local chunks and fetched ones; those done leave `entries`.
  enum class ChunkOutcome { kDone, kWhole, kStop };
  struct ChunkTotals {
    uint64_t reused = 0;      // bytes of new files taken from local files
    uint64_t downloaded = 0;  // bytes fetched for them, indexes included
  };
  bool UpdateChunkedFiles(std::vector<FileEntry>& entries);
  ChunkOutcome RebuildChunkedFile(const FileEntry& entry, const ChunkedFile& listed,
                                  const std::vector<std::wstring>& stores, ChunkTotals& totals);

  // Installing.
  void PrepareWorkArea();
  void CleanTempDownloads(const std::vector<std::wstring>* keep);
  void FinishJob(int32_t jobIndex);
  // A decoded and verified file's flush and move into place: on the commit thread while the
  // workers go on downloading (a flush costs no connection its time), else on the caller's.
  void CommitFile(int32_t jobIndex);
  void CommitLoop();
  // Hashes a signed object's segments that have arrived (see ObjectHashCursor).
  void AdvanceObjectHash(int32_t jobIndex);
  void Redownload(int32_t jobIndex, const std::wstring& reason);
  bool ReplaceFile(const std::wstring& source, const std::wstring& dest,
                   const std::wstring& relativePath, std::wstring& errorOut);
  // True when a folder is at `path` and stays: only an empty one is removed.
  bool FolderStaysAt(const std::wstring& path, const std::wstring& relativePath);

  // Files in use.
  bool WaitForFilesBeforeDownload();
  bool AskInUse(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& names);
  bool InUseDialogDue(int32_t tries, const std::vector<std::wstring>& paths);
  // names: the held files, relative to the game folder, for the elevated helper's check.
  void ClosePrograms(const std::vector<LockingProcess>& processes,
                     const std::vector<std::wstring>& names);
  std::vector<LockingProcess> FindHolders(const std::vector<std::wstring>& paths) const;

  // Self-update.
  std::wstring NewExePath() const;
  bool EnsureOwnCrc();
  SelfUpdateFacts SelfUpdateFactsNow() const;
  bool CheckSelfUpdate(const RemoteConfig& config);
  bool ApplySelfUpdate();

  const EngineSkin skin_;
  const std::wstring gameFolder_;   // as given, for texts
  const std::wstring root_;         // gameFolder_ in the "\\?\" form, for every file operation
  std::wstring programPath_;
  const std::wstring workFolder_;
  void* const window_;
  const bool preview_;
  bool repair_ = false;  // set by Start before the run's thread exists; the run only reads it
  HttpClient http_;

  mutable std::mutex lock_;   // guards the members marked (L)
  std::mutex inUseLock_;      // one in-use dialog at a time
  std::mutex stateLock_;      // resume-state files: one writer at a time; taken before lock_
  os::Thread runThread_;
  CancelFlag cancel_{0};
  std::mutex sinksLock_;  // taken last: guards runningSinks_
  std::vector<DownloadSink*> runningSinks_;
  uint32_t lastCutLook_ = 0;  // (L)
  std::atomic<bool> workerOutOfMemory_{false};  // an allocation failed on a run's thread

  StatusSnapshot status_;                 // (L)
  RemoteConfig remoteConfig_;             // (L)
  std::wstring defaultRunPath_;           // (L)
  os::Event noticeEvent_;
  std::atomic<int32_t> noticeAnswer_{-1};
  os::Event inUseEvent_;
  std::atomic<int32_t> inUseAnswer_{-1};
  InUseList inUseList_;                   // (L)
  std::wstring inUseText_;                // (L)
  std::wstring pendingInUseMessage_;      // (L)
  bool stoppedInUse_ = false;             // (L)
  bool preloadPending_ = false;           // (L)
  std::vector<FileEntry> installed_;      // (L) the finished run's list, for staging
  UpdateEngine* stager_ = nullptr;        // (L) while the next release is staged
  std::atomic<bool> preloadStopped_{false};

  int32_t connections_ = 4;
  uint64_t segmentSize_ = 4194304;

  // Download (L).
  std::vector<DownloadJob> jobs_;
  std::deque<WorkItem> queue_;
  int32_t activeWorkers_ = 0;
  MirrorSet mirrors_;
  bool downloadFailed_ = false;
  std::wstring downloadFailure_;
  uint64_t totalDownloaded_ = 0;
  ChunkTotals chunkTotals_;
  ProgressMeter progress_;
  bool selfUpdateReady_ = false;
  std::deque<int32_t> commitQueue_;  // decoded files waiting for CommitFile
  bool committing_ = false;          // the commit thread takes them
  bool commitsClosed_ = false;       // no more will come: the commit thread ends when done

  // Local check (L).
  CrcCacheMap crcCache_;
  const std::vector<FileEntry>* checkList_ = nullptr;
  size_t checkSkipIndex_ = 0;  // the entry of checkList_ the check leaves out (none: its size)
  uint8_t* checkResults_ = nullptr;
  std::atomic<int32_t> checkNext_{0};
  uint64_t bytesChecked_ = 0;
  uint64_t bytesToCheck_ = 0;

  uint32_t checkReadSize_ = 1048576;
  std::wstring ownProgramKey_;  // lower-cased relative path of the running patcher, if inside
  uint32_t ownCrc_ = 0;
  bool ownCrcKnown_ = false;
  bool restartedAfterUpdate_ = false;
  bool configNamesPatcher_ = false;  // this run's configuration names a patcher build
  uint32_t configPatcherCrc_ = 0;
  TestHook testHook_ = nullptr;
  void* testHookContext_ = nullptr;
  HolderFinder findHolders_;
  std::optional<ReleaseKey> releaseKey_;
  std::optional<ReleaseManifest> release_;  // the accepted manifest of this run
  std::map<std::wstring, ReleaseObject> chunkLists_;  // named by each source's list, this run
};

}  // namespace sv
