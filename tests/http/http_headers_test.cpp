// Reading the numbers of Content-Length and Content-Range values.
#include <gtest/gtest.h>

#include <cstdint>

#include "http/http_client.h"

namespace sv {
namespace {

TEST(HttpHeaders, ParseDigitsReadsTheFirstRunOfDigits) {
  uint64_t v = 99;
  EXPECT_TRUE(HttpClient::ParseDigits(L"1048576", v));
  EXPECT_EQ(v, 1048576u);
  EXPECT_TRUE(HttpClient::ParseDigits(L"bytes 100", v));
  EXPECT_EQ(v, 100u);
  EXPECT_TRUE(HttpClient::ParseDigits(L" 12ab34", v));
  EXPECT_EQ(v, 12u);
  EXPECT_TRUE(HttpClient::ParseDigits(L"0", v));
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(HttpClient::ParseDigits(L"4294967296000", v));  // past 32 bits
  EXPECT_EQ(v, 4294967296000u);
  // Too many digits saturate rather than wrap round to a small, plausible length.
  EXPECT_TRUE(HttpClient::ParseDigits(L"99999999999999999999999", v));
  EXPECT_EQ(v, UINT64_MAX);
  v = 5;
  EXPECT_FALSE(HttpClient::ParseDigits(L"none", v));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(HttpClient::ParseDigits(L"", v));
}

TEST(HttpHeaders, ContentRangeNeedsAllThreeNumbers) {
  HttpResult r;
  HttpClient::ParseContentRange(L"bytes 100-199/1000", r);
  EXPECT_TRUE(r.has_range);
  EXPECT_EQ(r.range_first, 100u);
  EXPECT_EQ(r.range_last, 199u);
  EXPECT_EQ(r.range_total, 1000u);

  const wchar_t* broken[] = {L"bytes 100-199", L"bytes */1000", L"bytes 0-1023/*",
                             L"bytes 1/2-3", L"bytes -199/1000", L""};
  for (const wchar_t* value : broken) {
    HttpResult b;
    HttpClient::ParseContentRange(value, b);
    EXPECT_FALSE(b.has_range) << value;
  }
}

}  // namespace
}  // namespace sv
