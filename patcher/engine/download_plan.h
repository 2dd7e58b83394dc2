#pragma once
// The bookkeeping of a segmented download that does not touch the OS: the job and work-item
// records, the names and addresses derived from a file entry, and the sizes that bound a run.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

class LocaleTable;
class ObjectHashCursor;
struct FileEntry;

enum JobState : int32_t {
  kJobNew = 0,
  kJobDownloading = 1,
  kJobFinishing = 2,
  kJobDone = 3,
  kJobFailed = 4,
};

struct DownloadJob {
  std::wstring name;       // relative path
  std::string listPath;    // as in the file list (percent-encoded, '/'), for the URL
  std::wstring baseUrl;
  uint32_t crc = 0;
  uint64_t size = 0;
  std::wstring destPath;
  std::wstring partPath, statePath, outPath;
  std::wstring url;
  int64_t remoteSize = -1;
  uint64_t segmentSize = 0;
  int32_t partCount = 0;
  int32_t partsLeft = 0;
  std::vector<uint8_t> partDone;
  uint64_t downloaded = 0;
  int32_t redownloads = 0;
  int32_t state = kJobNew;
  bool isExtra = false;
  // A signed release's ".lz": its exact size and SHA-256, checked before it is decoded.
  bool hasObject = false;
  uint64_t objectSize = 0;
  std::array<uint8_t, 32> objectDigest{};
  // Its hash so far, taken as segments arrive; a new one whenever the file starts afresh.
  std::shared_ptr<ObjectHashCursor> objectHash;
  // The compressed resource changed on the server (another total or a 416): the file starts
  // afresh once no attempt of the old generation is in flight.
  int32_t generation = 0;
  int32_t attemptsInFlight = 0;
  int32_t restarts = 0;
  bool restartPending = false;
  // Mirrors: those that served the segments now in the ".part" (none known for a resumed one),
  // the one that answered its first request, and, once a mixed download failed its check, the one
  // mirror every segment comes from.
  std::vector<int32_t> servedBy;
  bool resumed = false;
  int32_t firstMirror = -1;
  bool pinned = false;
  int32_t pinMirror = -1;
  bool pastCache = false;  // fetched again after a failed check: past any cache on the way
};

// part -1 is the first request of a file whose segmentation is still open.
struct WorkItem {
  int32_t job = 0;
  int32_t part = -1;
  int32_t retries = 0;
  uint32_t notBefore = 0;  // GetTickCount value; 0 = ready at once
  int32_t avoid = -1;      // a mirror this item left for being slow: it goes elsewhere
};

// One attempt on a work item: where it goes, and how it failed as far as mirrors go.
struct Attempt {
  int32_t mirror = -1;   // -1: the job's own address
  std::wstring url;
  bool mayMove = false;  // a slow transfer may be cut off for a faster mirror
  uint64_t bytes = 0;    // what it brought
  bool remoteFault = false;  // the server's doing: another mirror may serve it
  bool finalFault = false;   // the file fails unless another mirror takes it
  int32_t movedTo = -1;      // cut off for this faster mirror
};

constexpr int32_t kWorkItemAttempts = 5;
constexpr int32_t kMinWorkers = 1, kMaxWorkers = 8;
constexpr uint64_t kDiskReserveBytes = 67108864;
// A ".lz" holds the decoded length in four bytes: larger files cannot be published.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;
// How often one run starts a file afresh because its resource changed during the run.
constexpr int32_t kMaxJobRestarts = 2;

// The work folder joined with "sv_" and the relative path with every '\' and '/' as '#'; a path
// holding '#' itself becomes "sv_#" and the path with '#' and '%' escaped as "%23" and "%25".
std::wstring TempBaseName(std::wstring_view workFolder, std::wstring_view relativePath);
// baseUrl joined with listPath + ".lz", then "v=<crc %08x>".
std::wstring FileDownloadUrl(std::wstring_view baseUrl, std::string_view listPath, uint32_t crc);
// The game folder as every file operation of a run uses it: in the "\\?\" form, so that a
// destination near MAX_PATH and its longer work files still open, move and delete.
std::wstring EngineRoot(std::wstring_view gameFolder);
// A job for one entry, destination in the game folder, temporary paths in the work folder.
// A fresh hash for a signed object's download (none for an unsigned one).
std::shared_ptr<ObjectHashCursor> NewObjectHash(const DownloadJob& job);

DownloadJob MakeDownloadJob(const FileEntry& entry, std::wstring_view gameFolder,
                            std::wstring_view workFolder);

// The longest ".lz" resource that can hold `size` decoded bytes: the 4-byte length plus the
// worst case of an LZO1X stream (incompressible input). A longer response is not that file.
uint64_t MaxLzStreamSize(uint64_t size);
// Free space a download of `totalSize` bytes needs: the files, a fifth for the compressed
// copies, and 64 MiB to spare.
uint64_t DiskSpaceNeeded(uint64_t totalSize);
int32_t ClampWorkers(int32_t wanted);

// A full disk stays full and a body longer than its file can be stays so on the next attempt:
// such a failure ends the file at once instead of waiting out four more attempts.
bool AttemptIsFinal(uint32_t systemWriteError, bool overLimit);

// The text of a failed write: the first sentence of SV_DISK_FULL for a full disk (112, 39),
// otherwise FAILED_WRITE_FILE, a space and the system's text.
std::wstring WriteErrorText(const LocaleTable& locale, uint32_t systemError);

}  // namespace sv
