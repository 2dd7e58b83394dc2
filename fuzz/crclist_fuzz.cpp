// Reads arbitrary bytes as a source's "crclist": every file it takes has a safe relative path (no
// drive, no root, no "." or ".." component), a size below 2^47 and a URL path made of URL
// characters; no path is listed twice, and merging the list keeps exactly its files.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz/fuzz_check.h"
#include "release/file_list.h"

using sv::fuzz::Check;

namespace {

void CheckSafePath(const std::wstring& path) {
  Check(!path.empty() && path.front() != L'\\' && path.back() != L'\\');
  Check(path.find(L'/') == std::wstring::npos && path.find(L':') == std::wstring::npos);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring part = path.substr(start, end - start);
    Check(!part.empty() && part != L"." && part != L"..");
    for (wchar_t c : part) Check(c >= 32);
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<sv::FileEntry> entries;
  std::wstring error;
  std::vector<std::wstring> log;
  if (!sv::ParseFileList(sv::fuzz::Bytes(data, size), entries, error, &log)) {
    Check(!error.empty());
    return 0;
  }
  Check(entries.size() <= sv::kFileListMaxEntries);  // an empty list is a release without files
  std::set<std::wstring> lower;
  for (const sv::FileEntry& entry : entries) {
    CheckSafePath(entry.path);
    Check(entry.size < (uint64_t(1) << 47));
    Check(lower.insert(sv::toLowerWide(entry.path)).second);
    const std::string urlPath = sv::FileUrlPath(entry.path);
    Check(!urlPath.empty() && urlPath.front() != '/');
    for (char c : urlPath) Check(c > 32 && c < 127 && c != '\\');
  }
  const size_t count = entries.size();
  sv::MergedFileList merged;
  std::vector<sv::FileEntry> again = entries;
  sv::MergeFileLists(merged, L"http://127.0.0.1/a/", std::move(entries));
  Check(merged.entries.size() == count);
  // A second source listing the same paths replaces entries and adds none.
  sv::MergeFileLists(merged, L"http://127.0.0.1/b/", std::move(again));
  Check(merged.entries.size() == count && merged.positionByLowerPath.Size() == count);
  return 0;
}
