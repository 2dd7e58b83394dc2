#include "common/text.h"

#include <gtest/gtest.h>

TEST(ParseInt64, SignDigitsAndMagnitudeLimit) {
  int64_t v = 7;
  EXPECT_TRUE(sv::parseInt64(" -0042\r\n", v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(sv::parseInt64("140737488355327", v));  // 2^47 - 1
  EXPECT_EQ(v, 140737488355327);
  v = 7;
  for (const char* bad : {"", " ", "+", "-", "+-1", "1 2", "0x10", "12a", "1e3", "140737488355328",
                          "-140737488355328", "99999999999999999999999"}) {
    EXPECT_FALSE(sv::parseInt64(bad, v)) << bad;
  }
  EXPECT_EQ(v, 7);  // untouched on failure
}

TEST(ParseInt32, DefaultOutsideRange) {
  EXPECT_EQ(sv::parseInt32("+15", -1), 15);
  EXPECT_EQ(sv::parseInt32("2147483647", -1), 2147483647);
  EXPECT_EQ(sv::parseInt32("-2147483647", -1), -2147483647);
  EXPECT_EQ(sv::parseInt32("1e3", -1), -1);
  EXPECT_EQ(sv::parseInt32("", -1), -1);
  EXPECT_EQ(sv::parseInt32("2147483648", -1), -1);
  EXPECT_EQ(sv::parseInt32("-2147483648", -1), -1);
}

TEST(ParseBool, WordsInBothLanguages) {
  for (const char* yes : {" Evet ", "1", "TRUE", "yes", "On"}) EXPECT_TRUE(sv::parseBool(yes, false)) << yes;
  for (const char* no : {"0", "False", "NO", "hayir", " off\t"}) EXPECT_FALSE(sv::parseBool(no, true)) << no;
  for (const char* other : {"", "y", "2", "hay\xC4\xB1r", "yes please"}) {
    EXPECT_TRUE(sv::parseBool(other, true)) << other;
    EXPECT_FALSE(sv::parseBool(other, false)) << other;
  }
}
