#include "common/ini.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(Ini, SectionsKeysAndQuotes) {
  const sv::IniValues v = sv::parseIni(
      "top = 1\r\n"
      "; comment = x\n"
      "  # also = x\n"
      "[Patcher]\r\n"
      "Title = 'Oyun'\r\n"
      "Url=\"http://127.0.0.1/a=b\"\n"
      "Half = \"x'\n"
      "Single = \"\n"
      "Inner = a \"b\" c\n"
      "no equals sign here\n"
      "Empty =\n"
      "[ Other Section ] trailing\n"
      "KEY=first\n"
      "key = second\n"
      "[Unclosed\n"
      "k=v");
  const sv::IniValues expected = {
      {"top", "1"},
      {"patcher.title", "Oyun"},
      {"patcher.url", "http://127.0.0.1/a=b"},
      {"patcher.half", "\"x'"},
      {"patcher.single", "\""},
      {"patcher.inner", "a \"b\" c"},
      {"patcher.empty", ""},
      {"other section.key", "second"},
      {"unclosed.k", "v"},
  };
  EXPECT_EQ(v, expected);
}

TEST(Ini, DecodesBeforeParsing) {
  // UTF-16 with a byte order mark, and a code page 1254 file.
  const sv::IniValues utf16 = sv::parseIni("\xFF\xFE[\0a\0]\0\n\0k\0=\0\x1F\x01\n\0"s);
  EXPECT_EQ(utf16.at("a.k"), "\xC4\x9F");
  EXPECT_EQ(sv::parseIni("[S]\nBa\xFEl\xDD=\xFE").at("s.ba\xC5\x9Fl\xC4\xB0"), "\xC5\x9F");
  EXPECT_TRUE(sv::parseIni("").empty());
}

TEST(Ini, EmptyHeaderStartsAnUnnamedSection) {
  // Keys behind "[]" belong to a section named "", not to the top level before any header.
  const sv::IniValues v = sv::parseIni("title = top\n[Patcher]\ntitle = a\n[ ]\ntitle = b\n");
  const sv::IniValues expected = {{"title", "top"}, {"patcher.title", "a"}, {".title", "b"}};
  EXPECT_EQ(v, expected);
}
