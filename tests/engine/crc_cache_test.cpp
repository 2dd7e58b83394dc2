#include "patcher/engine/crc_cache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "common/text.h"

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
  ASSERT_NE(map.find(L"mixed\\case.bin"), nullptr);
  EXPECT_EQ(map.find(L"mixed\\case.bin")->crc, 0xbu);
}

TEST(CrcCache, LinesFollowTheOrderOfWideKeys) {
  // Private-use and replacement characters (U+E000, U+FFFD) against one beyond U+FFFF: as wide
  // code units the latter is a surrogate pair and sorts first on Windows, though its UTF-8 bytes
  // sort last. The file keeps the order of the wide keys either way.
  const std::wstring keys[] = {L"z", L"a\\b", L"a", L"\u00e7i\u00e7ek", L"a\uE000",
                               L"a\uFFFD", toWide("a\xF0\x9F\x98\x80"), L"a\u00ff", L"A~", L"\u0131"};
  CrcCacheMap map;
  std::map<std::wstring, uint32_t> expected;
  uint32_t crc = 1;
  for (const std::wstring& key : keys) {
    map[key] = {crc, crc, crc};
    expected[key] = crc++;
  }
  std::string lines = "SVC1\r\n";
  for (const auto& [key, value] : expected) {
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%u %u %08x ", value, value, value);
    lines += numbers + toUtf8(key) + "\r\n";
  }
  EXPECT_EQ(FormatCrcCache(map, L""), lines);
}

TEST(CrcCache, ManyEntriesAreFoundAndReplacedInPlace) {
  CrcCacheMap map;
  const int kFiles = 30000;
  for (int i = 0; i < kFiles; ++i) {
    map[L"data\\dir" + std::to_wstring(i % 101) + L"\\file" + std::to_wstring(i) + L".bin"] =
        {uint64_t(i), uint64_t(i) << 40, uint32_t(i)};
  }
  // A second record under a key already held replaces the first.
  map[L"data\\dir5\\file5.bin"] = {1, 2, 3};
  ASSERT_EQ(map.size(), size_t(kFiles));
  for (int i = 0; i < kFiles; i += 997) {
    if (i == 5) continue;
    const CrcCacheEntry* entry =
        map.find(L"data\\dir" + std::to_wstring(i % 101) + L"\\file" + std::to_wstring(i) + L".bin");
    ASSERT_NE(entry, nullptr) << i;
    EXPECT_EQ(entry->lastWrite, uint64_t(i) << 40);
    EXPECT_EQ(entry->crc, uint32_t(i));
  }
  EXPECT_EQ(map.find(L"data\\dir5\\file5.bin")->crc, 3u);
  EXPECT_EQ(map.find(L"data\\dir5\\file5.BIN"), nullptr);
  EXPECT_EQ(map.find(L""), nullptr);
  // A key longer than the blocks keys are kept in, as only a damaged file would hold.
  const std::wstring longKey(70000, L'k');
  map[longKey].crc = 9;
  map[L"after\\long.bin"].crc = 10;
  EXPECT_EQ(map.find(longKey)->crc, 9u);
  EXPECT_EQ(map.find(L"after\\long.bin")->crc, 10u);

  CrcCacheMap back;
  std::wstring runPath;
  const std::string text = FormatCrcCache(map, L"");
  ASSERT_TRUE(ParseCrcCache(text, back, runPath));
  EXPECT_EQ(back.size(), map.size());
  EXPECT_EQ(FormatCrcCache(back, L""), text);
  map.clear();
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.find(L"after\\long.bin"), nullptr);
}

}  // namespace
}  // namespace sv
