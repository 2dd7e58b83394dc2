#include "publisher/glob_match.h"

#include <gtest/gtest.h>

TEST(GlobMatch, StarsQuestionMarksAndCase) {
  EXPECT_TRUE(sv::GlobMatch("*.log", "Error.LOG"));
  EXPECT_FALSE(sv::GlobMatch("*.log", "logs/error.log"));  // one star stays within a name
  EXPECT_TRUE(sv::GlobMatch("**.log", "logs/error.log"));
  EXPECT_TRUE(sv::GlobMatch("a?c", "abc"));
  EXPECT_FALSE(sv::GlobMatch("a?c", "a/c"));
  EXPECT_TRUE(sv::GlobMatch("**/a*/c", "x/ab/d/ab/c"));  // needs the first star to take more
  EXPECT_FALSE(sv::GlobMatch("**/a*/c", "x/ab/d/ab/e"));
  EXPECT_TRUE(sv::GlobMatch("", ""));
  EXPECT_FALSE(sv::GlobMatch("", "a"));
  EXPECT_TRUE(sv::GlobMatch("*", ""));
}

TEST(GlobMatch, ExcludeByNameAnywhereOrByLeadingPath) {
  const std::vector<std::string> patterns = {"*.log", "Screenshots", "logs/old"};
  EXPECT_TRUE(sv::IsExcluded(patterns, "a/b/crash.log"));
  EXPECT_TRUE(sv::IsExcluded(patterns, "screenshots/shot1.png"));
  EXPECT_TRUE(sv::IsExcluded(patterns, "data/screenshots"));
  EXPECT_TRUE(sv::IsExcluded(patterns, "logs/old/x/y.txt"));
  EXPECT_FALSE(sv::IsExcluded(patterns, "logs/older/y.txt"));
  EXPECT_FALSE(sv::IsExcluded(patterns, "data/old/y.txt"));
  EXPECT_FALSE(sv::IsExcluded(patterns, "game.exe"));
}
