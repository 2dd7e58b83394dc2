// The scoped owners give back what they hold, once, at the end of their scope or when told.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "common/file.h"
#include "common/scoped_win.h"
#include "tests/support/scratch_dir.h"

namespace {

using ScopedWinTest = ScratchDirTest;

// A file opened without sharing: nobody else can open it until the handle is closed.
HANDLE OpenExclusive(const std::wstring& p) {
  return CreateFileW(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Closed(const std::wstring& p) {
  sv::ScopedHandle probe(OpenExclusive(p));
  return probe.valid();
}

}  // namespace

TEST_F(ScopedWinTest, HandleClosesAtTheEndOfItsScopeAndMovesOnce) {
  const std::wstring p = path(L"held.bin");
  {
    sv::ScopedHandle first(OpenExclusive(p));
    ASSERT_TRUE(first);
    EXPECT_FALSE(Closed(p));
    sv::ScopedHandle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_TRUE(second.valid());
    EXPECT_FALSE(Closed(p));
  }
  EXPECT_TRUE(Closed(p));
}

TEST_F(ScopedWinTest, ResetReleaseAndClose) {
  const std::wstring p = path(L"reset.bin");
  sv::ScopedHandle h(OpenExclusive(p));
  ASSERT_TRUE(h);
  h.reset();
  EXPECT_FALSE(h);
  EXPECT_TRUE(Closed(p));

  h.reset(OpenExclusive(p));
  HANDLE raw = h.release();
  EXPECT_FALSE(h);
  EXPECT_FALSE(Closed(p));  // released: still open, now the caller's
  CloseHandle(raw);
  EXPECT_TRUE(Closed(p));

  h.reset(OpenExclusive(p));
  EXPECT_TRUE(h.close());
  EXPECT_TRUE(h.close());  // nothing held: nothing to fail
  EXPECT_TRUE(Closed(p));

  // CreateFileW's failure value is "none" as much as null is.
  sv::ScopedHandle failed(CreateFileW(path(L"missing\\x").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(failed);
}

TEST_F(ScopedWinTest, FindHandleEndsTheSearch) {
  ASSERT_TRUE(sv::writeFileAtomic(path(L"one.txt"), "1", 1));
  WIN32_FIND_DATAW found;
  sv::ScopedFindHandle find(FindFirstFileW(path(L"*.txt").c_str(), &found));
  ASSERT_TRUE(find);
  EXPECT_STREQ(found.cFileName, L"one.txt");
  sv::ScopedFindHandle none(FindFirstFileW(path(L"*.none").c_str(), &found));
  EXPECT_FALSE(none);
  EXPECT_TRUE(find.close());
}

TEST(ScopedWin, ModuleAndComScopes) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  {
    sv::ScopedModule module(LoadLibraryExW(self, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_TRUE(module);
  }
  sv::ScopedModule missing(LoadLibraryW(L"no-such-library-here.dll"));
  EXPECT_FALSE(missing);

  // COM in one apartment; asking for another fails and must not undo the first.
  sv::ScopedCom sta(COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(sta.ok());
  {
    sv::ScopedCom mta(COINIT_MULTITHREADED);
    EXPECT_FALSE(mta.ok());
    EXPECT_EQ(mta.result(), RPC_E_CHANGED_MODE);
  }
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);  // still initialised on this thread
  if (SUCCEEDED(again)) CoUninitialize();
}

TEST(ScopedWin, GdiplusStarts) {
  sv::ScopedGdiplus gdiplus;
  EXPECT_TRUE(gdiplus.started());
}
