#include "common/path.h"

#include "common/text.h"

namespace sv {

namespace {

constexpr size_t kMaxRelativePathLength = 240;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

size_t lastSeparator(std::wstring_view p) {
  for (size_t i = p.size(); i > 0; --i) {
    if (isSeparator(p[i - 1])) return i - 1;
  }
  return std::wstring_view::npos;
}

// Length as Windows counts it: characters outside the BMP take two UTF-16 units.
size_t utf16Length(std::wstring_view text) {
  size_t n = text.size();
  if constexpr (sizeof(wchar_t) > 2) {
    for (wchar_t c : text) n += uint32_t(c) >> 16 ? 1 : 0;
  }
  return n;
}

bool isForbiddenNameChar(wchar_t c) {
  return c < 32 || std::wstring_view(L":*?\"<>|").find(c) != std::wstring_view::npos;
}

}  // namespace

std::wstring joinPath(std::wstring_view a, std::wstring_view b) {
  if (a.empty()) return std::wstring(b);
  if (b.empty()) return std::wstring(a);
  std::wstring out(a);
  if (!isSeparator(a.back())) out.push_back(L'\\');
  out += b;
  return out;
}

std::wstring extendedLengthPath(std::wstring_view fullPath) {
  const std::wstring_view prefix = L"\\\\?\\";
  if (fullPath.substr(0, 4) == prefix || fullPath.substr(0, 4) == L"\\\\.\\") {
    return std::wstring(fullPath);
  }
  std::wstring out;
  if (fullPath.size() >= 3 && fullPath[1] == L':' && isSeparator(fullPath[2])) {
    out = std::wstring(prefix) + std::wstring(fullPath);
  } else if (fullPath.size() >= 3 && isSeparator(fullPath[0]) && isSeparator(fullPath[1])) {
    out = std::wstring(prefix) + L"UNC\\" + std::wstring(fullPath.substr(2));
  } else {
    return std::wstring(fullPath);
  }
  // The system takes the prefixed form literally: only a backslash separates there.
  for (size_t i = 4; i < out.size(); ++i) {
    if (out[i] == L'/') out[i] = L'\\';
  }
  return out;
}

std::wstring parentPath(std::wstring_view p) {
  const size_t sep = lastSeparator(p);
  return sep == std::wstring_view::npos ? std::wstring() : std::wstring(p.substr(0, sep));
}

std::wstring fileName(std::wstring_view p) {
  const size_t sep = lastSeparator(p);
  return std::wstring(sep == std::wstring_view::npos ? p : p.substr(sep + 1));
}

std::wstring fileStem(std::wstring_view p) {
  std::wstring name = fileName(p);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name;
}

std::wstring moduleDirectory() { return parentPath(modulePath()); }

bool isReservedDeviceName(std::wstring_view component) {
  std::wstring base = toLowerWide(component.substr(0, component.find(L'.')));
  // Windows ignores trailing spaces when it recognises a device name ("nul .txt" is NUL).
  while (!base.empty() && base.back() == L' ') base.pop_back();
  if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul" || base == L"conin$" ||
      base == L"conout$") {
    return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, L"com") != 0 && base.compare(0, 3, L"lpt") != 0)) {
    return false;
  }
  // Superscript digits one to three name devices too.
  const wchar_t last = base[3];
  return (last >= L'0' && last <= L'9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

bool makeSafeRelativePath(std::string_view utf8Name, std::wstring& out) {
  std::wstring name = trim(toWide(utf8Name, kCodePageUtf8));
  if (name.empty() || utf16Length(name) > kMaxRelativePathLength) return false;
  for (wchar_t& c : name) {
    if (c == L'/') c = L'\\';
    if (isForbiddenNameChar(c)) return false;
  }
  if (name.front() == L'\\') return false;

  // Sized once: a list keeps a path per file, and a string grown by doubling holds up to twice
  // what it needs for as long as the list lives.
  std::wstring result;
  result.reserve(name.size());
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring_view component = std::wstring_view(name).substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    if (component == L"." || component == L".." || component.back() == L'.' ||
        component.back() == L' ' || isReservedDeviceName(component)) {
      return false;
    }
    if (!result.empty()) result.push_back(L'\\');
    result += component;
  }
  if (result.empty()) return false;
  out = std::move(result);
  return true;
}

}  // namespace sv
