#pragma once
// Code signing with the Windows SDK's signtool.exe, run as a hidden child process: SHA-256 file
// digests, a PKCS#12 certificate and, when a server is given, an RFC 3161 time stamp.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "builder/build_request.h"

namespace sv {

struct SignOptions {
  std::wstring toolPath;  // empty: FindSignTool
  std::wstring pfxPath;
  std::wstring password;  // left out of the command when empty
  std::wstring timestampUrl;
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

// `"tool" sign /fd SHA256 /f "pfx"[ /p "password"][ /d "description"]`, every argument quoted;
// double quotes in the description become single quotes.
std::wstring SignBaseCommand(const std::wstring& tool, const SignOptions& options,
                             const std::wstring& productName);

// Runs a command line hidden, standard output and error captured (ANSI code page, trimmed). A
// program still running after timeoutMs is ended: false, with TimedOutText after what it printed.
// False too when it cannot be started.
bool RunCaptured(const std::wstring& commandLine, std::wstring& outputOut, uint32_t& exitCodeOut,
                 uint32_t timeoutMs);

// Signs `file` in place; a failed time stamp falls back to an unstamped signature with a warning.
bool SignFile(const SignOptions& options, const std::wstring& file, const VersionFields& version,
              BuildLogFn log, void* context, std::wstring* errorOut = nullptr);

// The runner SignFile uses; tests replace it to see the command lines.
using RunCapturedFn = bool (*)(const std::wstring& commandLine, std::wstring& outputOut,
                               uint32_t& exitCodeOut, uint32_t timeoutMs);
bool SignFileWith(RunCapturedFn run, const std::wstring& tool, const SignOptions& options,
                  const std::wstring& file, const VersionFields& version, BuildLogFn log, void* context,
                  std::wstring* errorOut);

constexpr uint32_t kSignTimeoutMs = 180000;

// The line that tells the operator a tool was ended at its time limit.
std::wstring TimedOutText(uint32_t timeoutMs);

}  // namespace sv
