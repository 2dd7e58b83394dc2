// The build's status line: one terminal line whatever the numbers and names, with the rate and
// the time left once there is a second of history.
#include <gtest/gtest.h>

#include <sstream>

#include "publisher/progress_line.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the terminal shows after the last carriage return.
std::string LastLine(const std::string& written) {
  const size_t cr = written.rfind('\r');
  return cr == std::string::npos ? written : written.substr(cr + 1);
}

TEST(ProgressLine, StaysOneLineWithTotalRateAndTimeLeft) {
  std::ostringstream out;
  sv::ProgressLine line(out, true);
  const Clock::time_point start = Clock::now();
  line.ShowAt(start, 0, 123456, 0, 21ull << 30, "first.bin");
  EXPECT_EQ(LastLine(out.str()).find("/s"), std::string::npos) << out.str();
  // 10 GiB of 21 GiB after 100 s: 102.4 MiB/s, 110 s left.
  const std::string name = std::string(300, 'x') + "/\xC3\xBC" "ber.bin";
  line.ShowAt(start + std::chrono::seconds(100), 99999, 123456, 10ull << 30, 21ull << 30, name);
  const std::string shown = LastLine(out.str());
  EXPECT_LE(shown.size(), 78u) << shown;
  EXPECT_NE(shown.find("99999/123456 files, 10.00 GiB of 21.00 GiB"), std::string::npos) << shown;
  EXPECT_NE(shown.find("102.4 MiB/s, 1m50s left"), std::string::npos) << shown;
  EXPECT_EQ(out.str().find('\n'), std::string::npos);
  // With room to spare the name is cut at its front, never inside a character.
  line.ShowAt(start + std::chrono::seconds(200), 5, 12, 1 << 20, 3 << 20, name);
  const std::string cut = LastLine(out.str());
  EXPECT_LE(cut.size(), 78u) << cut;
  const size_t dots = cut.find("...");
  ASSERT_NE(dots, std::string::npos) << cut;
  EXPECT_NE(uint8_t(cut[dots + 3]) & 0xC0, 0x80) << cut;
  EXPECT_EQ(cut.substr(cut.size() - 10), "/\xC3\xBC" "ber.bin") << cut;
  line.Clear();
  EXPECT_EQ(LastLine(out.str()), "");
}

TEST(ProgressLine, DurationsReadAsSecondsMinutesOrHours) {
  EXPECT_EQ(sv::FormatDuration(0.2), "0s");
  EXPECT_EQ(sv::FormatDuration(59.4), "59s");
  EXPECT_EQ(sv::FormatDuration(185), "3m05s");
  EXPECT_EQ(sv::FormatDuration(7800), "2h10m");
}

TEST(ProgressLine, WritesNothingWhenOff) {
  std::ostringstream out;
  sv::ProgressLine line(out, false);
  line.ShowAt(Clock::now(), 1, 2, 3, 4, "a");
  line.Clear();
  EXPECT_EQ(out.str(), "");
}

}  // namespace
