#include "patcher/engine/crc_cache.h"

#include <cinttypes>
#include <cstdio>

#include "common/text.h"
#include "common/crc32.h"

namespace sv {

namespace {

constexpr std::string_view kMagic = "SVC1";
constexpr std::string_view kRunPrefix = "#run ";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next whitespace-separated field at or after `pos`; pos moves behind it.
std::string_view NextField(std::string_view line, size_t& pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  const size_t start = pos;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

bool ParseUnsigned64(std::string_view digits, uint64_t& valueOut) {
  if (digits.empty()) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = uint64_t(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  valueOut = value;
  return true;
}

void ParseEntryLine(std::string_view line, CrcCacheMap& map) {
  size_t pos = 0;
  const std::string_view sizeField = NextField(line, pos);
  const std::string_view writeField = NextField(line, pos);
  const std::string_view crcField = NextField(line, pos);
  const std::string path = trim(line.substr(pos));
  if (crcField.empty() || path.empty()) return;
  int64_t size = 0;
  uint64_t write = 0;
  uint32_t crc = 0;
  if (!parseInt64(sizeField, size) || size < 0) return;
  // A FILETIME of today (about 1.3e17) is far beyond parseInt64's 2^47 limit.
  if (!ParseUnsigned64(writeField, write)) return;
  if (!ParseHex32(crcField, crc)) return;
  const std::wstring key = toLowerWide(toWide(path));
  if (key.empty()) return;
  map[key] = CrcCacheEntry{uint64_t(size), write, crc};
}

}  // namespace

bool ParseCrcCache(std::string_view bytes, CrcCacheMap& mapOut, std::wstring& runPathOut) {
  mapOut.clear();
  size_t lineStart = 0;
  bool first = true;
  while (lineStart < bytes.size()) {
    size_t end = bytes.find('\n', lineStart);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(lineStart, end - lineStart);
    lineStart = end + 1;
    if (first) {
      if (trim(line) != kMagic) return false;
      first = false;
      continue;
    }
    if (line.substr(0, kRunPrefix.size()) == kRunPrefix) {
      runPathOut = toWide(trim(line.substr(kRunPrefix.size())));
      continue;
    }
    ParseEntryLine(line, mapOut);
  }
  return !first;
}

std::string FormatCrcCache(const CrcCacheMap& map, const std::wstring& runPath) {
  std::string text = "SVC1\r\n";
  if (!runPath.empty()) text += "#run " + toUtf8(runPath) + "\r\n";
  char numbers[96];
  for (const auto& [key, entry] : map) {
    snprintf(numbers, sizeof numbers, "%" PRIu64 " %" PRIu64 " %08x ", entry.size,
             entry.lastWrite, unsigned(entry.crc));
    text += numbers;
    text += toUtf8(key);
    text += "\r\n";
  }
  return text;
}

}  // namespace sv
