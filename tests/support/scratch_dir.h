#pragma once
// A fresh folder per test below the test's working folder, removed afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::path("scratch") / (std::string(info->test_suite_name()) + "_" + info->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  // A path inside the scratch folder, composed the way the program composes paths.
  std::wstring path(const std::wstring& relative) const { return root_.wstring() + L"\\" + relative; }

  std::filesystem::path root_;
};
