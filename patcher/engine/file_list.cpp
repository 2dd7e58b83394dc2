#include "patcher/engine/file_list.h"

#include <algorithm>
#include <utility>

#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "patcher/engine/url.h"

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
    out.path = TrimView(line.substr(afterFourth));
    return true;
  }
  return false;
}

std::string UrlPathOf(const std::wstring& path) {
  std::wstring slashed = path;
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  return percentEncodePath(toUtf8(slashed));
}

void AddLog(std::vector<std::wstring>* logOut, std::wstring line) {
  if (logOut) logOut->push_back(std::move(line));
}

// A file seen again replaces the earlier entry but keeps its first position.
void AddOrReplace(std::map<std::wstring, size_t>& positionByLowerPath,
                  std::vector<FileEntry>& entries, FileEntry&& entry) {
  auto [it, inserted] = positionByLowerPath.try_emplace(toLowerWide(entry.path), entries.size());
  if (inserted) {
    entries.push_back(std::move(entry));
  } else {
    entries[it->second] = std::move(entry);
  }
}

}  // namespace

std::wstring TooManyFilesText() {
  return L"crclist çok fazla dosya içeriyor (en çok " + std::to_wstring(kFileListMaxEntries) +
         L" dosya).";
}

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
  std::map<std::wstring, size_t> positionByLowerPath;
  size_t dataLines = 0;
  size_t invalidLines = 0;
  size_t lineStart = 0;
  while (lineStart < bytes.size()) {
    size_t lineEnd = bytes.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = bytes.size();
    std::string_view line = TrimView(bytes.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
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
    entry.urlPath = UrlPathOf(entry.path);

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

void MergeFileLists(MergedFileList& target, std::wstring_view source,
                    std::vector<FileEntry>&& list, std::vector<std::wstring>* logOut) {
  ++target.sourceCount;
  AddLog(logOut, L"Kaynak " + std::to_wstring(target.sourceCount) + L": " +
                     std::to_wstring(list.size()) + L" dosya");
  if (target.entries.empty()) {
    // The first list is taken whole: one vector of entries instead of two while merging, and no
    // index of paths unless another source follows.
    target.entries = std::move(list);
    for (FileEntry& entry : target.entries) entry.source.assign(source);
    list.clear();
    return;
  }
  if (target.positionByLowerPath.empty()) {
    for (size_t i = 0; i < target.entries.size(); ++i) {
      target.positionByLowerPath.try_emplace(toLowerWide(target.entries[i].path), i);
    }
  }
  for (FileEntry& entry : list) {
    entry.source.assign(source);
    AddOrReplace(target.positionByLowerPath, target.entries, std::move(entry));
  }
  list.clear();
}

}  // namespace sv
