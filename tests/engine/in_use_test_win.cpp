#include "patcher/engine/in_use.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace sv {
namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  std::wstring path = std::wstring(folder) + name;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  return path;
}

TEST(InUse, LockedOnlyWhileAnotherHandleIsOpen) {
  const std::wstring path = TempFile(L"sv_inuse_test.bin");
  const std::wstring other = TempFile(L"sv_inuse_other.bin");
  EXPECT_FALSE(IsFileLocked(path));
  // A missing file is not locked: there is nothing to wait for.
  EXPECT_FALSE(IsFileLocked(path + L".missing"));

  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsFileLocked(path));
  EXPECT_TRUE(AnyFileLocked({other, path}));
  EXPECT_FALSE(AnyFileLocked({other}));
  CloseHandle(reader);

  // The probe itself shares nothing, so any open handle counts, however it shares.
  HANDLE sharing = CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(sharing, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsFileLocked(path));
  CloseHandle(sharing);
  EXPECT_FALSE(IsFileLocked(path));
  EXPECT_FALSE(AnyFileLocked({}));
  DeleteFileW(path.c_str());
  DeleteFileW(other.c_str());
}

}  // namespace
}  // namespace sv
