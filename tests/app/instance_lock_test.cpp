// The folder lock's decisions, the same in every build: the name whatever the folder's spelling,
// the window tag, and what a start does with what opening the mutex found. (What Wine cannot
// make, a mutex that only an elevated patcher may open, comes in here as MutexOpen::AccessDenied;
// startup_pieces_test_win.cpp drives the Windows side.)
#include <gtest/gtest.h>

#include "patcher/app/instance_lock.h"

namespace {

using sv::InstanceLockName;
using sv::LockStep;
using sv::MutexOpen;

TEST(InstanceLockFolder, OneSpellingForOneFolder) {
  EXPECT_EQ(sv::NormalizeLockFolder(L"C:\\Games\\Draskel"), L"c:\\games\\draskel");
  EXPECT_EQ(sv::NormalizeLockFolder(L"C:\\Games\\Draskel\\"), L"c:\\games\\draskel");
  EXPECT_EQ(sv::NormalizeLockFolder(L"C:\\Games\\Draskel\\\\/"), L"c:\\games\\draskel");
  EXPECT_EQ(sv::NormalizeLockFolder(L"C:/Games/Draskel"), L"c:\\games\\draskel");
  // What GetFinalPathNameByHandleW gives.
  EXPECT_EQ(sv::NormalizeLockFolder(L"\\\\?\\C:\\Games\\Draskel"), L"c:\\games\\draskel");
  EXPECT_EQ(sv::NormalizeLockFolder(L"\\\\?\\UNC\\sunucu\\oyunlar\\Draskel\\"), L"\\\\sunucu\\oyunlar\\draskel");
  // A drive's root keeps its separator ("C:" alone is the drive's current folder).
  EXPECT_EQ(sv::NormalizeLockFolder(L"D:\\"), L"d:\\");
  EXPECT_EQ(sv::NormalizeLockFolder(L"\\\\?\\D:\\"), L"d:\\");
  // Turkish letters fold as the file system folds them.
  EXPECT_EQ(sv::NormalizeLockFolder(L"C:\\Oyunlar\\\u015Eim\u015Fek\\"), L"c:\\oyunlar\\\u015Fim\u015Fek");
}

TEST(InstanceLockFolder, TheNameDoesNotDependOnTheSpelling) {
  const std::wstring name = InstanceLockName(L"C:\\Games\\Draskel");
  EXPECT_EQ(name, L"Local\\Sarvik_01fd0647");  // unchanged for the plain spelling
  for (const wchar_t* spelled : {L"c:\\GAMES\\draskel\\", L"C:/Games/Draskel/", L"\\\\?\\C:\\Games\\Draskel"}) {
    EXPECT_EQ(InstanceLockName(spelled), name) << spelled;
  }
  EXPECT_NE(InstanceLockName(L"C:\\Games\\Draskel2"), name);
}

TEST(InstanceLockFolder, TheWindowTagFollowsTheLockName) {
  const std::wstring a = sv::InstanceWindowTag(InstanceLockName(L"C:\\Games\\Draskel"));
  EXPECT_EQ(a.rfind(L"SarvikLock_", 0), 0u);
  EXPECT_EQ(a.size(), 11u + 8u);
  EXPECT_EQ(a, sv::InstanceWindowTag(InstanceLockName(L"c:\\games\\draskel\\")));
  EXPECT_NE(a, sv::InstanceWindowTag(InstanceLockName(L"C:\\Games\\Baska")));
}

TEST(InstanceLockDecision, AccessDeniedMeansAnotherPatcherRuns) {
  // An elevated patcher's mutex cannot be opened by an ordinary start: that is no reason to run
  // beside it without the lock.
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::AccessDenied, false), LockStep::ActivateOther);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::AccessDenied, true), LockStep::WaitForOld);
}

TEST(InstanceLockDecision, TheOtherOutcomes) {
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Created, false), LockStep::Own);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Created, true), LockStep::Own);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Existed, false), LockStep::ActivateOther);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Existed, true), LockStep::WaitForOld);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Failed, false), LockStep::GoOnWithout);
  EXPECT_EQ(sv::DecideLockStep(MutexOpen::Failed, true), LockStep::GoOnWithout);
}

}  // namespace
