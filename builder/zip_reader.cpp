#include "builder/zip_reader.h"

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

bool ReadZipBytes(std::string_view zip, SkinPackageBuilder& entries, int& addedOut,
                  std::wstring* errorOut) {
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

  size_t record = dirOffset;
  for (unsigned i = 0; i < count; ++i) {
    if (size - record < kDirHeaderSize || Le32(zip, record) != kDirSignature)
      return Fail(errorOut, L"Zip dizini bozuk.");
    const uint16_t flags = Le16(zip, record + 8);
    const uint16_t method = Le16(zip, record + 10);
    const uint32_t crc = Le32(zip, record + 16);
    const uint32_t packedSize = Le32(zip, record + 20);
    const uint32_t plainSize = Le32(zip, record + 24);
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
    const std::wstring name = EntryNameText(rawName, (flags & kFlagUtf8) != 0);
    const std::string entryName = SkinPackageBuilder::entryNameFor(name);
    if (entryName.empty()) continue;

    if (flags & kFlagEncrypted) return Fail(errorOut, L"Sifreli zip desteklenmiyor.");
    if (plainSize > kSkinFileMaxSize) return Fail(errorOut, L"Zip icinde cok buyuk dosya: " + name);

    if (localOffset > size || size - localOffset < kLocalHeaderSize ||
        Le32(zip, localOffset) != kLocalSignature)
      return Fail(errorOut, L"Zip yerel basligi bozuk.");
    const uint64_t dataStart = uint64_t(localOffset) + kLocalHeaderSize +
                               Le16(zip, localOffset + 26) + Le16(zip, localOffset + 28);
    if (dataStart > size || size - dataStart < packedSize) return Fail(errorOut, L"Zip verisi bozuk.");
    const std::string_view packed = zip.substr(size_t(dataStart), packedSize);

    std::string data;
    if (method == 0) {
      if (packedSize != plainSize) return Fail(errorOut, L"Zip verisi bozuk.");
      data.assign(packed);
    } else if (method == 8) {
      std::wstring error;
      // A directory that claims 0 bytes sets no exact size; the entry cap still bounds the output.
      if (!Inflate(packed.data(), packed.size(), data, plainSize, &error, kSkinFileMaxSize))
        return Fail(errorOut, name + L": " + error);
    } else {
      return Fail(errorOut, L"Desteklenmeyen zip sikistirma yontemi: " + name);
    }
    if (Crc32(data.data(), data.size()) != crc) return Fail(errorOut, L"Zip CRC hatasi: " + name);
    if (entries.totalDataSize() + data.size() > kSkinPackageMaxData)
      return Fail(errorOut, L"Skin paketi 64 MB sinirini asiyor.");
    entries.put(entryName, std::move(data));
    ++addedOut;
  }
  return true;
}

bool ReadZipEntries(const std::wstring& path, SkinPackageBuilder& entries, int& addedOut,
                    std::wstring* errorOut) {
  addedOut = 0;
  std::string bytes;
  if (!readWholeFile(path, kZipFileMaxSize, bytes)) return Fail(errorOut, L"Zip okunamadi: " + path);
  return ReadZipBytes(bytes, entries, addedOut, errorOut);
}

}  // namespace sv
