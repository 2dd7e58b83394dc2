#pragma once
// The patcher's log: one UTF-8 text file, a time-stamped line per event, truncated at every start
// and capped at 1 MiB. Any thread may log.
//
// Formats follow C99 on both builds: %ls for a wide string, %s for a narrow (UTF-8) one.
#include <string>

namespace sv {

// Creates (truncates) the log; on failure logging is silently off.
void OpenLog(const std::wstring& path);
void CloseLog();
void Log(const wchar_t* format, ...);

}  // namespace sv
