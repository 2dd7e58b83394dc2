#pragma once
// Progress figures of a download phase: overall and per-file fractions weighted by file size,
// the file line, and in bytes to download the amount, the speed over the last 4 s and the
// remaining time over the last 8 s.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "patcher/engine/download_plan.h"

namespace sv {

struct ProgressFigures {
  float overall = 0;
  bool hasCurrent = false;  // false: the current fraction and file line stay as they were
  float current = 0;
  std::wstring fileLine;
  std::wstring speedText, remainingText, amountText;
};

// A job's bytes to download: its ".lz" size once the server (or the signed list) has told it,
// the file's own size until then; and how many of them have arrived.
uint64_t JobBytesTotal(const DownloadJob& job);
uint64_t JobBytesDone(const DownloadJob& job);

class ProgressMeter {
 public:
  void Reset();
  // now: a GetTickCount value. writingText: the SV_WRITING text; inUseText replaces the file
  // line when non-empty.
  ProgressFigures Tick(uint32_t now, const std::vector<DownloadJob>& jobs,
                       uint64_t totalDownloaded, const std::wstring& writingText,
                       const std::wstring& inUseText);

 private:
  struct Sample {
    uint32_t tick;
    uint64_t value;
  };
  std::deque<Sample> speed_, remaining_;
};

}  // namespace sv
