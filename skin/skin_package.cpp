#include "skin/skin_package.h"

#include <cstring>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "common/crc32.h"
#include "common/folder_list.h"
#include "skin/skin_names.h"

namespace sv {

namespace {

const char kMagic[4] = {'S', 'V', 'S', 'K'};

uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void AppendU16(std::string& out, uint16_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char(v >> 8));
}

void AppendU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

bool Fail(std::wstring* errorOut, const wchar_t* message) {
  if (errorOut) *errorOut = message;
  return false;
}

}  // namespace

bool SkinPackage::parse(const void* bytes, size_t size, std::wstring* errorOut) {
  entries.clear();
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  if (!data || size < kSkinPackageMinSize || std::memcmp(data, kMagic, 4) != 0)
    return Fail(errorOut, L"Skin paketi bulunamadi ya da bozuk.");
  // The CRC guards everything, so a damaged version or count reads as damage, not as a format.
  if (Crc32(data, size - 4) != ReadU32(data + size - 4))
    return Fail(errorOut, L"Skin paketi bozuk (CRC).");
  if (ReadU32(data + 4) != kSkinPackageVersion)
    return Fail(errorOut, L"Skin paketi surumu desteklenmiyor.");
  const uint32_t count = ReadU32(data + 8);
  if (count > kSkinPackageMaxEntries) return Fail(errorOut, L"Skin paketi bozuk (adet).");

  const uint8_t* p = data + 12;
  const uint8_t* end = data + size - 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (size_t(end - p) < 2) return Fail(errorOut, L"Skin paketi bozuk.");
    const size_t nameLength = ReadU16(p);
    p += 2;
    if (size_t(end - p) < nameLength || size_t(end - p) - nameLength < 4)
      return Fail(errorOut, L"Skin paketi bozuk.");
    SkinPackageEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(p), nameLength);
    p += nameLength;
    const uint32_t dataLength = ReadU32(p);
    p += 4;
    if (dataLength > size_t(end - p)) return Fail(errorOut, L"Skin paketi bozuk.");
    entry.data.assign(reinterpret_cast<const char*>(p), dataLength);
    p += dataLength;
    entries.push_back(std::move(entry));
  }
  return true;
}

const std::string* SkinPackage::find(std::string_view name) const {
  const std::string wanted = toLowerAscii(name);
  for (const SkinPackageEntry& entry : entries) {
    if (entry.name == wanted) return &entry.data;
  }
  return nullptr;
}

std::string SkinPackageBuilder::entryNameFor(std::wstring_view path) {
  static const char* const kEndings[] = {".png", ".jpg", ".jpeg", ".bmp", ".gif",
                                         ".ico", ".xml", ".ini",  ".txt"};
  std::string name = toLowerAscii(toUtf8(fileName(path)));
  if (name.empty() || name[0] == '.' || name == "thumbs.db" || name == "desktop.ini") return {};
  for (const char* ending : kEndings) {
    if (endsWith(name, ending)) return name;
  }
  return {};
}

bool SkinPackageBuilder::addFile(const std::wstring& path, std::wstring* errorOut) {
  const std::string name = entryNameFor(path);
  if (name.empty()) {
    if (errorOut) *errorOut = L"Desteklenmeyen dosya: " + fileName(path);
    return false;
  }
  std::string data;
  if (!readWholeFile(path, kSkinFileMaxSize, data)) {
    if (errorOut) *errorOut = L"Okunamadi: " + path;
    return false;
  }
  // The data of an entry this file would replace still counts here, which keeps the check
  // simple and errs on the safe side.
  if (totalDataSize() + data.size() > kSkinPackageMaxData)
    return Fail(errorOut, L"Skin paketi 64 MB sinirini asiyor.");
  put(name, std::move(data));
  return true;
}

bool SkinPackageBuilder::addFolder(const std::wstring& folder, int& addedCount,
                                   std::wstring* errorOut) {
  std::vector<std::wstring> names;
  if (!listFolderFiles(folder, names)) {
    if (errorOut) *errorOut = L"Klasor okunamadi: " + folder;
    return false;
  }
  bool failed = false;
  for (const std::wstring& name : names) {
    if (entryNameFor(name).empty()) continue;
    std::wstring error;
    if (addFile(joinPath(folder, name), &error)) {
      ++addedCount;
    } else if (!failed) {
      failed = true;
      if (errorOut) *errorOut = error;
    }
  }
  return true;
}

void SkinPackageBuilder::put(std::string_view name, std::string data) {
  std::string lowered = toLowerAscii(name);
  if (index_.size() != package.entries.size()) {
    index_.clear();
    for (size_t i = 0; i < package.entries.size(); ++i) index_.emplace(package.entries[i].name, i);
  }
  if (auto it = index_.find(lowered); it != index_.end()) {
    package.entries[it->second].data = std::move(data);
    return;
  }
  index_.emplace(lowered, package.entries.size());
  package.entries.push_back({std::move(lowered), std::move(data)});
}

uint64_t SkinPackageBuilder::totalDataSize() const {
  uint64_t total = 0;
  for (const SkinPackageEntry& entry : package.entries) total += entry.data.size();
  return total;
}

std::string SkinPackageBuilder::serialize() const {
  std::string out;
  out.reserve(size_t(totalDataSize()) + 16 + 64 * package.entries.size());
  out.append(kMagic, 4);
  AppendU32(out, kSkinPackageVersion);
  AppendU32(out, uint32_t(package.entries.size()));
  for (const SkinPackageEntry& entry : package.entries) {
    AppendU16(out, uint16_t(entry.name.size()));
    out += entry.name;
    AppendU32(out, uint32_t(entry.data.size()));
    out += entry.data;
  }
  AppendU32(out, Crc32(out.data(), out.size()));
  return out;
}

}  // namespace sv
