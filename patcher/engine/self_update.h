#pragma once
// Self-update: the rules that decide whether a downloaded patcher may replace the running one,
// and the names of the files the swap uses. The system calls are SystemSwapSteps.
#include <cstdint>
#include <functional>
#include <string>

namespace sv {

constexpr size_t kPatcherMaxBytes = 67108864;  // 64 MiB
constexpr wchar_t kUpdatedSwitch[] = L"--sv-updated";

// "<temp>\<program file name>.new" and ".old"; the fallback old name lies beside the program.
std::wstring SelfUpdateNewPath(const std::wstring& workFolder, const std::wstring& programPath);
std::wstring SelfUpdateOldPath(const std::wstring& workFolder, const std::wstring& programPath);
std::wstring SelfUpdateFallbackOldPath(const std::wstring& programPath);

// The patcher's address names an ".lz" file: its path ends in ".lz" in any case, the query left out.
bool IsLzPatcherUrl(const std::wstring& url);

// The command line the new patcher is started with.
std::wstring SelfUpdateCommandLine(const std::wstring& programPath);

// The fetched body turned into the new program file: decoded when the address names an ".lz",
// then it must be non-empty with the published CRC. logOut gets the line to log on refusal.
bool PreparePatcherBody(const std::wstring& url, uint32_t expectedCrc, std::string& body,
                        std::wstring& logOut);

// The calls the swap makes, so its order and its way back can be tried with any failure.
struct SwapSteps {
  // MoveFileExW with replace-existing (and copy-allowed when asked); false on failure.
  std::function<bool(const std::wstring& from, const std::wstring& to, bool allowCopy)> move;
  std::function<void(const std::wstring& path)> remove;  // errors ignored
  // Starts the program with SelfUpdateCommandLine in the game folder; false on failure.
  std::function<bool(const std::wstring& program)> start;
  std::function<uint32_t()> lastError;
  std::function<void(const std::wstring& line)> log;
};

// Puts the new file in place of the program and starts it. The program file is moved aside
// (to the temp folder, else beside itself) before the new one takes its name, and moved back
// when the new one cannot be placed or does not start: a program file is always there.
// True when the new patcher runs.
bool SwapInNewPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                      const SwapSteps& steps);

// An Authenticode signature as the system reports it for one file.
struct FileSignature {
  bool present = false;     // the file carries an embedded signature with a signer certificate
  int32_t trust = 0;        // WinVerifyTrust's answer (0 verified)
  std::string signerCert;   // the signer certificate, DER
};

enum class SignerVerdict {
  CrcOnly,   // the running patcher is not signed: the CRC rule alone applies
  Accepted,  // signed by the same certificate, and the signature holds
  Refused,
};

// A signed patcher is replaced only by one whose signature holds and whose signer certificate is
// the running file's. The signer is pinned that way, so a chain that ends in an unknown or
// expired certificate does not refuse a file on its own: operators signing with their own
// certificate keep updating.
SignerVerdict DecideSigner(const FileSignature& running, const FileSignature& candidate);

// The system's swap steps (all but `log`): file moves, and the start of the new patcher with its
// command line in the game folder.
SwapSteps SystemSwapSteps(const std::wstring& gameFolder);

// What the system says about a file's signature (never present on the host, which has none).
FileSignature ReadFileSignature(const std::wstring& path);

}  // namespace sv
