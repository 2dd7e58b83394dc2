#include "patcher/engine/crc_cache.h"

#include <gtest/gtest.h>

namespace sv {
namespace {

TEST(CrcCache, RoundTripKeepsEntriesAndRunPath) {
  CrcCacheMap map;
  // A real FILETIME is far above 2^47 and must survive the trip.
  map[L"pack\\root.epk"] = {123456789012ull, 134412303079599070ull, 0x0badf00du};
  map[L"a.bin"] = {0, 1, 0};
  map[L"sub\\çiçek dosya.txt"] = {5, 18446744073709551615ull, 0xffffffffu};
  const std::string text = FormatCrcCache(map, L"oyun\\game.exe");
  EXPECT_EQ(text.substr(0, 6), "SVC1\r\n");
  EXPECT_NE(text.find("#run oyun\\game.exe\r\n"), std::string::npos);
  EXPECT_NE(text.find("123456789012 134412303079599070 0badf00d pack\\root.epk\r\n"),
            std::string::npos);

  CrcCacheMap back;
  std::wstring runPath;
  ASSERT_TRUE(ParseCrcCache(text, back, runPath));
  EXPECT_EQ(runPath, L"oyun\\game.exe");
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[L"pack\\root.epk"].lastWrite, 134412303079599070ull);
  EXPECT_EQ(back[L"pack\\root.epk"].size, 123456789012ull);
  EXPECT_EQ(back[L"pack\\root.epk"].crc, 0x0badf00du);
  EXPECT_EQ(back[L"sub\\çiçek dosya.txt"].lastWrite, 18446744073709551615ull);
  EXPECT_EQ(FormatCrcCache(back, runPath), text);
}

TEST(CrcCache, BadMagicAndBadLines) {
  CrcCacheMap map;
  std::wstring runPath;
  EXPECT_FALSE(ParseCrcCache("SVC2\r\n1 2 3 a\r\n", map, runPath));
  EXPECT_TRUE(map.empty());
  EXPECT_FALSE(ParseCrcCache("", map, runPath));

  const std::string text =
      "  SVC1 \r\n"
      "1 2 zz bad-crc\r\n"
      "-1 2 00000001 negative-size\r\n"
      "1 18446744073709551616 00000001 write-overflows\r\n"
      "1 2 00000001\r\n"
      "#run  spaced\\run.exe \r\n"
      "7 8 0000000a   Mixed\\CASE.bin  \r\n"
      "9 9 0000000b mixed\\case.bin\r\n";
  ASSERT_TRUE(ParseCrcCache(text, map, runPath));
  EXPECT_EQ(runPath, L"spaced\\run.exe");
  ASSERT_EQ(map.size(), 1u);
  // Keys are lower-cased, and a later line for the same key replaces the earlier one.
  EXPECT_EQ(map.begin()->first, L"mixed\\case.bin");
  EXPECT_EQ(map.begin()->second.crc, 0xbu);
}

}  // namespace
}  // namespace sv
