#include "release/file_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
  bool ok = false;
  std::vector<sv::FileEntry> entries;
  std::wstring error;
  std::vector<std::wstring> log;
};

Parsed Parse(std::string_view text) {
  Parsed p;
  p.ok = sv::ParseFileList(text, p.entries, p.error, &p.log);
  return p;
}

}  // namespace

TEST(FileList, FieldCountsPickThePath) {
  Parsed p = Parse(
      "0x1A2b 10 data/a.bin\n"
      "ff 20 data/with space.bin\n"            // four fields: invalid
      "ff 30 x y data/with space.bin \r\n"     // five or more: rest of the line
      "ff\n"
      "ff 1\n"
      "DEADBEEF\t\t-0\t\tz.txt\r\n");
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[0].path, L"data\\a.bin");
  EXPECT_EQ(p.entries[0].crc, 0x1A2Bu);
  EXPECT_EQ(p.entries[0].size, 10u);
  EXPECT_EQ(sv::FileUrlPath(p.entries[0].path), "data/a.bin");
  EXPECT_TRUE(p.entries[0].source.empty());
  EXPECT_EQ(p.entries[1].path, L"data\\with space.bin");
  EXPECT_EQ(sv::FileUrlPath(p.entries[1].path), "data/with%20space.bin");
  EXPECT_EQ(p.entries[2].crc, 0xDEADBEEFu);
  EXPECT_EQ(p.entries[2].size, 0u);
  EXPECT_EQ(p.log, (std::vector<std::wstring>{L"crclist: 3 gecersiz satir atlandi",
                                              L"crclist: 3 dosya"}));
}

TEST(FileList, NumberLimits) {
  Parsed p = Parse(
      "1 140737488355327 max.bin\n"
      "1 140737488355328 over.bin\n"
      "1 -1 negative.bin\n"
      "123456789 1 ninedigits.bin\n"
      "0x 1 prefixonly.bin\n"
      "12g4 1 nothex.bin\n"
      "1 +7 plus.bin\n");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].size, 140737488355327ull);
  EXPECT_EQ(p.entries[1].path, L"plus.bin");
  EXPECT_EQ(p.entries[1].size, 7u);
}

TEST(FileList, UnsafePathsAreRejectedAndLogged) {
  const std::string bad[] = {"../x", "a/../b", "C:/x", "/x", "\\\\srv\\share", "con.txt", "LPT1",
                       "dir./a", "a /b", "a\x01" "b", "a*b", std::string(241, 'n')};
  std::string text = "# comment\n; comment\n\n   \n1 1 data//x.bin\n1 1 COM10.txt\n";
  for (const std::string& b : bad) text += "1 1 x y " + b + "\n";
  Parsed p = Parse(text);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].path, L"data\\x.bin");
  EXPECT_EQ(p.entries[1].path, L"COM10.txt");
  ASSERT_EQ(p.log.size(), std::size(bad) + 2);
  EXPECT_EQ(p.log[0], L"Gecersiz yol atlandi: ../x");
  EXPECT_EQ(p.log[2], L"Gecersiz yol atlandi: C:/x");
  EXPECT_EQ(p.log[std::size(bad)], L"crclist: 12 gecersiz satir atlandi");
}

// Removal lines are comments to the entry parser and go through the same path check: a list
// can never name a file outside the game folder for deletion.
TEST(FileList, RemovalLinesNameOnlySafePathsAndListNoFile) {
  const std::string text =
      "0000abcd 5 kept.bin\n#removed pack/old.epk\n#removed ../../boot.ini\n"
      "#removed C:/Windows/x.dll\n#removedx.bin\n# removed y.bin\n#removed with space/a b.txt\r\n";
  Parsed p = Parse(text);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 1u);
  EXPECT_EQ(sv::ParseRemovedPaths(text), (std::vector<std::wstring>{L"pack\\old.epk", L"with space\\a b.txt"}));
}

TEST(FileList, LaterLineWinsInFirstPosition) {
  Parsed p = Parse("1 1 Data\\A.bin\n2 2 b.bin\n3 3 data/a.BIN\n");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].path, L"data\\a.BIN");
  EXPECT_EQ(p.entries[0].crc, 3u);
  EXPECT_EQ(p.entries[0].size, 3u);
  EXPECT_EQ(p.entries[1].path, L"b.bin");
}

TEST(FileList, EmptyHtmlAndAllInvalidLists) {
  Parsed comments = Parse("# only\n;comments\r\n\n");
  EXPECT_TRUE(comments.ok);
  EXPECT_TRUE(comments.entries.empty());
  EXPECT_EQ(comments.log, std::vector<std::wstring>{L"crclist: 0 dosya"});
  EXPECT_TRUE(Parse("").ok);

  Parsed invalid = Parse("1 1\n# c\nzz 1 a\n1 1 ../a\n");
  EXPECT_FALSE(invalid.ok);
  EXPECT_EQ(invalid.error, L"crclist okunamadı (3 geçersiz satır).");

  std::vector<sv::FileEntry> stale(1);
  std::wstring error;
  EXPECT_FALSE(sv::ParseFileList("\n<!DocType html>", stale, error));
  EXPECT_EQ(error, L"crclist yerine HTML sayfası geldi (dosya yolu yanlış olabilir).");
  EXPECT_TRUE(stale.empty());
  // Only the first 512 bytes are looked at.
  EXPECT_FALSE(Parse(std::string(507, '#') + "<HTML>").ok);
  EXPECT_TRUE(Parse(std::string(508, '#') + "<HTML>").ok);
}

TEST(FileList, NonAsciiPathsAreEncodedForUrls) {
  Parsed p = Parse("1 1 - - Harita/\xC3\x87\xC3\xB6l #1.bin\n");
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), 1u);
  EXPECT_EQ(p.entries[0].path, L"Harita\\\u00C7\u00F6l #1.bin");
  EXPECT_EQ(sv::FileUrlPath(p.entries[0].path), "Harita/%C3%87%C3%B6l%20%231.bin");
}

TEST(FileList, HundredThousandLinesWithCaseDuplicates) {
  std::string text;
  const int kFiles = 50000;
  for (int i = 0; i < kFiles; ++i) {
    text += "0x" + std::to_string(i) + " " + std::to_string(i) + " Data/Dir" +
            std::to_string(i % 97) + "/File" + std::to_string(i) + ".bin\r\n";
  }
  // The second half names the same files again, lower-cased with the other separator.
  for (int i = 0; i < kFiles; ++i) {
    text += "ab\t" + std::to_string(i + 1) + "\tdata\\dir" + std::to_string(i % 97) + "\\file" +
            std::to_string(i) + ".BIN\n";
  }
  Parsed p = Parse(text);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.entries.size(), size_t(kFiles));
  for (int i = 0; i < kFiles; i += 4999) {
    EXPECT_EQ(p.entries[i].crc, 0xABu);
    EXPECT_EQ(p.entries[i].size, uint64_t(i + 1));
    EXPECT_EQ(p.entries[i].path,
              L"data\\dir" + std::to_wstring(i % 97) + L"\\file" + std::to_wstring(i) + L".BIN");
  }
  EXPECT_EQ(p.log, std::vector<std::wstring>{L"crclist: 50000 dosya"});
}

TEST(MergeFileLists, LaterSourceOverridesInPlace) {
  sv::MergedFileList merged;
  std::vector<std::wstring> log;
  sv::MergeFileLists(merged, L"http://a/", Parse("1 1 x.bin\n2 2 Y.bin\n").entries, &log);
  sv::MergeFileLists(merged, L"http://b/v2/", Parse("3 3 z.bin\n4 4 y.BIN\n").entries, &log);
  ASSERT_EQ(merged.entries.size(), 3u);
  EXPECT_EQ(merged.entries[0].source, L"http://a/");
  EXPECT_EQ(merged.entries[1].path, L"y.BIN");
  EXPECT_EQ(merged.entries[1].crc, 4u);
  EXPECT_EQ(merged.entries[1].source, L"http://b/v2/");
  EXPECT_EQ(merged.entries[2].path, L"z.bin");
  EXPECT_EQ(log, (std::vector<std::wstring>{L"Kaynak 1: 2 dosya", L"Kaynak 2: 2 dosya"}));
}

TEST(MergeFileLists, ThreeSourcesShareTheirAddressesAndKeepFirstPositions) {
  sv::MergedFileList merged;
  std::vector<std::wstring> log;
  sv::MergeFileLists(merged, L"http://a/", Parse("# nothing here\n").entries, &log);
  std::string second, third;
  for (int i = 0; i < 3000; ++i) second += "1 1 Dir/F" + std::to_string(i) + ".bin\n";
  for (int i = 0; i < 3000; i += 3) third += "2 2 dir/f" + std::to_string(i) + ".BIN\n";
  third += "2 2 new.bin\n";
  sv::MergeFileLists(merged, L"http://b/", Parse(second).entries, &log);
  sv::MergeFileLists(merged, L"http://c/", Parse(third).entries, &log);
  sv::MergeFileLists(merged, L"http://d/", Parse("3 3 DIR/f3.bin\n").entries, &log);
  ASSERT_EQ(merged.entries.size(), 3001u);
  EXPECT_EQ(merged.entries[0].path, L"dir\\f0.BIN");
  EXPECT_EQ(merged.entries[0].source.str(), L"http://c/");
  EXPECT_EQ(merged.entries[1].path, L"Dir\\F1.bin");
  EXPECT_EQ(merged.entries[1].source.str(), L"http://b/");
  EXPECT_EQ(merged.entries[3].path, L"DIR\\f3.bin");
  EXPECT_EQ(merged.entries[3].crc, 3u);
  EXPECT_EQ(merged.entries[3].source.str(), L"http://d/");
  EXPECT_EQ(merged.entries[2997].source.str(), L"http://c/");
  EXPECT_EQ(merged.entries[2998].source.str(), L"http://b/");
  EXPECT_EQ(merged.entries[3000].path, L"new.bin");
  EXPECT_EQ(log, (std::vector<std::wstring>{L"Kaynak 1: 0 dosya", L"Kaynak 2: 3000 dosya",
                                            L"Kaynak 3: 1001 dosya", L"Kaynak 4: 1 dosya"}));
}
