#include "builder/version_block.h"

#include <string_view>
#include <vector>

#include "builder/le_bytes.h"
#include "common/path.h"

namespace sv {

std::array<uint16_t, 4> ParseVersionText(std::wstring_view text) {
  std::array<uint16_t, 4> numbers = {1, 0, 0, 0};
  size_t found = 0;
  uint32_t current = 0;
  bool inNumber = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    const bool atEnd = i == text.size();
    const wchar_t c = atEnd ? L'\0' : text[i];
    if (!atEnd && c >= L'0' && c <= L'9') {
      current = current * 10 + uint32_t(c - L'0');
      if (current > 65535) current = 65535;
      inNumber = true;
      continue;
    }
    if (inNumber) {
      if (found == 4) break;  // a fifth number ends the scan
      numbers[found++] = uint16_t(current);
      current = 0;
      inNumber = false;
    }
    if (atEnd || c != L'.') break;
  }
  return numbers;
}

std::wstring NormalizeVersionText(std::wstring_view text) {
  const std::array<uint16_t, 4> n = ParseVersionText(text);
  return std::to_wstring(n[0]) + L"." + std::to_wstring(n[1]) + L"." + std::to_wstring(n[2]) + L"." +
         std::to_wstring(n[3]);
}

VersionFields WithFallbacks(const VersionFields& fields) {
  VersionFields f = fields;
  if (f.productName.empty()) f.productName = L"Draskel";
  if (f.company.empty()) f.company = f.productName;
  if (f.fileDescription.empty()) f.fileDescription = f.productName;
  if (f.version.empty()) f.version = L"1.0.0.0";
  if (f.copyright.empty()) f.copyright = L"(C) " + f.productName;
  if (f.originalFileName.empty()) f.originalFileName = f.productName + L".exe";
  return f;
}

namespace {

void Pad4(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

// UTF-16LE with a terminating zero (the host's wchar_t holds code points); returns the units.
size_t PutUtf16z(std::string& out, std::wstring_view text) {
  size_t units = 0;
  for (wchar_t wc : text) {
    const uint32_t cp = uint32_t(wc);
    if (cp > 0xFFFF) {
      PutLe16(out, 0xD800 + ((cp - 0x10000) >> 10));
      PutLe16(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
      units += 2;
    } else {
      PutLe16(out, cp);
      ++units;
    }
  }
  PutLe16(out, 0);
  return units + 1;
}

// One node: wLength, wValueLength, wType, key, padding, value, then the children each on a
// 4-byte boundary; wLength covers no padding after the last child.
std::string Node(std::wstring_view key, const std::string& value, uint32_t valueLength, uint16_t type,
                 const std::vector<std::string>& children = {}) {
  std::string out;
  PutLe16(out, 0);
  PutLe16(out, valueLength);
  PutLe16(out, type);
  PutUtf16z(out, key);
  Pad4(out);
  out += value;
  for (const std::string& child : children) {
    Pad4(out);
    out += child;
  }
  out[0] = char(out.size() & 0xFF);
  out[1] = char((out.size() >> 8) & 0xFF);
  return out;
}

std::string StringNode(std::wstring_view key, std::wstring_view text) {
  std::string value;
  const size_t units = PutUtf16z(value, text);
  return Node(key, value, uint32_t(units), 1);
}

}  // namespace

bool BuildVersionBlock(const VersionFields& input, std::string& blockOut, std::wstring* errorOut) {
  const VersionFields f = WithFallbacks(input);
  const std::array<uint16_t, 4> n = ParseVersionText(f.version);
  const std::wstring normalized = NormalizeVersionText(f.version);
  const uint32_t ms = uint32_t(n[0]) << 16 | n[1];
  const uint32_t ls = uint32_t(n[2]) << 16 | n[3];

  std::string fixed;
  for (uint32_t v : {0xFEEF04BDu, 0x00010000u, ms, ls, ms, ls, 0x3Fu, 0u, 0x00040004u, 1u, 0u, 0u, 0u})
    PutLe32(fixed, v);

  const std::wstring baseName = fileName(f.originalFileName);
  const size_t dot = baseName.rfind(L'.');
  const std::wstring internalName = dot == std::wstring::npos ? baseName : baseName.substr(0, dot);

  const std::string table = Node(L"040904b0", {}, 0, 1,
                                 {StringNode(L"CompanyName", f.company),
                                  StringNode(L"FileDescription", f.fileDescription),
                                  StringNode(L"FileVersion", normalized),
                                  StringNode(L"InternalName", internalName),
                                  StringNode(L"LegalCopyright", f.copyright),
                                  StringNode(L"OriginalFilename", f.originalFileName),
                                  StringNode(L"ProductName", f.productName),
                                  StringNode(L"ProductVersion", normalized)});
  const std::string translation = Node(L"Translation", std::string("\x09\x04\xB0\x04", 4), 4, 0);
  // The root holds every other node, so when its size fits 16 bits so does each child's.
  blockOut = Node(L"VS_VERSION_INFO", fixed, 52, 0,
                  {Node(L"StringFileInfo", {}, 0, 1, {table}), Node(L"VarFileInfo", {}, 0, 1, {translation})});
  if (blockOut.size() <= 0xFFFF) return true;
  blockOut.clear();
  if (errorOut) {
    *errorOut = L"Sürüm bilgisi 64 KB sınırını aşıyor: ürün adı, şirket, telif hakkı ya da pencere başlığını "
                L"kısaltın.";
  }
  return false;
}

}  // namespace sv
