#include "patcher/engine/download_progress.h"

#include <algorithm>

#include "common/text.h"

namespace sv {

namespace {

constexpr uint32_t kSpeedWindowMs = 4000;
constexpr uint32_t kRemainingWindowMs = 8000;
// A file's share reaches its last 2 % only when it is installed.
constexpr double kDownloadShare = 0.98;

}  // namespace

void ProgressMeter::Reset() {
  speed_.clear();
  remaining_.clear();
}

namespace {

template <typename Queue>
void PushSample(Queue& queue, uint32_t now, uint64_t value, uint32_t windowMs) {
  queue.push_back({now, value});
  while (queue.size() > 2 && uint32_t(now - queue.front().tick) > windowMs) queue.pop_front();
}

}  // namespace

uint64_t JobBytesTotal(const DownloadJob& job) {
  return job.remoteSize >= 0 ? uint64_t(job.remoteSize) : job.hasObject ? job.objectSize : job.size;
}

uint64_t JobBytesDone(const DownloadJob& job) {
  const uint64_t total = JobBytesTotal(job);
  return job.state == kJobDone ? total : std::min(job.downloaded, total);
}

ProgressFigures ProgressMeter::Tick(uint32_t now, const std::vector<DownloadJob>& jobs,
                                    uint64_t totalDownloaded, const std::wstring& writingText,
                                    const std::wstring& inUseText) {
  ProgressFigures figures;
  double totalWeight = 0, doneWeight = 0;
  // The amount, the speed and the time left count one thing, bytes to download.
  uint64_t bytesTotal = 0, bytesDone = 0;
  const DownloadJob* current = nullptr;
  for (const DownloadJob& job : jobs) {
    bytesTotal += JobBytesTotal(job);
    bytesDone += JobBytesDone(job);
    const double weight = job.size ? double(job.size) : 1.0;
    totalWeight += weight;
    if (job.state == kJobDone) {
      doneWeight += weight;
    } else if (job.remoteSize > 0) {
      doneWeight += double(job.downloaded) / double(job.remoteSize) * weight * kDownloadShare;
    }
    if (!current && (job.state == kJobDownloading || job.state == kJobFinishing)) current = &job;
  }
  figures.overall = totalWeight > 0 ? float(doneWeight / totalWeight) : 1.0f;

  if (current) {
    figures.hasCurrent = true;
    const double fraction =
        current->remoteSize > 0 ? double(current->downloaded) / double(current->remoteSize) : 0;
    if (current->state == kJobFinishing) {
      figures.current = 1.0f;
      figures.fileLine = writingText + L" - " + current->name;
    } else {
      figures.current = float(fraction);
      figures.fileLine = current->name + L" (%" + std::to_wstring(unsigned(fraction * 100)) + L")";
    }
  }
  if (!inUseText.empty()) {
    figures.hasCurrent = true;
    figures.fileLine = inUseText;
  }

  PushSample(speed_, now, totalDownloaded, kSpeedWindowMs);
  const double speedElapsed = double(uint32_t(now - speed_.front().tick)) / 1000.0;
  if (speedElapsed > 0.5 && totalDownloaded > speed_.front().value) {
    figures.speedText = formatSpeed(double(totalDownloaded - speed_.front().value) / speedElapsed);
  }

  PushSample(remaining_, now, bytesDone, kRemainingWindowMs);
  const double remainElapsed = double(uint32_t(now - remaining_.front().tick)) / 1000.0;
  if (remainElapsed > 1.0 && bytesDone > remaining_.front().value) {
    const double rate = double(bytesDone - remaining_.front().value) / remainElapsed;
    if (rate > 1.0) figures.remainingText = formatDuration(uint64_t(double(bytesTotal - bytesDone) / rate) + 1);
  }
  figures.amountText = formatSize(bytesDone) + L" / " + formatSize(bytesTotal);
  return figures;
}

}  // namespace sv
