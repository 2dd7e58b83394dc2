#pragma once
// The CRC cache file ("Sarvik.cache"): for every checked game file its size, last-write time and
// CRC-32, so that an unchanged client is checked without reading file contents.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/file.h"
#include "release/position_index.h"

namespace sv {

constexpr wchar_t kCrcCacheFileName[] = L"Sarvik.cache";
constexpr uint64_t kCrcCacheLimit = 67108864;

struct CrcCacheEntry {
  uint64_t size = 0;
  uint64_t lastWrite = 0;  // FILETIME as one 64-bit number
  uint32_t crc = 0;
};

// Key: the relative path lower-cased with toLowerWide, '\' separators.
//
// It holds an entry for every file of a client of a few hundred thousand: the keys sit as UTF-8
// in blocks that never move and are found through a hash index, rather than in a tree node and
// a wide string of their own each.
class CrcCacheMap {
 public:
  // nullptr when the key is not held. The pointer lasts until the next change of the map.
  const CrcCacheEntry* find(std::wstring_view key) const;
  // The entry under `key`, added as zeros when missing.
  CrcCacheEntry& operator[](std::wstring_view key);
  size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  void clear();

  // visit(key in UTF-8, entry) for every entry, ascending by key as the wide keys compare (code
  // unit by code unit).
  template <class Visit>
  void ForEachInKeyOrder(Visit&& visit) const {
    for (uint32_t i : KeyOrder()) visit(KeyOf(records_[i]), records_[i].entry);
  }

 private:
  struct Record {
    const char* key;  // in one of blocks_
    uint32_t keyLength;
    CrcCacheEntry entry;
  };
  std::string_view KeyOf(const Record& r) const { return std::string_view(r.key, r.keyLength); }
  size_t FindUtf8(std::string_view key, uint32_t hash) const;
  const char* StoreKey(std::string_view key);
  std::vector<uint32_t> KeyOrder() const;

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockUsed_ = 0, blockSize_ = 0;  // of the last block
  std::deque<Record> records_;             // grows without moving what it holds
  PositionIndex index_;                    // of records_
};

// Fills mapOut (emptied first) from the file's bytes; false, with an empty map, when the first
// line is not the magic. A "#run " line sets runPathOut. Lines that do not fit are skipped.
bool ParseCrcCache(std::string_view bytes, CrcCacheMap& mapOut, std::wstring& runPathOut);
// The whole file: magic, the "#run " line when runPath is non-empty, one line per entry, CR LF.
// WriteCrcCache hands it to `write` in pieces; false when a write failed.
bool WriteCrcCache(const CrcCacheMap& map, const std::wstring& runPath, const PieceWriter& write);
std::string FormatCrcCache(const CrcCacheMap& map, const std::wstring& runPath);

// A cached CRC stands for the file while its size and time stamp are the ones recorded with it.
bool CacheTrusted(const CrcCacheEntry* cached, uint64_t size, uint64_t lastWrite);

}  // namespace sv
