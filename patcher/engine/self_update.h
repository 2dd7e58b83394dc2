#pragma once
// Self-update: the rules that decide whether a downloaded patcher may replace the running one,
// and the names of the files the swap uses. The system calls are SystemSwapSteps.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

constexpr size_t kPatcherMaxBytes = 67108864;  // 64 MiB
constexpr wchar_t kUpdatedSwitch[] = L"--sv-updated";

// "<temp>\<program file name>.new" and ".old"; the fallback old name lies beside the program.
std::wstring SelfUpdateNewPath(const std::wstring& workFolder, const std::wstring& programPath);
std::wstring SelfUpdateOldPath(const std::wstring& workFolder, const std::wstring& programPath);
std::wstring SelfUpdateFallbackOldPath(const std::wstring& programPath);

// "<temp>\<program file name>.failed": the CRC-32 (eight hexadecimal digits) of a build that was
// put in place here and could not start; it is never taken again.
std::wstring SelfUpdateFailedPath(const std::wstring& workFolder, const std::wstring& programPath);
// Reads and writes that record; a missing or unreadable one names no build.
bool ReadFailedBuild(const std::wstring& path, uint32_t& crcOut);
bool WriteFailedBuild(const std::wstring& path, uint32_t crc);

// What decides which build the running patcher becomes. Two places can name one: the
// configuration (sv_patcher_url with a valid sv_patcher_crc32) and a file list that names the
// program's own file (only for a patcher inside the game folder).
struct SelfUpdateFacts {
  uint32_t ownCrc = 0;
  bool configNames = false;
  uint32_t configCrc = 0;
  bool listNames = false;
  uint32_t listCrc = 0;
  bool restarted = false;    // started by a self-update ("--sv-updated") or put back after one
  bool failedKnown = false;  // a build that could not start here before
  uint32_t failedCrc = 0;
};

enum class SelfUpdateRoute { None, Configuration, FileList };

struct SelfUpdatePlan {
  SelfUpdateRoute route = SelfUpdateRoute::None;
  uint32_t target = 0;
  std::vector<std::wstring> logLines;  // why a named build is not taken, each said once
};

// The rule, so that two places naming two builds never replace each other for ever:
// - the configuration wins: when it names a build, that build is the target and a list entry
//   for the program is neither installed nor a target (a disagreeing one is logged once);
// - a list entry is the target only when the configuration names none;
// - a patcher started by a self-update never takes another build in that run;
// - a build that could not start here before is never taken again.
// PlanConfigurationUpdate is asked right after the notice (the lists are not read yet),
// PlanFileListUpdate once the lists are merged (listNames/listCrc filled).
SelfUpdatePlan PlanConfigurationUpdate(const SelfUpdateFacts& facts);
SelfUpdatePlan PlanFileListUpdate(const SelfUpdateFacts& facts);

// The patcher's address names an ".lz" file: its path ends in ".lz" in any case, the query left out.
bool IsLzPatcherUrl(const std::wstring& url);

// The command line the new patcher is started with.
std::wstring SelfUpdateCommandLine(const std::wstring& programPath);

// The fetched body turned into the new program file: decoded when the address names an ".lz",
// then it must be non-empty with the published CRC. logOut gets the line to log on refusal.
bool PreparePatcherBody(const std::wstring& url, uint32_t expectedCrc, std::string& body,
                        std::wstring& logOut);

// The swap. A running program file cannot be replaced on Windows, only moved; moving it aside and
// the new file in are two steps, and a kill between them left no program file at all. So the
// running patcher never touches its own file: it copies it as the previous build
// ("<temp>\<name>.old", else beside the program) and starts that copy as the swap helper
// ("--sv-swap"), then ends. The helper waits until the program file can be replaced and replaces
// it with the new one in a single rename, then starts it with "--sv-updated". At every moment
// the program file is the whole previous build or the whole new one.
constexpr wchar_t kSwapSwitch[] = L"--sv-swap";
constexpr wchar_t kSwapKeepSwitch[] = L"--sv-keep";
constexpr wchar_t kSwapNoStartSwitch[] = L"--sv-no-start";
// How long the helper waits for the old patcher to end and free the program file.
constexpr uint32_t kSwapWaitMs = 20000;
constexpr uint32_t kSwapRetryMs = 100;
constexpr uint32_t kErrorNotSameDevice = 17;

// "<temp>\<name>.old.part" (the copy being made), "<temp>\<name>.swap" (a copy of a new build
// that could not start, putting the previous one back) and "<program>.new" (the new file staged
// beside the program when the temp folder lies on another volume).
std::wstring SelfUpdatePartPath(const std::wstring& oldPath);
std::wstring SelfUpdateHelperPath(const std::wstring& workFolder, const std::wstring& programPath);
std::wstring SelfUpdateStagedPath(const std::wstring& programPath);

// The calls the swap makes, so its order and its way back can be tried with any failure and any
// kill point.
struct SwapSteps {
  // MoveFileExW: replace-existing when `replace`, copy-allowed when `allowCopy`; false on failure.
  std::function<bool(const std::wstring& from, const std::wstring& to, bool replace,
                     bool allowCopy)>
      move;
  // CopyFileW, failing when `to` exists.
  std::function<bool(const std::wstring& from, const std::wstring& to)> copy;
  // Clears the read-only attribute, then deletes; errors ignored.
  std::function<void(const std::wstring& path)> remove;
  std::function<bool(const std::wstring& path)> clearReadOnly;
  std::function<bool(const std::wstring& path)> exists;
  // Reads a whole file (at most kPatcherMaxBytes) and writes a small one in place.
  std::function<bool(const std::wstring& path, std::string& bytes)> read;
  std::function<bool(const std::wstring& path, const std::string& bytes)> write;
  // Starts `program` with `arguments` after its quoted name, in the program's folder (the game
  // folder); false on failure.
  std::function<bool(const std::wstring& program, const std::wstring& arguments)> start;
  std::function<void(uint32_t ms)> sleep;
  std::function<uint32_t()> lastError;
  std::function<void(const std::wstring& line)> log;
};

// The running patcher's half: the previous build copied aside and the helper started on it.
// True when the helper runs (this patcher then ends); false leaves everything as it was.
bool SwapInNewPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                      const SwapSteps& steps);

// What the helper is asked: put `source` in place of `program`, then (unless told not to) start
// it; `keep` is the previous build, put back when the new one cannot be started.
struct SwapRequest {
  std::wstring program, source, keep;
  bool start = true;
  bool valid = false;
};
std::wstring SwapHelperArguments(const SwapRequest& request);
// The arguments after "--sv-swap" (earlier ones are skipped); valid with two full paths.
SwapRequest ParseSwapArguments(const std::vector<std::wstring>& arguments);

// The helper's whole work; its exit code: 0 the new file is in place (and started when asked),
// 1 otherwise (the previous build in place and started, when there was one).
int RunSwapHelper(const SwapRequest& request, const SwapSteps& steps);

// A patcher that could not load its skin or open its window, with the previous build still kept
// (".old"): records its own build as one that could not start (never taken again), and starts a
// copy of itself as the helper that puts the previous build back and starts it, once: a build
// already recorded as failed puts it back without starting it. True when the helper runs.
bool RestorePreviousPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                            const SwapSteps& steps);

// The files a swap leaves, deleted once the running patcher has shown it works (skin loaded,
// window open): the previous build, its partial copy, a helper copy and a staged new file.
std::vector<std::wstring> SelfUpdateLeftovers(const std::wstring& workFolder,
                                              const std::wstring& programPath);

// An Authenticode signature as the system reports it for one file, and the file's version.
struct FileSignature {
  bool present = false;       // the file carries an embedded signature with a signer certificate
  int32_t trust = 0;          // WinVerifyTrust's answer (0 verified up to a trusted root)
  std::string signerCert;     // the signer certificate, DER
  std::string signerSubject;  // its subject name, DER
  std::string signerKey;      // its public key: algorithm identifier and key bits
  bool versionKnown = false;  // the file has a version resource
  uint64_t fileVersion = 0;   // its file version, major.minor.build.revision in 16 bits each
};

enum class SignerVerdict {
  CrcOnly,   // the running patcher is not signed: the CRC rule alone applies
  Accepted,  // signed by the same signer, the signature holds, the version is not lower
  Refused,
};

// A signed patcher is replaced only by one whose signature holds, whose signer has the same
// subject, and whose file version is not lower than its own. A certificate renewed for the same
// subject is taken: when the system verifies the new signer's chain up to a trusted root, the
// subject is all that must match; when the chain ends in a certificate the system does not know
// (an operator's own certificate, or an expired one), nothing but the key vouches for the subject,
// so the renewed certificate must keep the key. Another subject is refused either way.
// reasonOut (when given) gets the log line of a refusal.
SignerVerdict DecideSigner(const FileSignature& running, const FileSignature& candidate,
                           std::wstring* reasonOut = nullptr);
// "2.6.0.0"
std::wstring FormatFileVersion(uint64_t version);

// The file version of a version resource (VS_VERSIONINFO): the VS_FIXEDFILEINFO found by its
// signature; false when there is none.
bool ParseFixedFileVersion(const void* data, size_t size, uint64_t& versionOut);

// The system's swap steps (all but `log`); programs start in the game folder.
SwapSteps SystemSwapSteps(const std::wstring& gameFolder);

// What the system says about a file's signature (never present on the host, which has none).
FileSignature ReadFileSignature(const std::wstring& path);

}  // namespace sv
