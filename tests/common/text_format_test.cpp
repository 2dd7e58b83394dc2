#include <cmath>
#include <limits>

#include "common/text.h"

#include <gtest/gtest.h>

TEST(Format, NumbersWithDecimalComma) {
  EXPECT_EQ(sv::formatInt64(-9007199254740993LL), L"-9007199254740993");
  EXPECT_EQ(sv::formatOneDecimal(0.96), L"1,0");
  EXPECT_EQ(sv::formatOneDecimal(1234567.0), L"1234567,0");
  EXPECT_EQ(sv::formatOneDecimal(-1.5), L"-1,5");
}

TEST(Format, SizesAndSpeeds) {
  EXPECT_EQ(sv::formatSize(0), L"0 B");
  EXPECT_EQ(sv::formatSize(1023), L"1023 B");
  EXPECT_EQ(sv::formatSize(1024), L"1,0 KB");
  EXPECT_EQ(sv::formatSize(1536), L"1,5 KB");
  EXPECT_EQ(sv::formatSize(5 * 1048576 + 104858), L"5,1 MB");
  EXPECT_EQ(sv::formatSize(3ull * 1073741824), L"3,0 GB");
  EXPECT_EQ(sv::formatSize(UINT64_MAX), L"17179869184,0 GB");
  EXPECT_EQ(sv::formatSpeed(-5), L"0 B/sn");
  EXPECT_EQ(sv::formatSpeed(1535.99), L"1,5 KB/sn");
  // No undefined conversion from values that do not fit.
  EXPECT_EQ(sv::formatSpeed(std::nan("")), L"0 B/sn");
  EXPECT_EQ(sv::formatSpeed(std::numeric_limits<double>::infinity()), L"17179869184,0 GB/sn");
}

TEST(Format, WholePercentBehindTheSign) {
  EXPECT_EQ(sv::formatPercent(0.9999f), L"%99");
  EXPECT_EQ(sv::formatPercent(1.0f), L"%100");
  EXPECT_EQ(sv::formatPercent(0.0f), L"%0");
  EXPECT_EQ(sv::formatPercent(0.29f), L"%29");  // 28.999... in float
  EXPECT_EQ(sv::formatPercent(0.57f), L"%57");
}

TEST(Format, Durations) {
  EXPECT_EQ(sv::formatDuration(0), L"0 sn");
  EXPECT_EQ(sv::formatDuration(59), L"59 sn");
  EXPECT_EQ(sv::formatDuration(61), L"1 dk 01 sn");
  EXPECT_EQ(sv::formatDuration(3599), L"59 dk 59 sn");
  EXPECT_EQ(sv::formatDuration(3661), L"1 sa 01 dk");
  EXPECT_EQ(sv::formatDuration(100 * 3600 + 600), L"100 sa 10 dk");
}

TEST(FormatTemplate, PlaceholdersTakeArgumentsInOrder) {
  EXPECT_EQ(sv::formatTemplate(L"%s / %d %%", {L"a"}), L"a /  %");
  EXPECT_EQ(sv::formatTemplate(L"%-10.3ls|%08lld|%u", {L"x", L"y", L"z", L"unused"}), L"x|y|z");
  EXPECT_EQ(sv::formatTemplate(L"%S%c%X%p%f%g%i", {L"1", L"2", L"3", L"4", L"5", L"6", L"7"}), L"1234567");
  // Not placeholders: written as they stand.
  EXPECT_EQ(sv::formatTemplate(L"100% tamam", {L"a"}), L"100% tamam");
  EXPECT_EQ(sv::formatTemplate(L"100% dolu", {L"a"}), L"100aolu");  // "% d" is a placeholder
  EXPECT_EQ(sv::formatTemplate(L"%5k %", {L"a"}), L"%5k %");
  EXPECT_EQ(sv::formatTemplate(L"son%", {}), L"son%");
  EXPECT_EQ(sv::formatTemplate(L"%-%s", {L"a"}), L"%-a");
  // An argument is inserted as text, never read as a template.
  EXPECT_EQ(sv::formatTemplate(L"[%s]", {L"%s%%"}), L"[%s%%]");
}

TEST(SystemErrorText, TextWithCodeOrNumberOnly) {
  const std::wstring known = sv::systemErrorText(2);
  ASSERT_GT(known.size(), 4u);
  EXPECT_EQ(known.substr(known.size() - 4), L" (2)");
  EXPECT_EQ(known, sv::trim(std::wstring_view(known)));
  EXPECT_EQ(known.find(L'\n'), std::wstring::npos);
  EXPECT_EQ(sv::systemErrorText(0x2FFFFFF3u), L"Hata kodu 805306355");
}
