#include "common/text.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(Trim, RemovesOnlySpaceTabCrLf) {
  EXPECT_EQ(sv::trim(std::string_view(" \t\r\nab c\n ")), "ab c");
  EXPECT_EQ(sv::trim(std::wstring_view(L"\v x \f")), L"\v x \f");
}

TEST(Conversion, Utf8AndTurkishCodePage) {
  EXPECT_EQ(sv::toWide("I\xC4\xB1\xC4\xB0\xC5\x9F"), L"I\u0131\u0130\u015F");
  // The bytes where code page 1254 differs from Latin-1.
  EXPECT_EQ(sv::toWide("\xD0\xDD\xDE\xF0\xFD\xFE\x80\xFC", sv::kCodePageTurkish),
            L"\u011E\u0130\u015E\u011F\u0131\u015F\u20AC\u00FC");
  EXPECT_EQ(sv::toWide(""), L"");
  const std::wstring mixed = L"\u00E7\u011F\u0131\u00F6\u015F\u00FC \U0001F600 a";
  EXPECT_EQ(sv::toUtf8(mixed), "\xC3\xA7\xC4\x9F\xC4\xB1\xC3\xB6\xC5\x9F\xC3\xBC \xF0\x9F\x98\x80 a");
  EXPECT_EQ(sv::toWide(sv::toUtf8(mixed)), mixed);
  // Embedded zero bytes are data, not terminators.
  EXPECT_EQ(sv::toUtf8(std::wstring(L"a\0b", 3)), "a\0b"s);
}

TEST(Conversion, StrictUtf8Validity) {
  EXPECT_TRUE(sv::isValidUtf8(""));
  EXPECT_TRUE(sv::isValidUtf8("plain \xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_FALSE(sv::isValidUtf8("\xFC"));                // a 1254 byte
  EXPECT_FALSE(sv::isValidUtf8("\xC3"));                // cut short
  EXPECT_FALSE(sv::isValidUtf8("a\xE2\x82"));           // cut short at the end
  EXPECT_FALSE(sv::isValidUtf8("\xC0\xAF"));            // overlong '/'
  EXPECT_FALSE(sv::isValidUtf8("\xE0\x80\xAF"));        // overlong '/'
  EXPECT_FALSE(sv::isValidUtf8("\xF4\x90\x80\x80"));    // above U+10FFFF
  EXPECT_FALSE(sv::isValidUtf8("\x80"));                // stray continuation
  EXPECT_FALSE(sv::isValidUtf8("\xED\xA0\x80"));        // a surrogate
}

TEST(DecodeText, ByteOrderMarksAndFallback) {
  EXPECT_EQ(sv::decodeTextToUtf8(""), "");
  EXPECT_EQ(sv::decodeTextToUtf8("\xEF\xBB\xBF<a/>"), "<a/>");
  EXPECT_EQ(sv::decodeTextToUtf8("\xFF\xFE\x41\x00"s), "A");
  EXPECT_EQ(sv::decodeTextToUtf8("\xFE\xFF\x00\x41"s), "A");
  // An odd trailing byte is not half a character.
  EXPECT_EQ(sv::decodeTextToUtf8("\xFF\xFE\x41\x00\x42"s), "A");
  // Surrogate pairs from both byte orders, and a Turkish letter.
  EXPECT_EQ(sv::decodeTextToUtf8("\xFF\xFE\x3D\xD8\x00\xDE\x1F\x01"s), "\xF0\x9F\x98\x80\xC4\x9F");
  EXPECT_EQ(sv::decodeTextToUtf8("\xFE\xFF\xD8\x3D\xDE\x00"s), "\xF0\x9F\x98\x80");
  EXPECT_EQ(sv::decodeTextToUtf8("\xC3\xBC ok"), "\xC3\xBC ok");
  EXPECT_EQ(sv::decodeTextToUtf8("\xFC"), "\xC3\xBC");
  EXPECT_EQ(sv::decodeTextToUtf8("\xDD\xFEk"), "\xC4\xB0\xC5\x9Fk");
  // A declaration inside the text changes nothing.
  EXPECT_EQ(sv::decodeTextToUtf8("<?xml encoding=\"utf-16\"?>"), "<?xml encoding=\"utf-16\"?>");
}

TEST(CaseFolding, AsciiOnlyAndWindowsWide) {
  EXPECT_EQ(sv::toLowerAscii("AbZ\xC3\x9C@[`{"), "abz\xC3\x9C@[`{");
  // Without linguistic casing Windows leaves the dotted capital I alone and folds 'I' to 'i'.
  EXPECT_EQ(sv::toLowerWide(L"DATA\\\u00C7\u011E\u00D6\u015E\u00DC\u0130I\u0131.EPK"),
            L"data\\\u00E7\u011F\u00F6\u015F\u00FC\u0130i\u0131.epk");
  EXPECT_EQ(sv::toLowerWide(L"\u0178\u0132\u0139\u0147\u014A\u017D\u0141\u00C0\u00DE"),
            L"\u00FF\u0133\u013A\u0148\u014B\u017E\u0142\u00E0\u00FE");
  EXPECT_EQ(sv::toLowerWide(L"\u00D7\u00DF"), L"\u00D7\u00DF");  // sign and sharp s stay
  EXPECT_TRUE(sv::equalsNoCase(std::string_view("Skin.XML"), std::string_view("skin.xml")));
  EXPECT_FALSE(sv::equalsNoCase(std::string_view("skin.xm"), std::string_view("skin.xml")));
  EXPECT_FALSE(sv::equalsNoCase(std::string_view("\xC3\x9C"), std::string_view("\xC3\xBC")));
  EXPECT_TRUE(sv::equalsNoCase(std::wstring_view(L"PATCHER"), std::wstring_view(L"patcher")));
}
