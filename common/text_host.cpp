// Text conversion without the operating system: UTF-8, the Windows Turkish code page and DOS
// code page 437. Invalid input is replaced by U+FFFD as MultiByteToWideChar does without
// MB_ERR_INVALID_CHARS.
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

// Bytes 0x80-0xFF of code page 437, the code page of zip entry names without the UTF-8 flag.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
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
  } else if (codePage == kCodePageDos) {
    out.reserve(bytes.size());
    for (char c : bytes) {
      const unsigned char b = static_cast<unsigned char>(c);
      out.push_back(wchar_t(b < 0x80 ? b : kCp437High[b - 0x80]));
    }
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
