#pragma once
// The build without a window, for operators' scripts and CI:
//   SarvikBuilder.exe --build SESSION.ini [--out PATH]
// reads a session file in the builder's own format, runs the same pipeline as the window and
// prints every log line, then the "sv_patcher_crc32=%08X" line. The certificate password comes
// only from the caller (the environment), never from the file.
#include <string>
#include <vector>

namespace sv {

constexpr int kHeadlessBuilt = 0;
constexpr int kHeadlessFailed = 1;
constexpr int kHeadlessBadArguments = 2;

using HeadlessPrintFn = void (*)(void* context, const std::wstring& line);

// True when the arguments (without the program name) ask for a headless build.
bool IsHeadlessBuild(const std::vector<std::wstring>& args);

// Runs the build; returns kHeadlessBuilt, kHeadlessFailed or kHeadlessBadArguments.
int RunHeadlessBuild(const std::vector<std::wstring>& args, const std::wstring& templatePath,
                     const std::wstring& password, HeadlessPrintFn print, void* context);

}  // namespace sv
