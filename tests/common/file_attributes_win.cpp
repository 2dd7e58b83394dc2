#include <windows.h>

#include "common/file.h"
#include "common/file_os.h"
#include "common/scoped_win.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

namespace {

using FileAttributesTest = ScratchDirTest;

}  // namespace

TEST_F(FileAttributesTest, WriteFileAtomicOverReadOnlyFile) {
  const std::wstring p = path(L"settings.ini");
  ASSERT_TRUE(sv::writeFileAtomic(p, "old", 3));
  ASSERT_TRUE(SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

  ASSERT_TRUE(sv::writeFileAtomic(p, "new", 3));
  const DWORD attributes = GetFileAttributesW(p.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
  std::string out;
  ASSERT_TRUE(sv::readWholeFile(p, 100, out));
  EXPECT_EQ(out, "new");
}

// Wine lets MoveFileExW replace a read-only file, so the clearing step is also checked on its own.
TEST_F(FileAttributesTest, ClearReadOnlyKeepsOtherAttributes) {
  const std::wstring p = path(L"flags");
  ASSERT_TRUE(sv::writeFileAtomic(p, "x", 1));
  ASSERT_TRUE(SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(sv::os::queryAttributes(p).readOnly);
  ASSERT_TRUE(sv::os::clearReadOnly(p));
  EXPECT_EQ(GetFileAttributesW(p.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            DWORD(FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(sv::os::clearReadOnly(p));
  EXPECT_FALSE(sv::os::queryAttributes(p).readOnly);
}

TEST_F(FileAttributesTest, ReadWholeFileWhileAnotherProgramWrites) {
  const std::wstring p = path(L"Sarvik.log");
  ASSERT_TRUE(sv::writeFileAtomic(p, "line\n", 5));
  sv::ScopedHandle writer(CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  std::string out;
  EXPECT_TRUE(sv::readWholeFile(p, 100, out));
  EXPECT_EQ(out, "line\n");
}

TEST_F(FileAttributesTest, WriteFileAtomicOntoLockedFileKeepsOldContentAndError) {
  const std::wstring p = path(L"game.exe");
  ASSERT_TRUE(sv::writeFileAtomic(p, "running", 7));
  sv::ScopedHandle holder(
      CreateFileW(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);

  SetLastError(0);
  EXPECT_FALSE(sv::writeFileAtomic(p, "update", 6));
  // The caller can still tell why (a file in use, not the clean-up's result).
  const DWORD error = GetLastError();
  EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error;
  EXPECT_EQ(GetFileAttributesW((p + L".svtmp").c_str()), INVALID_FILE_ATTRIBUTES);
  holder.reset();
  std::string out;
  ASSERT_TRUE(sv::readWholeFile(p, 100, out));
  EXPECT_EQ(out, "running");
}
