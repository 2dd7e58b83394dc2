#include "publisher/client_scan.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "common/path.h"
#include "common/text.h"
#include "publisher/glob_match.h"
#include "publisher/lzo_compress.h"
#include "publisher/path_convert.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

// `"part" what`, built by appending (GCC 12 warns falsely on the chain of + here).
std::string Named(std::wstring_view part, const char* what) {
  std::string text(1, '"');
  text.append(toUtf8(part));
  text.append("\" ");
  text.append(what);
  return text;
}

// Why makeSafeRelativePath refused a path, for the operator; the verdict itself is the
// patcher's function.
std::string Explain(std::string_view path) {
  std::wstring wide = toWide(path);
  if (wide.size() > 240) return "it is longer than 240 characters";
  for (wchar_t c : wide) {
    if (c < 32 || std::wstring_view(L":*?\"<>|\\").find(c) != std::wstring_view::npos) {
      return "it holds a character Windows does not allow in names";
    }
  }
  size_t start = 0;
  while (start <= wide.size()) {
    size_t end = std::min(wide.find(L'/', start), wide.size());
    std::wstring_view part = std::wstring_view(wide).substr(start, end - start);
    if (isReservedDeviceName(part)) return Named(part, "is a Windows device name");
    if (!part.empty() && (part.back() == L'.' || part.back() == L' ')) {
      return Named(part, "ends in a dot or a space");
    }
    start = end + 1;
  }
  return "the patcher's path rules change or refuse it";
}

int64_t ModifiedTicks(const fs::path& p) {
  std::error_code error;
  auto t = fs::last_write_time(p, error);
  return error ? 0 : int64_t(t.time_since_epoch().count());
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return !b.empty() && fs::equivalent(a, b, error);
}

}  // namespace

std::string CheckReleasePath(std::string_view path) {
  std::wstring safe;
  if (!isValidUtf8(path)) return "its name is not valid UTF-8";
  std::wstring asWritten = toWide(path);
  std::replace(asWritten.begin(), asWritten.end(), L'/', L'\\');
  if (makeSafeRelativePath(path, safe) && safe == asWritten) return {};
  return Explain(path);
}

ClientScan ScanClient(const fs::path& root, const std::vector<std::string>& excludes,
                      const fs::path& skip) {
  ClientScan scan;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
  if (error) {
    scan.problems.push_back("cannot read the client folder: " + error.message());
    return scan;
  }
  std::map<std::wstring, std::string> byLowerPath;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) {
      scan.problems.push_back("cannot read the client folder: " + error.message());
      return scan;
    }
    const fs::directory_entry& entry = *it;
    std::string path;
    if (!GenericUtf8FromPath(entry.path().lexically_relative(root), path)) {
      scan.problems.push_back("a name below the client folder is not valid UTF-8");
      continue;
    }
    std::error_code typeError;
    if (entry.is_directory(typeError)) {
      if (SameFile(entry.path(), skip) || IsExcluded(excludes, path)) it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file(typeError) || IsExcluded(excludes, path)) continue;
    ClientFile file{path, entry.path(), entry.file_size(typeError), ModifiedTicks(entry.path())};
    if (typeError) {
      scan.problems.push_back(path + ": cannot read its size");
      continue;
    }
    if (std::string why = CheckReleasePath(path); !why.empty()) {
      scan.problems.push_back(path + ": the patcher would refuse this path: " + why);
      continue;
    }
    if (file.size > kLzMaxInputSize) {
      scan.problems.push_back(path + ": 4 GiB or larger, more than a .lz file can hold");
      continue;
    }
    auto [known, fresh] = byLowerPath.try_emplace(toLowerWide(toWide(path)), path);
    if (!fresh) {
      scan.problems.push_back(path + ": differs from " + known->second +
                              " only in case; on Windows both are one file");
      continue;
    }
    scan.files.push_back(std::move(file));
  }
  std::sort(scan.files.begin(), scan.files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.path < b.path; });
  return scan;
}

}  // namespace sv
