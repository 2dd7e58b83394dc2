#pragma once
// The "crclist" file list of a download source: one line per game file with its CRC-32, size and
// relative path; and the merge of several sources' lists into the one list the update works on.
//
// Log lines are handed back to the caller (which owns the log) rather than written here, so the
// parser stays free of global state.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "release/position_index.h"
#include "release/release_manifest.h"
#include "release/sha256.h"

namespace sv {

// The base URL of a source: one string shared by all the files it supplies, not a copy in each
// of a few hundred thousand entries.
class SourceUrl {
 public:
  SourceUrl() = default;
  SourceUrl(std::wstring_view url) : url_(std::make_shared<const std::wstring>(url)) {}
  SourceUrl(const wchar_t* url) : SourceUrl(std::wstring_view(url)) {}
  SourceUrl(const std::wstring& url) : SourceUrl(std::wstring_view(url)) {}
  const std::wstring& str() const;
  bool empty() const { return str().empty(); }
  friend bool operator==(const SourceUrl& a, std::wstring_view b) { return a.str() == b; }

 private:
  std::shared_ptr<const std::wstring> url_;
};

// A list holds one entry per file of the client, a few hundred thousand for the largest: what
// most lists leave empty is kept apart, and the fields are ordered so that nothing pads them.
struct FileEntry {
  FileEntry() = default;
  FileEntry(const FileEntry& other) { *this = other; }
  FileEntry(FileEntry&&) noexcept = default;
  FileEntry& operator=(const FileEntry& other);
  FileEntry& operator=(FileEntry&&) noexcept = default;

  std::wstring path;  // normalised: components joined by '\', nothing unsafe
  SourceUrl source;   // base URL of the supplying source, empty until merged
  uint64_t size = 0;  // below 2^47
  uint32_t crc = 0;
  // The ".lz" object as a signed release names it (the two fields older patchers skip); null
  // in an unsigned list, where it would cost 48 bytes a file.
  std::unique_ptr<const ReleaseObject> object;
};

// The path as the list's URLs name it: '/' separators, UTF-8, percent-encoded. Derived when a
// download is set up rather than kept in every entry.
std::string FileUrlPath(std::wstring_view path);

// The largest file list the update run accepts from a source.
constexpr size_t kFileListMaxBytes = 33554432;
// The most files one list, and the merged list, may hold: the largest clients have a few hundred
// thousand; a list of millions of short lines would exhaust a 32-bit process's memory.
constexpr size_t kFileListMaxEntries = 1000000;
// The failure text of a list that holds more.
std::wstring TooManyFilesText();

// Parses one list. On success entriesOut holds the files in list order, a later line for the same
// path (compared case-insensitively) replacing the earlier one in its place. Invalid lines are
// skipped; the list fails only when it is an HTML page or when no data line was usable.
// logOut, when given, receives the lines to write to the log.
bool ParseFileList(std::string_view bytes, std::vector<FileEntry>& entriesOut,
                   std::wstring& errorOut, std::vector<std::wstring>* logOut = nullptr);

// A release names the files players should no longer have on lines of this form after the data
// lines ("#removed pack/old.epk"). Older patchers read them as comments and keep such files.
constexpr char kRemovedLinePrefix[] = "#removed ";

// The paths of a list's removal lines, normalised as entry paths are; unsafe paths are left out.
std::vector<std::wstring> ParseRemovedPaths(std::string_view bytes);

// The target list being assembled from the sources in configuration order.
struct MergedFileList {
  std::vector<FileEntry> entries;
  PositionIndex positionByLowerPath;  // of entries, built once a second source comes
  unsigned sourceCount = 0;
};

// Adds the parsed list of the next source: each entry gets `source` as its base URL; a file
// already present is replaced in its first position (the later source wins). `list` holds one
// entry per path, as ParseFileList hands it over.
void MergeFileLists(MergedFileList& target, std::wstring_view source,
                    std::vector<FileEntry>&& list, std::vector<std::wstring>* logOut = nullptr);

}  // namespace sv
