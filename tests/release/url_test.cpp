#include "release/url.h"

#include <gtest/gtest.h>

TEST(PercentEncodePath, KeepsOnlyUnreservedBytesAndSlash) {
  EXPECT_EQ(sv::percentEncodePath("Data/a-b_c.d~e/Z9.bin"), "Data/a-b_c.d~e/Z9.bin");
  EXPECT_EQ(sv::percentEncodePath("a b%+?#\\"), "a%20b%25%2B%3F%23%5C");
  EXPECT_EQ(sv::percentEncodePath("\xC3\x9C\xFF"), "%C3%9C%FF");
  EXPECT_EQ(sv::percentEncodePath(std::string_view("\0", 1)), "%00");
}

TEST(JoinUrl, OneSlashBetweenBaseAndRest) {
  EXPECT_EQ(sv::joinUrl(L"http://h/p/", L"crclist"), L"http://h/p/crclist");
  EXPECT_EQ(sv::joinUrl(L"http://h/p", L"///crclist"), L"http://h/p/crclist");
  EXPECT_EQ(sv::joinUrl(L"http://h/p//", L"/a"), L"http://h/p//a");
  EXPECT_EQ(sv::joinUrl(L"", L"//a/b"), L"a/b");
  EXPECT_EQ(sv::joinUrl(L"http://h", L""), L"http://h/");
  EXPECT_EQ(sv::joinUrl(std::string_view("http://h"), "/x"), "http://h/x");
}

TEST(AddQueryParam, ChoosesSeparatorAndKeepsFragment) {
  EXPECT_EQ(sv::addQueryParam(L"http://h/c.xml", L"t=5"), L"http://h/c.xml?t=5");
  EXPECT_EQ(sv::addQueryParam(L"http://h/c.xml?a=1", L"t=5"), L"http://h/c.xml?a=1&t=5");
  EXPECT_EQ(sv::addQueryParam(L"http://h/c#x?y", L"t=5"), L"http://h/c?t=5#x?y");
  EXPECT_EQ(sv::addQueryParam(L"http://h/c?a#f#g", L"v=1"), L"http://h/c?a&v=1#f#g");
  EXPECT_EQ(sv::addQueryParam(std::string_view("u"), "r=2"), "u?r=2");
}
