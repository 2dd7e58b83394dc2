#pragma once
// GDI+ for a whole test program, started before the first case as the programs start it before
// their first window.
#include <gtest/gtest.h>

#include <memory>

#include "common/scoped_win.h"

namespace sv::test {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    gdiplus_ = std::make_unique<ScopedGdiplus>();
    ASSERT_TRUE(gdiplus_->started());
  }
  void TearDown() override { gdiplus_.reset(); }

 private:
  std::unique_ptr<ScopedGdiplus> gdiplus_;
};

}  // namespace sv::test
