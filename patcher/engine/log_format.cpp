#include "patcher/engine/log_format.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <type_traits>
#include <vector>

#include "common/text.h"

namespace sv {

namespace {

// Widths and precisions beyond this only pad past the cut; clamping keeps the scratch buffer small.
constexpr int kMaxFieldWidth = 4096;

// wint_t is 16 bits on Windows and reaches a variadic function promoted to int.
using PromotedWint = std::conditional_t<(sizeof(wint_t) < sizeof(int)), int, wint_t>;

enum class Length { None, Hh, H, L, Ll, J, Z, T, BigL };

struct Conversion {
  std::wstring flags;
  int width = -1;
  int precision = -1;
  Length length = Length::None;
  wchar_t conversion = 0;
};

int ReadNumber(const wchar_t*& p) {
  long value = 0;
  while (*p >= L'0' && *p <= L'9') {
    if (value < kMaxFieldWidth) value = value * 10 + (*p - L'0');
    ++p;
  }
  return value > kMaxFieldWidth ? kMaxFieldWidth : int(value);
}

int Clamp(int v) { return v > kMaxFieldWidth ? kMaxFieldWidth : v; }

// Pads or cuts an already converted string the way %s would.
void AppendString(std::wstring& out, const Conversion& conv, std::wstring_view text) {
  if (conv.precision >= 0 && text.size() > size_t(conv.precision)) text = text.substr(0, conv.precision);
  size_t pad = conv.width > 0 && size_t(conv.width) > text.size() ? conv.width - text.size() : 0;
  bool left = conv.flags.find(L'-') != std::wstring::npos;
  if (!left) out.append(pad, L' ');
  out.append(text);
  if (left) out.append(pad, L' ');
}

std::wstring SubFormat(const Conversion& conv, const wchar_t* lengthText) {
  std::wstring f = L"%" + conv.flags;
  if (conv.width >= 0) f += std::to_wstring(conv.width);
  if (conv.precision >= 0) f += L"." + std::to_wstring(conv.precision);
  f += lengthText;
  f += conv.conversion;
  return f;
}

template <typename T>
void AppendNumber(std::wstring& out, const Conversion& conv, const wchar_t* lengthText, T value) {
  std::wstring f = SubFormat(conv, lengthText);
  // Room for the field and precision plus every digit a double can have before the point.
  std::vector<wchar_t> buffer(size_t(std::max(conv.width, 0) + std::max(conv.precision, 0) + 400));
  int n = std::swprintf(buffer.data(), buffer.size(), f.c_str(), value);
  if (n > 0) out.append(buffer.data(), size_t(n) < buffer.size() ? size_t(n) : buffer.size() - 1);
}

void AppendSigned(std::wstring& out, const Conversion& conv, va_list& args) {
  switch (conv.length) {
    case Length::L: AppendNumber(out, conv, L"l", va_arg(args, long)); break;
    case Length::Ll: AppendNumber(out, conv, L"ll", va_arg(args, long long)); break;
    case Length::J: AppendNumber(out, conv, L"ll", (long long)va_arg(args, intmax_t)); break;
    case Length::Z:
    case Length::T: AppendNumber(out, conv, L"ll", (long long)va_arg(args, ptrdiff_t)); break;
    case Length::Hh: AppendNumber(out, conv, L"", int((signed char)va_arg(args, int))); break;
    case Length::H: AppendNumber(out, conv, L"", int(short(va_arg(args, int)))); break;
    default: AppendNumber(out, conv, L"", va_arg(args, int)); break;
  }
}

void AppendUnsigned(std::wstring& out, const Conversion& conv, va_list& args) {
  using ull = unsigned long long;
  switch (conv.length) {
    case Length::L: AppendNumber(out, conv, L"l", va_arg(args, unsigned long)); break;
    case Length::Ll: AppendNumber(out, conv, L"ll", va_arg(args, unsigned long long)); break;
    case Length::J: AppendNumber(out, conv, L"ll", ull(va_arg(args, uintmax_t))); break;
    case Length::Z:
    case Length::T: AppendNumber(out, conv, L"ll", ull(va_arg(args, size_t))); break;
    case Length::Hh: AppendNumber(out, conv, L"", unsigned((unsigned char)va_arg(args, unsigned))); break;
    case Length::H: AppendNumber(out, conv, L"", unsigned((unsigned short)va_arg(args, unsigned))); break;
    default: AppendNumber(out, conv, L"", va_arg(args, unsigned)); break;
  }
}

// Reads one conversion after its '%'; p is left after the conversion character.
bool ParseSpec(const wchar_t*& p, va_list& args, Conversion& conv) {
  while (*p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0') conv.flags += *p++;
  if (*p == L'*') {
    ++p;
    int w = va_arg(args, int);
    if (w < 0) {
      conv.flags += L'-';
      w = w == INT_MIN ? kMaxFieldWidth : -w;
    }
    conv.width = Clamp(w);
  } else if (*p >= L'0' && *p <= L'9') {
    conv.width = ReadNumber(p);
  }
  if (*p == L'.') {
    ++p;
    if (*p == L'*') {
      ++p;
      int prec = va_arg(args, int);
      conv.precision = prec < 0 ? -1 : Clamp(prec);
    } else {
      conv.precision = ReadNumber(p);
    }
  }
  switch (*p) {
    case L'h': ++p; conv.length = *p == L'h' ? (++p, Length::Hh) : Length::H; break;
    case L'l': ++p; conv.length = *p == L'l' ? (++p, Length::Ll) : Length::L; break;
    case L'j': ++p; conv.length = Length::J; break;
    case L'z': ++p; conv.length = Length::Z; break;
    case L't': ++p; conv.length = Length::T; break;
    case L'L': ++p; conv.length = Length::BigL; break;
    default: break;
  }
  if (*p == 0) return false;
  conv.conversion = *p++;
  return true;
}

}  // namespace

std::wstring FormatLogMessage(const wchar_t* format, va_list args) {
  std::wstring out;
  if (!format) return out;
  va_list ap;
  va_copy(ap, args);
  const wchar_t* p = format;
  while (*p && out.size() <= kLogMessageMaxChars) {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    const wchar_t* start = p++;
    if (*p == L'%') {
      out += *p++;
      continue;
    }
    Conversion conv;
    if (!ParseSpec(p, ap, conv)) {
      out.append(start);  // a cut-off conversion at the end is shown as written
      break;
    }
    switch (conv.conversion) {
      case L'd':
      case L'i': AppendSigned(out, conv, ap); break;
      case L'u':
      case L'o':
      case L'x':
      case L'X': AppendUnsigned(out, conv, ap); break;
      case L'f': case L'F': case L'e': case L'E':
      case L'g': case L'G': case L'a': case L'A':
        if (conv.length == Length::BigL) {
          AppendNumber(out, conv, L"L", va_arg(ap, long double));
        } else {
          AppendNumber(out, conv, L"", va_arg(ap, double));
        }
        break;
      case L'c':
        if (conv.length == Length::L) {
          AppendString(out, conv, std::wstring(1, wchar_t(va_arg(ap, PromotedWint))));
        } else {
          AppendString(out, conv, toWide(std::string(1, char(va_arg(ap, int)))));
        }
        break;
      case L's':
        if (conv.length == Length::L) {
          const wchar_t* s = va_arg(ap, const wchar_t*);
          AppendString(out, conv, s ? std::wstring_view(s) : std::wstring_view(L"(null)"));
        } else {
          const char* s = va_arg(ap, const char*);
          AppendString(out, conv, s ? toWide(s) : std::wstring(L"(null)"));
        }
        break;
      case L'p': AppendNumber(out, conv, L"", va_arg(ap, void*)); break;
      case L'n': (void)va_arg(ap, void*); break;  // never write through a log argument
      default: out.append(start, p); break;       // unknown: shown as written
    }
  }
  va_end(ap);
  if (out.size() > kLogMessageMaxChars) {
    out.resize(kLogMessageMaxChars);
    // Do not leave half of a surrogate pair at the cut: it would become a replacement character.
    if (sizeof(wchar_t) == 2 && !out.empty() && out.back() >= 0xD800 && out.back() <= 0xDBFF) out.pop_back();
  }
  return out;
}

std::string FormatLogLine(const LogClock& clock, const std::wstring& message) {
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"%02u:%02u:%02u.%03u  ", clock.hour % 100, clock.minute % 100,
                clock.second % 100, clock.millisecond % 1000);
  std::wstring line = stamp;
  line += message;
  line += L"\r\n";
  return toUtf8(line);
}

}  // namespace sv
