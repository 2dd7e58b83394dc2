#include "builder/build_log.h"

#include <cstdio>

#include "common/text.h"

namespace sv {

void BuildLog::Append(const std::wstring& message, int level, const std::wstring& time) {
  size_t at = 0;
  bool first = true;
  for (;;) {
    size_t end = message.find(L'\n', at);
    std::wstring line = message.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    entries.push_back({first ? time : std::wstring(), std::move(line), level});
    first = false;
    // A message ending in a line break gives no empty entry after it.
    if (end == std::wstring::npos || end + 1 == message.size()) break;
    at = end + 1;
  }
}

std::wstring BuildLog::CopyText() const {
  std::wstring out;
  for (const LogEntry& e : entries) {
    out += e.time.empty() ? std::wstring(8, L' ') : e.time;
    out += L"  ";
    out += e.text;
    out += L"\r\n";
  }
  return out;
}

bool BuildLog::Contains(const std::wstring& part) const {
  for (const LogEntry& e : entries) {
    if (e.text.find(part) != std::wstring::npos) return true;
  }
  return false;
}

std::wstring LogTimeText(int hours, int minutes, int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours % 100, minutes % 100, seconds % 100);
  return toWide(text);
}

}  // namespace sv
