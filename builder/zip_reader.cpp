#include "builder/zip_reader.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "builder/inflate.h"
#include "common/crc32.h"
#include "common/file.h"
#include "common/text.h"

namespace sv {

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kDirSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 65535;
constexpr size_t kDirHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kFlagEncrypted = 1u << 0;
constexpr uint16_t kFlagUtf8 = 1u << 11;

uint16_t Le16(std::string_view b, size_t at) {
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}
uint32_t Le32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

bool Fail(std::wstring* errorOut, std::wstring message) {
  if (errorOut) *errorOut = std::move(message);
  return false;
}

// Zip names carry no code page of their own: the UTF-8 flag, else the DOS code page of the
// original format.
std::wstring EntryNameText(std::string_view raw, bool utf8) {
  if (utf8) return toWide(raw, kCodePageUtf8);
  std::wstring text = toWide(raw, kCodePageDos);
  if (text.empty()) {
    for (char c : raw) text.push_back(wchar_t(static_cast<unsigned char>(c)));
  }
  return text;
}

bool EndsWithSlash(std::string_view name) {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

}  // namespace

namespace {

// One directory record the package takes, checked but not yet read.
struct ZipItem {
  std::wstring name;
  std::string entryName;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t packedSize = 0;
  uint32_t plainSize = 0;
  size_t localOffset = 0;
  size_t dataStart = 0;
};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

}  // namespace

bool ReadZipBytes(std::string_view zip, SkinPackageBuilder& entries, int& addedOut, std::wstring* errorOut,
                  const std::atomic<bool>* cancel) {
  addedOut = 0;
  const size_t size = zip.size();
  if (size < kEndRecordSize) return Fail(errorOut, L"Gecersiz zip dosyasi.");

  const size_t lowest = size > kEndRecordSize + kMaxCommentSize ? size - kEndRecordSize - kMaxCommentSize : 0;
  size_t end = size - kEndRecordSize;
  while (Le32(zip, end) != kEndSignature) {
    if (end == lowest) return Fail(errorOut, L"Gecersiz zip dosyasi (dizin sonu yok).");
    --end;
  }

  const uint16_t count = Le16(zip, end + 10);
  const uint32_t dirSize = Le32(zip, end + 12);
  const uint32_t dirOffset = Le32(zip, end + 16);
  if (count == 0xFFFF || dirOffset == 0xFFFFFFFFu) return Fail(errorOut, L"Zip64 desteklenmiyor.");
  if (uint64_t(dirOffset) + dirSize > size) return Fail(errorOut, L"Zip dizini bozuk.");
  if (count == 0) return true;

  // First every record is read and checked without decoding anything, so that the work a zip can
  // ask for is known before it is done: at most the package's entry limit of taken records, no two
  // of them sharing bytes (one stream named 65,534 times would be inflated 65,534 times), and
  // declared sizes within the package's data limit. Only then are the entries decoded.
  std::vector<ZipItem> items;
  std::unordered_set<uint32_t> localOffsets;  // a second record of one local entry is refused at once
  uint64_t declared = 0;
  size_t record = dirOffset;
  for (unsigned i = 0; i < count; ++i) {
    if ((i & 1023) == 1023 && Cancelled(cancel)) return Fail(errorOut, kZipCancelledText);
    if (size - record < kDirHeaderSize || Le32(zip, record) != kDirSignature)
      return Fail(errorOut, L"Zip dizini bozuk.");
    const uint16_t flags = Le16(zip, record + 8);
    ZipItem item;
    item.method = Le16(zip, record + 10);
    item.crc = Le32(zip, record + 16);
    item.packedSize = Le32(zip, record + 20);
    item.plainSize = Le32(zip, record + 24);
    const uint16_t nameLength = Le16(zip, record + 28);
    const uint16_t extraLength = Le16(zip, record + 30);
    const uint16_t commentLength = Le16(zip, record + 32);
    const uint32_t localOffset = Le32(zip, record + 42);
    if (size - record - kDirHeaderSize < nameLength) return Fail(errorOut, L"Zip dizini bozuk.");
    const std::string_view rawName = zip.substr(record + kDirHeaderSize, nameLength);
    // The next record may lie past the end only if this was the last one; the header test above
    // catches that on the next round.
    const uint64_t next = uint64_t(record) + kDirHeaderSize + nameLength + extraLength + commentLength;
    record = next < size ? size_t(next) : size;

    if (EndsWithSlash(rawName) || rawName.find("__MACOSX") != std::string_view::npos) continue;
    item.name = EntryNameText(rawName, (flags & kFlagUtf8) != 0);
    item.entryName = SkinPackageBuilder::entryNameFor(item.name);
    if (item.entryName.empty()) continue;

    if (flags & kFlagEncrypted) return Fail(errorOut, L"Sifreli zip desteklenmiyor.");
    if (!localOffsets.insert(localOffset).second)
      return Fail(errorOut, L"Zip kayitlari ayni veriyi paylasiyor: " + item.name);
    if (item.plainSize > kSkinFileMaxSize) return Fail(errorOut, L"Zip icinde cok buyuk dosya: " + item.name);
    if (items.size() == kSkinPackageMaxEntries)
      return Fail(errorOut, L"Zip icinde cok fazla dosya var (skin en cok " +
                                std::to_wstring(kSkinPackageMaxEntries) + L" dosya alir).");

    if (localOffset > size || size - localOffset < kLocalHeaderSize || Le32(zip, localOffset) != kLocalSignature)
      return Fail(errorOut, L"Zip yerel basligi bozuk.");
    const uint64_t dataStart =
        uint64_t(localOffset) + kLocalHeaderSize + Le16(zip, localOffset + 26) + Le16(zip, localOffset + 28);
    if (dataStart > size || size - dataStart < item.packedSize) return Fail(errorOut, L"Zip verisi bozuk.");
    if (item.method == 0 && item.packedSize != item.plainSize) return Fail(errorOut, L"Zip verisi bozuk.");
    if (item.method != 0 && item.method != 8)
      return Fail(errorOut, L"Desteklenmeyen zip sikistirma yontemi: " + item.name);
    item.localOffset = localOffset;
    item.dataStart = size_t(dataStart);
    declared += item.plainSize;
    items.push_back(std::move(item));
  }
  // Each taken entry's bytes, from its local header to the end of its data, are its own.
  std::vector<const ZipItem*> byOffset;
  byOffset.reserve(items.size());
  for (const ZipItem& item : items) byOffset.push_back(&item);
  std::sort(byOffset.begin(), byOffset.end(),
            [](const ZipItem* a, const ZipItem* b) { return a->localOffset < b->localOffset; });
  for (size_t i = 1; i < byOffset.size(); ++i) {
    const ZipItem& before = *byOffset[i - 1];
    if (byOffset[i]->localOffset < before.dataStart + before.packedSize)
      return Fail(errorOut, L"Zip kayitlari ayni veriyi paylasiyor: " + byOffset[i]->name);
  }
  if (entries.totalDataSize() + declared > kSkinPackageMaxData)
    return Fail(errorOut, L"Skin paketi 64 MB sinirini asiyor.");

  // Every inflated byte counts, replaced entries included: a stream whose directory claims 0
  // bytes is bounded by what is left of the package's data limit.
  uint64_t inflated = entries.totalDataSize();
  for (const ZipItem& item : items) {
    if (Cancelled(cancel)) return Fail(errorOut, kZipCancelledText);
    const std::string_view packed = zip.substr(item.dataStart, item.packedSize);
    std::string data;
    if (item.method == 0) {
      data.assign(packed);
    } else {
      std::wstring error;
      const uint64_t left = kSkinPackageMaxData - std::min<uint64_t>(inflated, kSkinPackageMaxData);
      const size_t limit = size_t(std::min<uint64_t>(kSkinFileMaxSize, left));
      if (!Inflate(packed.data(), packed.size(), data, item.plainSize, &error, limit))
        return Fail(errorOut, item.name + L": " + error);
    }
    inflated += data.size();
    if (Crc32(data.data(), data.size()) != item.crc) return Fail(errorOut, L"Zip CRC hatasi: " + item.name);
    if (inflated > kSkinPackageMaxData || entries.totalDataSize() + data.size() > kSkinPackageMaxData)
      return Fail(errorOut, L"Skin paketi 64 MB sinirini asiyor.");
    entries.put(item.entryName, std::move(data));
    ++addedOut;
  }
  return true;
}

bool ReadZipEntries(const std::wstring& path, SkinPackageBuilder& entries, int& addedOut, std::wstring* errorOut,
                    const std::atomic<bool>* cancel) {
  addedOut = 0;
  std::string bytes;
  if (!readWholeFile(path, kZipFileMaxSize, bytes)) return Fail(errorOut, L"Zip okunamadi: " + path);
  return ReadZipBytes(bytes, entries, addedOut, errorOut, cancel);
}

}  // namespace sv
