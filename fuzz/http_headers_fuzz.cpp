// Reads arbitrary bytes as the value of a Content-Length or Content-Range header: numbers never
// wrap (a value of more digits than fit saturates), and a range is only reported when all three
// of its numbers were read, each the number its own part of the text holds.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "http/http_client.h"

using sv::fuzz::Check;

namespace {

// The first run of digits, compared as text against the largest 64-bit number, so that a wrap
// in the parser is visible.
bool ReferenceDigits(std::wstring_view text, uint64_t& value) {
  size_t i = 0;
  while (i < text.size() && !(text[i] >= L'0' && text[i] <= L'9')) ++i;
  if (i == text.size()) return false;
  std::string digits;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (digits.empty() && text[i] == L'0') continue;
    digits += char(text[i]);
  }
  const std::string max = "18446744073709551615";
  if (digits.size() > max.size() || (digits.size() == max.size() && digits > max)) {
    value = UINT64_MAX;
  } else {
    value = digits.empty() ? 0 : std::stoull(digits);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = sv::fuzz::WideBytes(sv::fuzz::Bytes(data, size));
  uint64_t value = 1, expected = 0;
  const bool found = sv::HttpClient::ParseDigits(text, value);
  Check(found == ReferenceDigits(text, expected));
  Check(found ? value == expected : value == 0);

  sv::HttpResult result;
  sv::HttpClient::ParseContentRange(text, result);
  if (result.has_range) {
    const size_t hyphen = text.find(L'-'), slash = text.find(L'/');
    Check(hyphen != std::wstring::npos && slash != std::wstring::npos && hyphen < slash);
    uint64_t first = 0, last = 0, total = 0;
    Check(ReferenceDigits(std::wstring_view(text).substr(0, hyphen), first) && first == result.range_first);
    Check(ReferenceDigits(std::wstring_view(text).substr(hyphen + 1, slash - hyphen - 1), last) &&
          last == result.range_last);
    Check(ReferenceDigits(std::wstring_view(text).substr(slash + 1), total) && total == result.range_total);
  }
  return 0;
}
