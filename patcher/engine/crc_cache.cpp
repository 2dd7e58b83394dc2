#include "patcher/engine/crc_cache.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "common/crc32.h"

namespace sv {

namespace {

constexpr std::string_view kMagic = "SVC1";
constexpr std::string_view kRunPrefix = "#run ";
constexpr size_t kKeyBlockBytes = 65536;
// The numbers of an entry line: "%llu %llu %08x " into this many characters.
constexpr size_t kNumberBufferChars = 96;

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

// UTF-8 bytes sort as code points do. Wide strings of 16-bit units differ from that only in
// putting U+10000 and above (surrogate pairs, D800-DBFF first) before U+E000-U+FFFF: at the
// first differing lead byte, 0xEE-0xEF (U+E000-U+FFFF) then comes after 0xF0-0xF4.
bool KeyLess(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size();
  const unsigned char x = static_cast<unsigned char>(a[i]);
  const unsigned char y = static_cast<unsigned char>(b[i]);
  if constexpr (sizeof(wchar_t) == 2) {
    if (x >= 0xEE && y >= 0xEE && (x >= 0xF0) != (y >= 0xF0)) return x >= 0xF0;
  }
  return x < y;
}

}  // namespace

const CrcCacheEntry* CrcCacheMap::find(std::wstring_view key) const {
  const std::string utf8 = toUtf8(key);
  const size_t position = FindUtf8(utf8, HashKey(utf8));
  return position == PositionIndex::kNone ? nullptr : &records_[position].entry;
}

CrcCacheEntry& CrcCacheMap::operator[](std::wstring_view key) {
  const std::string utf8 = toUtf8(key);
  const uint32_t hash = HashKey(utf8);
  const size_t position = FindUtf8(utf8, hash);
  if (position != PositionIndex::kNone) return records_[position].entry;
  records_.push_back(Record{StoreKey(utf8), uint32_t(utf8.size()), CrcCacheEntry{}});
  index_.Add(hash);
  return records_.back().entry;
}

void CrcCacheMap::clear() {
  blocks_.clear();
  blockUsed_ = blockSize_ = 0;
  records_.clear();
  index_.Clear();
}

size_t CrcCacheMap::FindUtf8(std::string_view key, uint32_t hash) const {
  return index_.Find(hash, [&](size_t candidate) { return KeyOf(records_[candidate]) == key; });
}

const char* CrcCacheMap::StoreKey(std::string_view key) {
  if (blocks_.empty() || blockSize_ - blockUsed_ < key.size()) {
    // A key longer than a block (only a damaged file has one) gets a block of its own.
    blockSize_ = std::max(kKeyBlockBytes, key.size());
    blocks_.push_back(std::make_unique<char[]>(blockSize_));
    blockUsed_ = 0;
  }
  char* at = blocks_.back().get() + blockUsed_;
  if (!key.empty()) memcpy(at, key.data(), key.size());
  blockUsed_ += key.size();
  return at;
}

std::vector<uint32_t> CrcCacheMap::KeyOrder() const {
  std::vector<uint32_t> order(records_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return KeyLess(KeyOf(records_[a]), KeyOf(records_[b]));
  });
  return order;
}

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

bool WriteCrcCache(const CrcCacheMap& map, const std::wstring& runPath, const PieceWriter& write) {
  // Written in batches of this size: the text of a large client runs to megabytes, more than the
  // map itself holds.
  constexpr size_t kBatchBytes = 65536;
  std::string batch = "SVC1\r\n";
  if (!runPath.empty()) batch += "#run " + toUtf8(runPath) + "\r\n";
  batch.reserve(kBatchBytes + 512);
  bool ok = true;
  char numbers[kNumberBufferChars];
  map.ForEachInKeyOrder([&](std::string_view key, const CrcCacheEntry& entry) {
    if (!ok) return;
    snprintf(numbers, sizeof numbers, "%" PRIu64 " %" PRIu64 " %08x ", entry.size,
             entry.lastWrite, unsigned(entry.crc));
    batch += numbers;
    batch += key;
    batch += "\r\n";
    if (batch.size() >= kBatchBytes) {
      ok = write(batch.data(), batch.size());
      batch.clear();
    }
  });
  return ok && write(batch.data(), batch.size());
}

std::string FormatCrcCache(const CrcCacheMap& map, const std::wstring& runPath) {
  std::string text;
  WriteCrcCache(map, runPath, [&text](const void* data, size_t size) {
    text.append(static_cast<const char*>(data), size);
    return true;
  });
  return text;
}

bool CacheTrusted(const CrcCacheEntry* cached, uint64_t size, uint64_t lastWrite) {
  return cached && cached->size == size && cached->lastWrite == lastWrite;
}

}  // namespace sv
