#pragma once
// The builder's log: what the log view shows and what its copy button puts on the clipboard.
#include <string>
#include <vector>

namespace sv {

enum LogLevel : int { kLogPlain = 0, kLogSuccess = 1, kLogWarning = 2, kLogError = 3 };

struct LogEntry {
  std::wstring time;  // "%02d:%02d:%02d", only on the first line of a message
  std::wstring text;
  int level = kLogPlain;
};

struct BuildLog {
  // One entry per line of the message (a trailing CR dropped); the time on the first only.
  void Append(const std::wstring& message, int level, const std::wstring& time);
  // Every entry as "time  text" (the time column left blank on continuation lines), CR LF.
  std::wstring CopyText() const;
  // Whether some entry's text contains `part`.
  bool Contains(const std::wstring& part) const;

  std::vector<LogEntry> entries;
};

std::wstring LogTimeText(int hours, int minutes, int seconds);

constexpr const wchar_t* kLogEmptyText = L"Derleme başladığında adımlar burada görünür.";

}  // namespace sv
