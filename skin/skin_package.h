#pragma once
// The skin package: every file of a skin (images, skin.xml, URL and language files, sarvik.ini)
// as one flat table from lower-case file names to bytes, carried as a resource of the patcher.
//
// Layout, all integers little-endian, no padding:
//   "SVSK" | u32 version (1) | u32 count N (<= 4096) |
//   N x { u16 name length L | L name bytes | u32 data length D | D data bytes } |
//   u32 CRC-32 of every byte before it
// The reader checks the CRC before anything else and never reads outside the given buffer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sv {

constexpr uint16_t kSkinResourceId = 900;         // RT_RCDATA id of the package in the patcher
constexpr uint32_t kSkinPackageVersion = 1;
constexpr uint32_t kSkinPackageMaxEntries = 4096;
constexpr size_t kSkinPackageMinSize = 16;        // magic, version, count, CRC
constexpr uint64_t kSkinFileMaxSize = 33554432;   // 32 MiB per input file
constexpr uint64_t kSkinPackageMaxData = 67108864;  // 64 MiB of entry data in all

struct SkinPackageEntry {
  std::string name;  // UTF-8, lower-case file name without folder
  std::string data;  // the file's bytes
};

class SkinPackage {
public:
  // Clears the entries and reads a package. On failure returns false and stores the message in
  // errorOut when given; entries read before the failure may remain and must be discarded.
  bool parse(const void* bytes, size_t size, std::wstring* errorOut = nullptr);
  bool parse(std::string_view bytes, std::wstring* errorOut = nullptr) {
    return parse(bytes.data(), bytes.size(), errorOut);
  }
  // Reads RT_RCDATA 900 of `module` (an HMODULE; null is the running program). Windows only.
  bool loadEmbedded(void* module, std::wstring* errorOut = nullptr);

  // Data of the first entry whose name equals `name` with its ASCII letters lower-cased; null when
  // none does.
  const std::string* find(std::string_view name) const;

  std::vector<SkinPackageEntry> entries;
};

// Collects a skin's files for a package (the builder's side).
class SkinPackageBuilder {
public:
  // The entry name a file would get: its lower-cased file name, or "" when the file is not taken
  // (hidden files, Thumbs.db, desktop.ini, and anything but images, xml, ini and txt).
  static std::string entryNameFor(std::wstring_view path);

  // Reads one file (at most 32 MiB) and puts it; the package's data may not pass 64 MiB.
  bool addFile(const std::wstring& path, std::wstring* errorOut = nullptr);
  // Adds every file taken directly inside `folder` (no sub-folders). A file that fails does not
  // stop the scan: its message is stored when it is the first. False only when the folder
  // cannot be listed.
  bool addFolder(const std::wstring& folder, int& addedCount, std::wstring* errorOut = nullptr);
  // Adds an entry or replaces the data of the entry of that name (ASCII lower-cased first), in
  // constant time: the names are indexed.
  void put(std::string_view name, std::string data);

  uint64_t totalDataSize() const;
  std::string serialize() const;

  // The entries collected so far, in the order first added.
  SkinPackage package;

private:
  // Name -> position in package.entries. Rebuilt when the list changed size behind it (code that
  // edits entries in place changes data, never names).
  std::unordered_map<std::string, size_t> index_;
};

}  // namespace sv
