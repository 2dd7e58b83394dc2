#include "release/file_list.h"

#include <algorithm>
#include <utility>

#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "release/url.h"

namespace sv {

namespace {

constexpr size_t kHtmlProbeBytes = 512;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Views, not copies: lists run to tens of thousands of lines.
std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool LooksLikeHtml(std::string_view bytes) {
  std::string head = toLowerAscii(bytes.substr(0, std::min(bytes.size(), kHtmlProbeBytes)));
  return head.find("<html") != std::string::npos || head.find("<!doctype") != std::string::npos;
}

struct LineFields {
  std::string_view crc;
  std::string_view size;
  std::string_view object[2];  // SHA-256 and size of the ".lz", or placeholders
  std::string_view path;
};

// Three fields: CRC, size, path. Five or more: CRC, size, two ignored fields, then the rest of
// the line as the path (so it may hold spaces). Any other count is an invalid line.
bool SplitLine(std::string_view line, LineFields& out) {
  std::string_view fields[4];
  size_t count = 0;
  size_t pos = 0;
  size_t afterFourth = 0;
  while (pos < line.size()) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) break;
    size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    if (count < 4) fields[count] = line.substr(start, pos - start);
    ++count;
    if (count == 4) afterFourth = pos;
  }
  out.crc = fields[0];
  out.size = fields[1];
  if (count == 3) {
    out.path = fields[2];
    return true;
  }
  if (count >= 5) {
    out.object[0] = fields[2];
    out.object[1] = fields[3];
    out.path = TrimView(line.substr(afterFourth));
    return true;
  }
  return false;
}

void AddLog(std::vector<std::wstring>* logOut, std::wstring line) {
  if (logOut) logOut->push_back(std::move(line));
}

// A file seen again replaces the earlier entry but keeps its first position. The index holds
// hashes only; the folded paths are compared when a hash matches.
void AddOrReplace(PositionIndex& positionByLowerPath, std::vector<FileEntry>& entries,
                  FileEntry&& entry) {
  const std::wstring key = toLowerWide(entry.path);
  const uint32_t hash = HashKey(key);
  const size_t position = positionByLowerPath.Find(hash, [&](size_t candidate) {
    const std::wstring& path = entries[candidate].path;
    return path.size() == key.size() && toLowerWide(path) == key;
  });
  if (position == PositionIndex::kNone) {
    positionByLowerPath.Add(hash);
    entries.push_back(std::move(entry));
  } else {
    entries[position] = std::move(entry);
  }
}

}  // namespace

FileEntry& FileEntry::operator=(const FileEntry& other) {
  path = other.path;
  source = other.source;
  size = other.size;
  crc = other.crc;
  object = other.object ? std::make_unique<const ReleaseObject>(*other.object) : nullptr;
  return *this;
}

const std::wstring& SourceUrl::str() const {
  static const std::wstring kNoSource;
  return url_ ? *url_ : kNoSource;
}

std::string FileUrlPath(std::wstring_view path) {
  std::wstring slashed(path);
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  return percentEncodePath(toUtf8(slashed));
}

std::wstring TooManyFilesText() {
  return L"crclist çok fazla dosya içeriyor (en çok " + std::to_wstring(kFileListMaxEntries) +
         L" dosya).";
}

namespace {

// A list's lines one after another, trimmed.
class TrimmedLines {
 public:
  explicit TrimmedLines(std::string_view bytes) : bytes_(bytes) {}
  bool Next(std::string_view& line) {
    if (start_ >= bytes_.size()) return false;
    size_t end = bytes_.find('\n', start_);
    if (end == std::string_view::npos) end = bytes_.size();
    line = TrimView(bytes_.substr(start_, end - start_));
    start_ = end + 1;
    return true;
  }

 private:
  std::string_view bytes_;
  size_t start_ = 0;
};

}  // namespace

bool ParseFileList(std::string_view bytes, std::vector<FileEntry>& entriesOut,
                   std::wstring& errorOut, std::vector<std::wstring>* logOut) {
  entriesOut.clear();
  if (LooksLikeHtml(bytes)) {
    errorOut = L"crclist yerine HTML sayfası geldi (dosya yolu yanlış olabilir).";
    return false;
  }
  // At most one entry a line: reserved up front, the vector never holds twice what it needs.
  const size_t lines = size_t(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
  entriesOut.reserve(std::min(lines, kFileListMaxEntries + 1));
  PositionIndex positionByLowerPath;
  positionByLowerPath.Reserve(std::min(lines, kFileListMaxEntries + 1));
  size_t dataLines = 0;
  size_t invalidLines = 0;
  TrimmedLines reader(bytes);
  for (std::string_view line; reader.Next(line);) {
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    ++dataLines;

    LineFields fields;
    FileEntry entry;
    int64_t size = 0;
    if (!SplitLine(line, fields) || !ParseHex32(fields.crc, entry.crc) ||
        !parseInt64(fields.size, size) || size < 0) {
      ++invalidLines;
      continue;
    }
    if (!makeSafeRelativePath(fields.path, entry.path)) {
      ++invalidLines;
      AddLog(logOut, L"Gecersiz yol atlandi: " + toWide(fields.path));
      continue;
    }
    entry.size = static_cast<uint64_t>(size);
    int64_t objectSize = 0;
    Sha256Digest objectDigest{};
    if (ParseDigestHex(fields.object[0], objectDigest) &&
        parseInt64(fields.object[1], objectSize) && objectSize > 0) {
      entry.object = std::make_unique<const ReleaseObject>(
          ReleaseObject{objectDigest, uint64_t(objectSize)});
    }

    AddOrReplace(positionByLowerPath, entriesOut, std::move(entry));
    if (entriesOut.size() > kFileListMaxEntries) {
      entriesOut.clear();
      errorOut = TooManyFilesText();
      return false;
    }
  }
  if (dataLines > 0 && entriesOut.empty()) {
    errorOut = L"crclist okunamadı (" + std::to_wstring(invalidLines) + L" geçersiz satır).";
    return false;
  }
  if (invalidLines != 0) {
    AddLog(logOut, L"crclist: " + std::to_wstring(invalidLines) + L" gecersiz satir atlandi");
  }
  AddLog(logOut, L"crclist: " + std::to_wstring(entriesOut.size()) + L" dosya");
  return true;
}

std::vector<std::wstring> ParseRemovedPaths(std::string_view bytes) {
  std::vector<std::wstring> paths;
  const std::string_view prefix = kRemovedLinePrefix;
  TrimmedLines reader(bytes);
  for (std::string_view line; reader.Next(line);) {
    if (line.substr(0, prefix.size()) != prefix) continue;
    std::wstring path;
    if (makeSafeRelativePath(line.substr(prefix.size()), path)) paths.push_back(std::move(path));
  }
  return paths;
}

void MergeFileLists(MergedFileList& target, std::wstring_view source,
                    std::vector<FileEntry>&& list, std::vector<std::wstring>* logOut) {
  ++target.sourceCount;
  AddLog(logOut, L"Kaynak " + std::to_wstring(target.sourceCount) + L": " +
                     std::to_wstring(list.size()) + L" dosya");
  const SourceUrl shared(source);
  if (target.entries.empty()) {
    // The first list is taken whole: one vector of entries instead of two while merging, and no
    // index of paths unless another source follows.
    target.entries = std::move(list);
    for (FileEntry& entry : target.entries) entry.source = shared;
    list.clear();
    return;
  }
  PositionIndex& index = target.positionByLowerPath;
  if (index.Size() != target.entries.size()) {
    index.Clear();
    index.Reserve(target.entries.size() + list.size());
    for (const FileEntry& entry : target.entries) index.Add(HashKey(toLowerWide(entry.path)));
  }
  for (FileEntry& entry : list) {
    entry.source = shared;
    AddOrReplace(index, target.entries, std::move(entry));
  }
  list.clear();
}

}  // namespace sv
