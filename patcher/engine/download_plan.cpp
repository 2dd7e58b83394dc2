#include "patcher/engine/download_plan.h"

#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "release/file_list.h"
#include "patcher/engine/object_hash.h"
#include "release/url.h"
#include "skin/locale_table.h"

namespace sv {

namespace {
constexpr uint32_t kErrorHandleDiskFull = 39;
constexpr uint32_t kErrorDiskFull = 112;
bool IsDiskFull(uint32_t systemError) {
  return systemError == kErrorDiskFull || systemError == kErrorHandleDiskFull;
}
}  // namespace

std::wstring TempBaseName(std::wstring_view workFolder, std::wstring_view relativePath) {
  // '#' is legal in a name: such names are percent-escaped behind a leading '#', which no other
  // flattened name can have (components are never empty). All other names stay as they were, so
  // resume states of older runs still match.
  const bool escape = relativePath.find(L'#') != std::wstring_view::npos;
  std::wstring flat = escape ? L"sv_#" : L"sv_";
  for (wchar_t c : relativePath) {
    if (c == L'\\' || c == L'/') {
      flat += L'#';
    } else if (escape && c == L'#') {
      flat += L"%23";
    } else if (escape && c == L'%') {
      flat += L"%25";
    } else {
      flat += c;
    }
  }
  return joinPath(workFolder, flat);
}

std::wstring FileDownloadUrl(std::wstring_view baseUrl, std::string_view listPath, uint32_t crc) {
  const std::wstring url = joinUrl(baseUrl, toWide(std::string(listPath) + ".lz"));
  return addQueryParam(url, L"v=" + toWide(FormatCrc32(crc)));
}

std::wstring EngineRoot(std::wstring_view gameFolder) { return extendedLengthPath(gameFolder); }

DownloadJob MakeDownloadJob(const FileEntry& entry, std::wstring_view gameFolder,
                            std::wstring_view workFolder) {
  DownloadJob job;
  job.name = entry.path;
  job.listPath = FileUrlPath(entry.path);
  job.baseUrl = entry.source.str();
  job.crc = entry.crc;
  job.size = entry.size;
  job.destPath = joinPath(gameFolder, entry.path);
  const std::wstring base = TempBaseName(workFolder, entry.path);
  job.partPath = base + L".part";
  job.statePath = base + L".state";
  job.outPath = base + L".out";
  job.url = FileDownloadUrl(job.baseUrl, job.listPath, job.crc);
  if (entry.object) {
    job.hasObject = true;
    job.objectSize = entry.object->size;
    job.objectDigest = entry.object->digest;
  }
  job.objectHash = NewObjectHash(job);
  return job;
}

std::shared_ptr<ObjectHashCursor> NewObjectHash(const DownloadJob& job) {
  return job.hasObject ? std::make_shared<ObjectHashCursor>() : nullptr;
}

uint64_t MaxLzStreamSize(uint64_t size) { return 4 + size + size / 16 + 67; }

uint64_t DiskSpaceNeeded(uint64_t totalSize) {
  return totalSize + totalSize / 5 + kDiskReserveBytes;
}

int32_t ClampWorkers(int32_t wanted) {
  if (wanted < kMinWorkers) return kMinWorkers;
  if (wanted > kMaxWorkers) return kMaxWorkers;
  return wanted;
}

bool AttemptIsFinal(uint32_t systemWriteError, bool overLimit) {
  return overLimit || IsDiskFull(systemWriteError);
}

std::wstring WriteErrorText(const LocaleTable& locale, uint32_t systemError) {
  if (IsDiskFull(systemError)) {
    const std::wstring full = locale.text("SV_DISK_FULL");
    const size_t dot = full.find(L'.');
    return dot == std::wstring::npos ? full + L"." : full.substr(0, dot) + L".";
  }
  return locale.text("FAILED_WRITE_FILE") + L" " + systemErrorText(systemError);
}

}  // namespace sv
