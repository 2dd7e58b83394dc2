#pragma once
// Code signing with the Windows SDK's signtool.exe, run as a hidden child process: SHA-256 file
// digests, a PKCS#12 certificate and, when a server is given, an RFC 3161 time stamp.
//
// The certificate password never leaves the builder. signtool's /p would put it on a command
// line, which every process of the user can read and process-creation auditing (event 4688 with
// command lines) writes into the logs of build machines; an environment variable or a
// password-free copy of the .pfx would leave it, or the key it guards, where other programs look.
// Instead the builder opens the .pfx itself (PFXImportCertStore, in its own memory), puts the
// certificate into a certificate store of the current user made for this one signature, with its
// private key in a key container of the user, and names only the store and the certificate's
// SHA-1 thumbprint to signtool (/s STORE /sha1 HASH, which the tool documents for exactly this).
// The store, the certificate and the key container are deleted when the signature is done,
// whatever its outcome.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "builder/build_request.h"

namespace sv {

struct SignOptions {
  std::wstring toolPath;  // empty: FindSignTool
  std::wstring pfxPath;
  std::wstring password;  // opens the .pfx inside the builder; never given to the tool
  std::wstring timestampUrl;
  const std::atomic<bool>* cancel = nullptr;  // ends a running tool: the signature fails
};

// Where signtool finds the certificate and its key: the store the builder made for this
// signature and the certificate's SHA-1 thumbprint (40 hex digits).
struct SigningIdentity {
  std::wstring store;
  std::wstring thumbprint;
};

// The candidates of one search, as found on disk: a version folder ("10.0.22621.0"), or "" for
// the fixed fallback places, with the tool's full path.
struct SignToolCandidate {
  std::wstring version;
  std::wstring path;
};

// The greatest version folder wins (ordinal comparison, the longer name on equal text); a later
// candidate replaces the kept one only when strictly greater, so the first found (x86) stays for
// one version.
std::wstring PickSignTool(const std::vector<SignToolCandidate>& versioned);

// The Windows SDK folders under "ProgramFiles(x86)" and "ProgramFiles": Windows only.
std::wstring FindSignTool();

// One argument quoted so that CommandLineToArgvW and the C runtime give it back unchanged: in
// double quotes, a quote escaped with a backslash, and the backslashes in front of a quote or of
// the closing quote doubled. Without this a password ending in '\' or holding '"' would spill
// into further arguments of the tool.
std::wstring QuoteArgument(std::wstring_view argument);

// `"tool" sign /fd SHA256 /s "store" /sha1 "thumbprint"[ /d "description"]`, every argument
// quoted; double quotes in the description become single quotes. No password: see above.
std::wstring SignBaseCommand(const std::wstring& tool, const SigningIdentity& identity,
                             const std::wstring& productName);

// Runs a command line hidden, standard output and error captured (ANSI code page, trimmed). A
// program still running after timeoutMs, or when *cancel becomes true, is ended: false, with
// TimedOutText (or CancelledToolText) after what it printed. False too when it cannot be started.
bool RunCaptured(const std::wstring& commandLine, std::wstring& outputOut, uint32_t& exitCodeOut,
                 uint32_t timeoutMs, const std::atomic<bool>* cancel = nullptr);

// Signs `file` in place; a failed time stamp falls back to an unstamped signature with a warning.
// Windows only (the certificate store).
bool SignFile(const SignOptions& options, const std::wstring& file, const VersionFields& version,
              BuildLogFn log, void* context, std::wstring* errorOut = nullptr);

// The tool runs of one signature, with the certificate already in `identity`'s store.
using RunCapturedFn = bool (*)(const std::wstring& commandLine, std::wstring& outputOut,
                               uint32_t& exitCodeOut, uint32_t timeoutMs, const std::atomic<bool>* cancel);
bool SignFileWith(RunCapturedFn run, const std::wstring& tool, const SigningIdentity& identity,
                  const SignOptions& options, const std::wstring& file, const VersionFields& version,
                  BuildLogFn log, void* context, std::wstring* errorOut);

constexpr uint32_t kSignTimeoutMs = 180000;

// The line that tells the operator a tool was ended at its time limit.
std::wstring TimedOutText(uint32_t timeoutMs);
std::wstring CancelledToolText();

}  // namespace sv
