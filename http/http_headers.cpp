// Header value parsing of the HTTP client; no OS calls, so both builds test it.
#include "http/http_client.h"

namespace sv {

bool HttpClient::ParseDigits(std::wstring_view text, uint64_t& valueOut) {
  valueOut = 0;
  size_t i = 0;
  while (i < text.size() && !(text[i] >= L'0' && text[i] <= L'9')) ++i;
  if (i == text.size()) return false;
  // Saturates instead of wrapping: an absurd header must not turn into a small plausible number.
  constexpr uint64_t kMax = UINT64_MAX;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    const uint64_t digit = uint64_t(text[i] - L'0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  valueOut = value;
  return true;
}

void HttpClient::ParseContentRange(std::wstring_view text, HttpResult& result) {
  result.has_range = false;
  const size_t hyphen = text.find(L'-');
  const size_t slash = text.find(L'/');
  if (hyphen == std::wstring_view::npos || slash == std::wstring_view::npos || slash < hyphen)
    return;
  const bool first = ParseDigits(text.substr(0, hyphen), result.range_first);
  const bool last = ParseDigits(text.substr(hyphen + 1, slash - hyphen - 1), result.range_last);
  const bool total = ParseDigits(text.substr(slash + 1), result.range_total);
  result.has_range = first && last && total;
}

}  // namespace sv
