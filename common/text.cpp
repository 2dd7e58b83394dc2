#include "common/text.h"

#include "common/system_message.h"

namespace sv {

namespace {

template <typename S, typename C>
S trimImpl(std::basic_string_view<C> t) {
  auto isSpace = [](C c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = t.size();
  while (b < e && isSpace(t[b])) ++b;
  while (e > b && isSpace(t[e - 1])) --e;
  return S(t.substr(b, e - b));
}

template <typename C>
C lowerAscii(C c) {
  return (c >= 'A' && c <= 'Z') ? C(c - 'A' + 'a') : c;
}

template <typename C>
bool equalsNoCaseImpl(std::basic_string_view<C> a, std::basic_string_view<C> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

// Code units of a UTF-16 byte stream; an odd trailing byte is ignored.
std::u16string utf16Units(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(bytes[2 * i]);
    const auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = bigEndian ? char16_t((b0 << 8) | b1) : char16_t((b1 << 8) | b0);
  }
  return units;
}

}  // namespace

std::string trim(std::string_view text) { return trimImpl<std::string>(text); }
std::wstring trim(std::wstring_view text) { return trimImpl<std::wstring>(text); }

std::string toLowerAscii(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) { return equalsNoCaseImpl(a, b); }
bool equalsNoCase(std::wstring_view a, std::wstring_view b) { return equalsNoCaseImpl(a, b); }

std::wstring fromUtf16(std::u16string_view units) {
  std::wstring out;
  out.reserve(units.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (char16_t u : units) out.push_back(wchar_t(u));
  } else {
    for (size_t i = 0; i < units.size(); ++i) {
      const char32_t u = units[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        out.push_back(wchar_t(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
        ++i;
      } else if (u >= 0xD800 && u <= 0xDFFF) {
        out.push_back(wchar_t(0xFFFD));
      } else {
        out.push_back(wchar_t(u));
      }
    }
  }
  return out;
}

std::string decodeTextToUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (startsWith(bytes, "\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  if (startsWith(bytes, "\xFF\xFE")) return toUtf8(fromUtf16(utf16Units(bytes.substr(2), false)));
  if (startsWith(bytes, "\xFE\xFF")) return toUtf8(fromUtf16(utf16Units(bytes.substr(2), true)));
  if (isValidUtf8(bytes)) return std::string(bytes);
  return toUtf8(toWide(bytes, kCodePageTurkish));
}

std::wstring systemErrorText(uint32_t code) {
  const std::wstring text = trim(rawSystemMessage(code));
  const std::wstring number = std::to_wstring(code);
  if (text.empty()) return L"Hata kodu " + number;
  return text + L" (" + number + L")";
}

}  // namespace sv
