#pragma once
// Text conversion, trimming, case folding, number parsing and the Turkish formatting of sizes,
// speeds and durations. Stateless; any thread may call these.
//
// Narrow strings hold UTF-8 bytes; wide strings are UTF-16 on Windows. On the host build wchar_t
// is 32 bits wide and a wide string holds code points; the functions behave the same for the
// characters the program uses.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageTurkish = 1254;
constexpr unsigned kCodePageDos = 437;  // zip entry names without the UTF-8 flag

// MultiByteToWideChar with no flags; empty on empty input or failure. The host build knows
// UTF-8 and code pages 1254 and 437.
std::wstring toWide(std::string_view bytes, unsigned codePage = kCodePageUtf8);
// WideCharToMultiByte to UTF-8; empty on failure.
std::string toUtf8(std::wstring_view wide);
// True when the bytes are strictly valid UTF-8 (MB_ERR_INVALID_CHARS).
bool isValidUtf8(std::string_view bytes);
// UTF-16 code units as a wide string: a copy on Windows; on the host, surrogate pairs become one
// code point and a lone surrogate becomes U+FFFD.
std::wstring fromUtf16(std::u16string_view units);
// BOM-aware decoding of a text file of unknown encoding (UTF-8, UTF-16LE/BE, else UTF-8 or 1254).
std::string decodeTextToUtf8(std::string_view bytes);

// Removes leading and trailing space, tab, CR and LF; nothing else.
std::string trim(std::string_view text);
std::wstring trim(std::wstring_view text);
std::string toLowerAscii(std::string_view bytes);
// CharLowerBuffW over the whole string (locale-aware folding).
std::wstring toLowerWide(std::wstring_view text);
// ASCII case-insensitive equality, like _stricmp == 0.
bool equalsNoCase(std::string_view a, std::string_view b);
bool equalsNoCase(std::wstring_view a, std::wstring_view b);

// Trims; optional sign; decimal digits only; fails when the magnitude reaches 2^47.
bool parseInt64(std::string_view text, int64_t& out);
// parseInt64, then defaultValue outside -2147483647 ... 2147483647.
int32_t parseInt32(std::string_view text, int32_t defaultValue);
// "1 true yes evet on" / "0 false no hayir off", trimmed and ASCII lower-cased; else the default.
bool parseBool(std::string_view text, bool defaultValue);

std::wstring formatInt64(int64_t value);
std::wstring formatOneDecimal(double value);  // "%.1f" with a decimal comma
std::wstring formatSize(uint64_t bytes);      // "1023 B", "1,5 KB", " MB", " GB"
std::wstring formatSpeed(double bytesPerSecond);  // formatSize + "/sn"
std::wstring formatDuration(uint64_t seconds);    // "59 sn", "1 dk 01 sn", "1 sa 01 dk"
// "%" followed by the whole percent of a 0..1 fraction (0.9999 gives "%99", 1.0 "%100").
std::wstring formatPercent(float fraction);
// printf-shaped template whose placeholders take the ready-made strings in order.
std::wstring formatTemplate(std::wstring_view templ, const std::vector<std::wstring>& args);
// FormatMessageW text + " (code)", or "Hata kodu code".
std::wstring systemErrorText(uint32_t code);

}  // namespace sv
