#include "common/text.h"

#include <gtest/gtest.h>

TEST(Trim, RemovesOnlySpaceTabCrLf) {
  EXPECT_EQ(sv::trim(std::string_view(" \t\r\nab c\n ")), "ab c");
  EXPECT_EQ(sv::trim(std::wstring_view(L"\v x \f")), L"\v x \f");
}
