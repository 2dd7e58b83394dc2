#pragma once
// The CRC cache file ("Sarvik.cache"): for every checked game file its size, last-write time and
// CRC-32, so that an unchanged client is checked without reading file contents.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace sv {

constexpr wchar_t kCrcCacheFileName[] = L"Sarvik.cache";
constexpr uint64_t kCrcCacheLimit = 67108864;

struct CrcCacheEntry {
  uint64_t size = 0;
  uint64_t lastWrite = 0;  // FILETIME as one 64-bit number
  uint32_t crc = 0;
};

// Key: the relative path lower-cased with toLowerWide, '\' separators.
using CrcCacheMap = std::map<std::wstring, CrcCacheEntry>;

// Fills mapOut (emptied first) from the file's bytes; false, with an empty map, when the first
// line is not the magic. A "#run " line sets runPathOut. Lines that do not fit are skipped.
bool ParseCrcCache(std::string_view bytes, CrcCacheMap& mapOut, std::wstring& runPathOut);
// The whole file: magic, the "#run " line when runPath is non-empty, one line per entry, CR LF.
std::string FormatCrcCache(const CrcCacheMap& map, const std::wstring& runPath);

}  // namespace sv
