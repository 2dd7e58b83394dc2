#include "publisher/client_scan.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "common/path.h"
#include "common/text.h"
#include "publisher/glob_match.h"
#include "publisher/lzo_compress.h"
#include "publisher/name_fold.h"
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

bool Inside(const fs::path& canonicalPath, const fs::path& canonicalRoot) {
  auto [r, p] = std::mismatch(canonicalRoot.begin(), canonicalRoot.end(), canonicalPath.begin(),
                              canonicalPath.end());
  return !canonicalRoot.empty() && r == canonicalRoot.end();
}

// Why a top-level entry is the patcher's own, written by it into the game folder; null if not.
const char* PatcherOwnFile(const std::string& path, bool folder) {
  const std::wstring key = FoldName(toWide(path));
  if (folder && key == L"temp") return "the patcher's own folder (its log, cache and downloads)";
  if (!folder && key == L"sarvik.wtest") return "the patcher's write test";
  if (!folder && key == L"draskeltorrent.config.xml") return "the patcher's local notice file";
  return nullptr;
}

// Two files, or a file and a folder, whose paths differ only in case are one name on a player's
// machine. Files are taken out of the scan; each collision is a problem.
void FindCaseCollisions(ClientScan& scan) {
  std::map<std::wstring, std::string> files, folders;
  for (const ClientFile& f : scan.files) {
    for (size_t slash = f.path.find('/'); slash != std::string::npos;
         slash = f.path.find('/', slash + 1)) {
      const std::string folder = f.path.substr(0, slash);
      folders.try_emplace(FoldName(toWide(folder)), folder);
    }
  }
  std::vector<ClientFile> kept;
  for (ClientFile& f : scan.files) {
    const std::wstring key = FoldName(toWide(f.path));
    auto [known, fresh] = files.try_emplace(key, f.path);
    if (!fresh) {
      scan.problems.push_back(f.path + ": differs from " + known->second +
                              " only in case; on Windows both are one file");
      continue;
    }
    if (auto folder = folders.find(key); folder != folders.end()) {
      scan.problems.push_back(f.path + ": differs from the folder " + folder->second +
                              " only in case; on Windows a file and a folder cannot share a name");
      continue;
    }
    kept.push_back(std::move(f));
  }
  scan.files = std::move(kept);
}

}  // namespace

std::string CheckReleasePath(std::string_view path) {
  std::wstring safe;
  if (!isValidUtf8(path)) return "its name is not valid UTF-8";
  // A backslash inside a name (possible on Linux) would be a folder separator to the patcher.
  if (path.find('\\') != std::string_view::npos) return Explain(path);
  std::wstring asWritten = toWide(path);
  std::replace(asWritten.begin(), asWritten.end(), L'/', L'\\');
  if (makeSafeRelativePath(path, safe) && safe == asWritten) return {};
  return Explain(path);
}

ClientScan ScanClient(const fs::path& root, const std::vector<std::string>& excludes,
                      const fs::path& skip) {
  ClientScan scan;
  std::error_code error;
  const fs::path canonicalRoot = fs::canonical(root, error);
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
  if (error) {
    scan.problems.push_back("cannot read the client folder: " + error.message());
    return scan;
  }
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
    const bool link = entry.is_symlink(typeError);
    const bool folder = !link && entry.is_directory(typeError);
    if (IsExcluded(excludes, path) || SameFile(entry.path(), skip)) {
      if (folder) it.disable_recursion_pending();
      continue;
    }
    if (const char* why = PatcherOwnFile(path, folder)) {
      if (folder) it.disable_recursion_pending();
      scan.skipped.push_back(path + (folder ? "/" : "") + ": " + why);
      continue;
    }
    if (folder) continue;
    if (link) {
      // Published as its target, and only when that is a file inside the client: a release
      // must not carry what lies elsewhere on the operator's machine.
      std::error_code linkError;
      const fs::path target = fs::canonical(entry.path(), linkError);
      if (linkError) {
        scan.problems.push_back(path + ": a link to nothing (exclude it or remove it)");
        continue;
      }
      if (!Inside(target, canonicalRoot)) {
        scan.problems.push_back(path + ": a link to a place outside the client folder");
        continue;
      }
      if (!fs::is_regular_file(target, linkError)) {
        scan.problems.push_back(path + ": a link to a folder or to something that is not a file");
        continue;
      }
    } else if (!entry.is_regular_file(typeError)) {
      scan.skipped.push_back(path + ": not a file or a folder (a pipe, socket or device)");
      continue;
    }
    ClientFile file{path, entry.path(), fs::file_size(entry.path(), typeError),
                    ModifiedTicks(entry.path())};
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
    scan.files.push_back(std::move(file));
  }
  std::sort(scan.files.begin(), scan.files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.path < b.path; });
  FindCaseCollisions(scan);
  return scan;
}

}  // namespace sv
