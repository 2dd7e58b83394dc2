#include "release/chunk_list.h"

#include <charconv>

#include "common/crc32.h"
#include "common/text.h"

namespace sv {

namespace {

constexpr char kMagic[] = "sarvik-chunks 1";
constexpr char kStoreTag[] = "store ";
constexpr char kReferenceTag[] = "# chunks ";

bool ParseUnsigned(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// The next space-separated field of `rest`, taken off it.
std::string_view Field(std::string_view& rest) {
  const size_t space = rest.find(' ');
  const std::string_view field = rest.substr(0, space);
  rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  return field;
}

bool StoreIsSafe(std::string_view store) {
  if (store.empty() || store.back() != '/' || store.front() == '/') return false;
  if (store.find(':') != std::string_view::npos || store.find('\\') != std::string_view::npos) {
    return false;
  }
  if (store.rfind("../", 0) == 0) store.remove_prefix(3);
  // Past the first "../" every component must go down.
  for (size_t start = 0; start < store.size();) {
    const size_t slash = store.find('/', start);
    const std::string_view part = store.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

}  // namespace

std::string FormatChunkList(const ChunkList& list) {
  std::string text = std::string(kMagic) + "\n" + kStoreTag + list.store + "\n";
  for (const ChunkedFile& f : list.files) {
    text += FormatCrc32(f.crc) + ' ' + std::to_string(f.size) + ' ' + std::to_string(f.lzSize) +
            ' ' + DigestHex(f.index.digest) + ' ' + std::to_string(f.index.size) + ' ' + f.path +
            "\n";
  }
  return text;
}

bool ParseChunkList(std::string_view text, ChunkList& listOut, std::string& errorOut) {
  listOut = ChunkList();
  size_t lineNumber = 0;
  auto fail = [&](const char* why) {
    errorOut = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return fail("not ended by a line feed");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    ++lineNumber;
    if (lineNumber == 1) {
      if (line != kMagic) return fail("not a chunk list");
      continue;
    }
    if (lineNumber == 2) {
      if (line.rfind(kStoreTag, 0) != 0 || !StoreIsSafe(line.substr(sizeof kStoreTag - 1))) {
        return fail("no usable store line");
      }
      listOut.store = std::string(line.substr(sizeof kStoreTag - 1));
      continue;
    }
    ChunkedFile f;
    if (!ParseHex32(Field(line), f.crc) || !ParseUnsigned(Field(line), f.size) ||
        !ParseUnsigned(Field(line), f.lzSize) || !ParseDigestHex(Field(line), f.index.digest) ||
        !ParseUnsigned(Field(line), f.index.size) || line.empty()) {
      return fail("not a chunked file line");
    }
    f.path = std::string(line);
    listOut.files.push_back(std::move(f));
  }
  if (lineNumber < 2) return fail("cut short");
  return true;
}

std::string ChunkListReference(const ReleaseObject& list) {
  return kReferenceTag + DigestHex(list.digest) + ' ' + std::to_string(list.size) + "\n";
}

bool FindChunkListReference(std::string_view fileList, ReleaseObject& listOut) {
  while (!fileList.empty() && fileList.front() == '#') {
    const size_t end = fileList.find('\n');
    std::string_view line = fileList.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.rfind(kReferenceTag, 0) == 0) {
      line.remove_prefix(sizeof kReferenceTag - 1);
      return ParseDigestHex(Field(line), listOut.digest) && ParseUnsigned(line, listOut.size);
    }
    if (end == std::string_view::npos) break;
    fileList.remove_prefix(end + 1);
  }
  return false;
}

std::wstring ChunkStoreUrl(std::wstring_view listBase, std::string_view store) {
  std::wstring base(listBase);
  if (base.empty() || base.back() != L'/') base += L'/';
  if (store.rfind("../", 0) == 0) {
    store.remove_prefix(3);
    const size_t scheme = base.find(L"://");
    const size_t hostEnd = base.find(L'/', scheme == std::wstring::npos ? 0 : scheme + 3);
    const size_t last = base.size() >= 2 ? base.rfind(L'/', base.size() - 2) : std::wstring::npos;
    if (last != std::wstring::npos && hostEnd != std::wstring::npos && last >= hostEnd) {
      base.resize(last + 1);
    }
  }
  return base + toWide(std::string(store));
}

}  // namespace sv
