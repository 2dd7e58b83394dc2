#include <cmath>
#include <cstdio>

#include "common/text.h"

namespace sv {

namespace {

// printf into a narrow buffer; every format used here produces ASCII only, so widening is a
// plain copy and both builds agree regardless of the wide printf convention.
template <typename... Args>
std::wstring formatAscii(const char* format, Args... args) {
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return {};
  if (size_t(n) >= sizeof buffer) n = int(sizeof buffer) - 1;
  return std::wstring(buffer, buffer + n);
}

bool isPlaceholderFlag(wchar_t c) {
  return std::wstring_view(L"-+ #0123456789.lhLqjzt").find(c) != std::wstring_view::npos;
}

bool isPlaceholderConversion(wchar_t c) {
  return std::wstring_view(L"sSdiuxXcfgp").find(c) != std::wstring_view::npos;
}

}  // namespace

std::wstring formatInt64(int64_t value) { return formatAscii("%lld", (long long)value); }

std::wstring formatOneDecimal(double value) {
  std::wstring text = formatAscii("%.1f", value);
  for (wchar_t& c : text) {
    if (c == L'.') c = L',';
  }
  return text;
}

std::wstring formatSize(uint64_t bytes) {
  if (bytes < 1024) return formatAscii("%llu", (unsigned long long)bytes) + L" B";
  if (bytes < 1048576) return formatOneDecimal(double(bytes) / 1024.0) + L" KB";
  if (bytes < 1073741824) return formatOneDecimal(double(bytes) / 1048576.0) + L" MB";
  return formatOneDecimal(double(bytes) / 1073741824.0) + L" GB";
}

std::wstring formatSpeed(double bytesPerSecond) {
  // NaN and values beyond 64 bits would make the integer conversion undefined.
  uint64_t whole = 0;
  if (bytesPerSecond >= 18446744073709551616.0) {
    whole = UINT64_MAX;
  } else if (bytesPerSecond > 0) {
    whole = uint64_t(bytesPerSecond);
  }
  return formatSize(whole) + L"/sn";
}

std::wstring formatPercent(float fraction) {
  // The small addition keeps 0.29 from showing 28 after the float rounding of the product.
  const double value = std::floor(double(fraction) * 100.0 + 0.0001);
  return L"%" + std::to_wstring(int64_t(value));
}

std::wstring formatDuration(uint64_t seconds) {
  using ull = unsigned long long;
  if (seconds >= 3600) return formatAscii("%llu sa %02llu dk", ull(seconds / 3600), ull(seconds % 3600 / 60));
  if (seconds >= 60) return formatAscii("%llu dk %02llu sn", ull(seconds / 60), ull(seconds % 60));
  return formatAscii("%llu sn", ull(seconds));
}

std::wstring formatTemplate(std::wstring_view templ, const std::vector<std::wstring>& args) {
  std::wstring out;
  out.reserve(templ.size());
  size_t nextArg = 0;
  size_t i = 0;
  while (i < templ.size()) {
    const wchar_t c = templ[i];
    if (c != L'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < templ.size() && templ[i + 1] == L'%') {
      out.push_back(L'%');
      i += 2;
      continue;
    }
    size_t j = i + 1;
    while (j < templ.size() && isPlaceholderFlag(templ[j])) ++j;
    if (j < templ.size() && isPlaceholderConversion(templ[j])) {
      if (nextArg < args.size()) out += args[nextArg++];
      i = j + 1;
    } else {
      out.push_back(L'%');
      ++i;
    }
  }
  return out;
}

}  // namespace sv
