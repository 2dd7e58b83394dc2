#pragma once
// The parts of a log line that do not depend on the OS: the printf-style message and the line
// around it. Shared by the Windows and the host log so both write byte-identical lines.
#include <cstdarg>
#include <cstdint>
#include <string>

namespace sv {

constexpr size_t kLogMessageMaxChars = 2047;   // a longer message is cut
constexpr uint32_t kLogCapBytes = 1048576;     // later lines are dropped once this is reached

struct LogClock {
  unsigned hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Formats with C99 conversions (%ls wide, %s narrow UTF-8, %d, %u, %x, %llu, %zu, %f, ...), the
// same on every build: the C libraries disagree on narrow strings in a wide format (one fails on
// UTF-8, the other reads it as Latin-1). %n is never written through. The result is cut to
// kLogMessageMaxChars characters.
std::wstring FormatLogMessage(const wchar_t* format, va_list args);

// "HH:MM:SS.mmm  message\r\n" in UTF-8.
std::string FormatLogLine(const LogClock& clock, const std::wstring& message);

}  // namespace sv
