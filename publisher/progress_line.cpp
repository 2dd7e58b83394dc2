#include "publisher/progress_line.h"

#include <cstdio>

namespace sv {

std::string FormatBytes(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", (unsigned long long)bytes);
  } else if (bytes < (1u << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  } else if (bytes < (1ull << 30)) {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  }
  return text;
}

std::string FormatDuration(double seconds) {
  const uint64_t s = uint64_t(seconds + 0.5);
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%llus", (unsigned long long)s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%llum%02llus", (unsigned long long)(s / 60),
                  (unsigned long long)(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lluh%02llum", (unsigned long long)(s / 3600),
                  (unsigned long long)(s / 60 % 60));
  }
  return text;
}

void ProgressLine::Show(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesDone,
                        uint64_t bytesTotal, const std::string& current) {
  ShowAt(std::chrono::steady_clock::now(), filesDone, filesTotal, bytesDone, bytesTotal, current);
}

void ProgressLine::ShowAt(std::chrono::steady_clock::time_point now, uint64_t filesDone,
                          uint64_t filesTotal, uint64_t bytesDone, uint64_t bytesTotal,
                          const std::string& current) {
  if (!enabled_) return;
  if (shownWidth_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
  if (shownWidth_ == 0 && started_ == std::chrono::steady_clock::time_point{}) started_ = now;
  last_ = now;
  char head[160];
  unsigned percent = bytesTotal ? unsigned(bytesDone * 100 / bytesTotal) : 100;
  std::snprintf(head, sizeof head, "[%3u%%] %llu/%llu files, %s of %s", percent,
                (unsigned long long)filesDone, (unsigned long long)filesTotal,
                FormatBytes(bytesDone).c_str(), FormatBytes(bytesTotal).c_str());
  std::string line = head;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  // The rate needs a moment of history before it says anything.
  if (seconds >= 1 && bytesDone > 0) {
    const double rate = bytesDone / seconds;
    line += ", " + FormatBytes(uint64_t(rate)) + "/s, " +
            FormatDuration((bytesTotal > bytesDone ? bytesTotal - bytesDone : 0) / rate) +
            " left";
  }
  line += "  ";
  // Keep to one line of a narrow terminal: the end of a long name is the telling part.
  constexpr size_t kWidth = 78;
  std::string name = current;
  if (line.size() + name.size() > kWidth) {
    if (line.size() + 4 <= kWidth) {
      size_t from = name.size() - (kWidth - line.size() - 3);
      while (from < name.size() && (uint8_t(name[from]) & 0xC0) == 0x80) ++from;  // whole chars
      name = "..." + name.substr(from);
    } else {
      name.clear();  // no room: a wrapped line would no longer overwrite itself
    }
  }
  line += name;
  std::string pad(shownWidth_ > line.size() ? shownWidth_ - line.size() : 0, ' ');
  out_ << '\r' << line << pad << std::flush;
  shownWidth_ = line.size();
}

void ProgressLine::Clear() {
  if (!enabled_ || shownWidth_ == 0) return;
  out_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
  shownWidth_ = 0;
}

}  // namespace sv
