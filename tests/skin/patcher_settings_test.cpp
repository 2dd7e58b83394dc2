#include "skin/patcher_settings.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

TEST(PatcherSettings, DefaultsWithoutFile) {
  const PatcherSettings s = PatcherSettings::parse("");
  EXPECT_EQ(s.title, L"");
  EXPECT_EQ(s.connections, 4);
  EXPECT_EQ(s.segmentMb, 4);
  EXPECT_EQ(s.maxKbps, 0);
  EXPECT_TRUE(s.closeOnStart);
  EXPECT_FALSE(s.autoStart);
  EXPECT_FALSE(s.allowStartOnError);
  EXPECT_TRUE(s.browserEmulation);
  EXPECT_EQ(s.runArgs, L"");
}

TEST(PatcherSettings, NumbersAreClampedAndBadOnesKeepTheDefault) {
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nconnections=0").connections, 1);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nconnections=20").connections, 8);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nconnections=abc").connections, 4);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nconnections=-5").connections, 1);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nsegment_mb=100").segmentMb, 64);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nsegment_mb=99999999999").segmentMb, 4);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nmax_kbps=-1").maxKbps, 0);
  EXPECT_EQ(PatcherSettings::parse("[patcher]\nmax_kbps=2000000").maxKbps, 1048576);
  // Keys outside the section do not count.
  EXPECT_EQ(PatcherSettings::parse("connections=2\n[other]\nconnections=3").connections, 4);
}

TEST(PatcherSettings, WordsAndCase) {
  EXPECT_FALSE(PatcherSettings::parse("[patcher]\nclose_on_start=hayir").closeOnStart);
  EXPECT_TRUE(PatcherSettings::parse("[patcher]\nclose_on_start=maybe").closeOnStart);
  EXPECT_TRUE(PatcherSettings::parse("[patcher]\nauto_start=EVET").autoStart);
  EXPECT_FALSE(PatcherSettings::parse("[patcher]\nbrowser_emulation=off").browserEmulation);
  const PatcherSettings s =
      PatcherSettings::parse("[Patcher]\r\nTitle=Oyun\r\nRUN_ARGS=  \"-windowed 1\"  \r\n");
  EXPECT_EQ(s.title, L"Oyun");
  EXPECT_EQ(s.runArgs, L"-windowed 1");
  EXPECT_EQ(PatcherSettings::parse("[patcher]\ntitle=  'Draskel Online'  ").title,
            L"Draskel Online");
}

TEST(PatcherSettings, ToIniRoundTrip) {
  PatcherSettings s;
  s.title = L"Draskel Güncelleyici";
  s.connections = 8;
  s.segmentMb = 16;
  s.maxKbps = 2048;
  s.closeOnStart = false;
  s.autoStart = true;
  s.allowStartOnError = true;
  s.browserEmulation = false;
  s.runArgs = L"-server tr1 -lang=tr";
  const std::string ini = s.toIni();
  EXPECT_EQ(ini,
            "; Sarvik ayarlari (yapici tarafindan yazilir)\r\n[patcher]\r\n"
            "title=Draskel G\xC3\xBCncelleyici\r\nconnections=8\r\nsegment_mb=16\r\nmax_kbps=2048\r\n"
            "close_on_start=0\r\nauto_start=1\r\nallow_start_on_error=1\r\n"
            "browser_emulation=0\r\nrun_args=-server tr1 -lang=tr\r\n");
  const PatcherSettings back = PatcherSettings::parse(ini);
  EXPECT_EQ(back.title, s.title);
  EXPECT_EQ(back.connections, 8);
  EXPECT_EQ(back.segmentMb, 16);
  EXPECT_EQ(back.maxKbps, 2048);
  EXPECT_FALSE(back.closeOnStart);
  EXPECT_TRUE(back.autoStart);
  EXPECT_TRUE(back.allowStartOnError);
  EXPECT_FALSE(back.browserEmulation);
  EXPECT_EQ(back.runArgs, s.runArgs);

  // A line break cannot smuggle another key into the file.
  PatcherSettings injected;
  injected.title = L"x\r\nauto_start=1";
  const PatcherSettings read = PatcherSettings::parse(injected.toIni());
  EXPECT_FALSE(read.autoStart);
  EXPECT_EQ(read.title, L"x  auto_start=1");
}

// Reading trims values and removes one pair of quotes: what the builder stores must still read
// back exactly as the operator typed it.
TEST(PatcherSettings, ToIniKeepsSpacesAndQuotesAtTheEnds) {
  for (const wchar_t* text : {L"  spaced  ", L"\"quoted\"", L"'single'", L"\"", L"a\"", L"\t tab"}) {
    PatcherSettings s;
    s.title = text;
    s.runArgs = text;
    const PatcherSettings back = PatcherSettings::parse(s.toIni());
    EXPECT_EQ(back.title, text);
    EXPECT_EQ(back.runArgs, text);
  }
}

}  // namespace
}  // namespace sv
