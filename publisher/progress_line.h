#pragma once
// One self-overwriting status line for long runs, shown only when the stream is a terminal (a
// log file or a pipe gets no carriage returns).
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace sv {

// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
  ~ProgressLine() { Clear(); }

  // Redrawn at most ten times a second, with the rate and the time left once it has run a
  // second; the end of the current file's name fills what is left of one terminal line.
  void Show(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesDone, uint64_t bytesTotal,
            const std::string& current);
  // The same at a given moment (for tests).
  void ShowAt(std::chrono::steady_clock::time_point now, uint64_t filesDone, uint64_t filesTotal,
              uint64_t bytesDone, uint64_t bytesTotal, const std::string& current);
  void Clear();

 private:
  std::ostream& out_;
  bool enabled_;
  size_t shownWidth_ = 0;
  std::chrono::steady_clock::time_point last_{};
  std::chrono::steady_clock::time_point started_{};
};

std::string FormatBytes(uint64_t bytes);
// "42s", "3m05s", "2h10m".
std::string FormatDuration(double seconds);

}  // namespace sv
