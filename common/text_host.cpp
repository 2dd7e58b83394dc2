// Text conversion without the operating system: UTF-8 and the Windows Turkish code page. Invalid
// input is replaced by U+FFFD as MultiByteToWideChar does without MB_ERR_INVALID_CHARS.
#include "common/text.h"

namespace sv {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Bytes 0x80-0x9F of code page 1254; the bytes the code page leaves undefined map to the C1
// control with the same value, as Windows does.
constexpr char16_t kCp1254High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x008E, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,
};

char32_t fromCp1254(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F) return kCp1254High[b - 0x80];
  switch (b) {  // the Turkish letters that replace Icelandic ones of Latin-1
    case 0xD0: return 0x011E;
    case 0xDD: return 0x0130;
    case 0xDE: return 0x015E;
    case 0xF0: return 0x011F;
    case 0xFD: return 0x0131;
    case 0xFE: return 0x015F;
    default: return b;
  }
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one strictly valid sequence at bytes[i] (no overlong forms, no surrogates, nothing above
// U+10FFFF). Returns its length, or 0 when the sequence is invalid.
size_t decodeUtf8At(std::string_view bytes, size_t i, char32_t& cpOut) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  size_t length;
  char32_t cp, minimum;
  if (lead < 0x80) {
    cpOut = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (length > bytes.size() - i) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(bytes[i + k]);
    if (!isContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  cpOut = cp;
  return length;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::wstring toWide(std::string_view bytes, unsigned codePage) {
  std::wstring out;
  if (codePage == kCodePageTurkish) {
    out.reserve(bytes.size());
    for (char b : bytes) out.push_back(wchar_t(fromCp1254(static_cast<unsigned char>(b))));
  } else if (codePage == kCodePageUtf8) {
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
      char32_t cp = 0;
      const size_t n = decodeUtf8At(bytes, i, cp);
      out.push_back(wchar_t(n ? cp : kReplacement));
      i += n ? n : 1;
    }
  }
  return out;
}

std::string toUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = char32_t(wide[i]);
    // A wide string built from UTF-16 data may still carry a pair; join it as Windows would.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && char32_t(wide[i + 1]) >= 0xDC00 &&
        char32_t(wide[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00);
      ++i;
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      cp = kReplacement;
    }
    appendUtf8(out, cp);
  }
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t n = decodeUtf8At(bytes, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace sv
