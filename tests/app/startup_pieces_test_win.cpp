// Pieces of the patcher's start-up that can be called directly: the command line, the folder
// lock (its name whatever the spelling, a mutex we may not open, which window a second start
// brings to the front) and the browser emulation setting.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "patcher/app/browser_emulation.h"
#include "patcher/app/command_line.h"
#include "patcher/app/instance_lock.h"
#include "patcher/app/main_window.h"
#include "patcher/app/startup_plan.h"

TEST(CommandLine, SplitsLikeTheShellAfterTheProgramName) {
  using sv::SplitCommandLine;
  using Args = std::vector<std::wstring>;
  EXPECT_EQ(SplitCommandLine(L"Sarvik.exe --PreView"), Args({L"--PreView"}));
  EXPECT_EQ(SplitCommandLine(L"Sarvik.exe x \"y z\" --sv-updated"), Args({L"x", L"y z", L"--sv-updated"}));
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Oyun Klasoru\\Sarvik.exe\" \"--sv-run\" \"bin\\game.exe\" -w"),
            Args({L"--sv-run", L"bin\\game.exe", L"-w"}));
  // The program's own name is not an argument.
  EXPECT_EQ(SplitCommandLine(L"--preview"), Args());
  EXPECT_EQ(SplitCommandLine(L"Sarvik.exe \"--sv-run x\""), Args({L"--sv-run x"}));
  EXPECT_FALSE(sv::HasSwitch(SplitCommandLine(L"Sarvik.exe \"--sv-run x\""), L"--sv-run"));
}

TEST(InstanceLockName, CrcOfTheLowerCasedFolderInUtf8) {
  // Expected values: zlib.crc32 of the lower-cased folder's UTF-8 bytes.
  EXPECT_EQ(sv::InstanceLockName(L"C:\\Games\\Draskel"), L"Local\\Sarvik_01fd0647");
  EXPECT_EQ(sv::InstanceLockName(L"c:\\GAMES\\draskel"), L"Local\\Sarvik_01fd0647");
  EXPECT_EQ(sv::InstanceLockName(L"C:\\Oyunlar\\\u015Eim\u015Fek"), L"Local\\Sarvik_3b90a7a8");
  EXPECT_EQ(sv::InstanceLockName(L"c:\\oyunlar\\\u015Fim\u015Fek"), L"Local\\Sarvik_3b90a7a8");
  EXPECT_NE(sv::InstanceLockName(L"C:\\Games\\Draskel2"), sv::InstanceLockName(L"C:\\Games\\Draskel"));
}

namespace {

// A fresh folder under the temporary folder with a name too long for 8.3.
std::wstring MakeLongFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + name + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring LockOf(const std::wstring& folder) { return sv::InstanceLockName(sv::ResolveLockFolder(folder)); }

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), DWORD(text.size()));
  return text;
}

}  // namespace

TEST(InstanceLockFolder, ShortNameCaseAndTrailingSeparatorShareTheLock) {
  const std::wstring folder = MakeLongFolder(L"Uzun Oyun Klasoru ");
  wchar_t shortPath[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(folder.c_str(), shortPath, MAX_PATH), 0u);
  ASSERT_NE(sv::NormalizeLockFolder(shortPath), sv::NormalizeLockFolder(folder)) << "no 8.3 name here: " << shortPath;
  const std::wstring name = LockOf(folder);
  EXPECT_EQ(LockOf(shortPath), name) << shortPath;
  EXPECT_EQ(LockOf(std::wstring(shortPath) + L"\\"), name);
  EXPECT_EQ(LockOf(Upper(folder)), name);
  EXPECT_EQ(LockOf(folder + L"\\"), name);
  EXPECT_EQ(LockOf(folder + L"\\.\\"), name);
  const std::wstring other = MakeLongFolder(L"Baska Oyun Klasoru ");
  EXPECT_NE(LockOf(other), name);
  RemoveDirectoryW(other.c_str());
  RemoveDirectoryW(folder.c_str());
}

namespace {

// A stand-in for an elevated patcher's mutex: one whose DACL lets nobody (its creator included)
// open it for what CreateMutexW asks (MUTEX_ALL_ACCESS), so that the next CreateMutexW of the
// name fails with ERROR_ACCESS_DENIED as an ordinary start's does beside an elevated patcher.
HANDLE PlantDenyingMutex(const std::wstring& name) {
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof(acl), ACL_REVISION);  // empty: grants nothing
  SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
  SECURITY_ATTRIBUTES sa{sizeof(sa), &sd, FALSE};
  return CreateMutexW(&sa, TRUE, name.c_str());
}

unsigned long gDeniedAnswers = 0;

// The seam: CreateMutexW as it fails beside an elevated patcher, `gDeniedAnswers` times.
void* DeniedThenFree(const std::wstring& name, unsigned long& lastError) {
  if (gDeniedAnswers > 0) {
    --gDeniedAnswers;
    lastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  HANDLE h = CreateMutexW(nullptr, TRUE, name.c_str());
  lastError = GetLastError();
  return h;
}

struct OpenerReset {
  ~OpenerReset() { sv::SetMutexOpenerForTests(nullptr); }
};

}  // namespace

TEST(InstanceLockAccess, AMutexWeMayNotOpenMeansAnotherPatcherRuns) {
  const std::wstring folder = MakeLongFolder(L"Kilitli Klasor ");
  // Through the seam (what an elevated patcher's mutex gives an ordinary start on Windows).
  {
    OpenerReset reset;
    gDeniedAnswers = 1000;
    sv::SetMutexOpenerForTests(DeniedThenFree);
    sv::InstanceLock lock;
    EXPECT_EQ(lock.Acquire(folder, false), sv::InstanceLock::Outcome::OtherRunning);
  }
  // Through a real mutex whose DACL refuses us, where the system checks it.
  HANDLE planted = PlantDenyingMutex(LockOf(folder));
  ASSERT_NE(planted, nullptr);
  HANDLE again = CreateMutexW(nullptr, TRUE, LockOf(folder).c_str());
  const DWORD error = GetLastError();
  if (again) {
    CloseHandle(again);
    std::printf("note: this system opened a mutex its DACL refuses (error %lu): only the seam tested it\n", error);
  } else {
    ASSERT_EQ(error, DWORD(ERROR_ACCESS_DENIED));
    sv::InstanceLock lock;
    EXPECT_EQ(lock.Acquire(folder, false), sv::InstanceLock::Outcome::OtherRunning);
  }
  CloseHandle(planted);
  sv::InstanceLock free;
  EXPECT_EQ(free.Acquire(folder, false), sv::InstanceLock::Outcome::Acquired);
  RemoveDirectoryW(folder.c_str());
}

TEST(InstanceLockAccess, ARestartedCopyWaitsForADeniedMutexToGo) {
  const std::wstring folder = MakeLongFolder(L"Yeniden Baslayan ");
  OpenerReset reset;
  sv::SetMutexOpenerForTests(DeniedThenFree);
  gDeniedAnswers = 5;  // the elevated old copy ends after about half a second
  {
    sv::InstanceLock lock;
    const DWORD start = GetTickCount();
    EXPECT_EQ(lock.Acquire(folder, true, 5000), sv::InstanceLock::Outcome::Acquired);
    EXPECT_GE(GetTickCount() - start, 400u);
  }
  gDeniedAnswers = 1000;  // it never ends: given up after the wait
  sv::InstanceLock lock;
  const DWORD start = GetTickCount();
  EXPECT_EQ(lock.Acquire(folder, true, 600), sv::InstanceLock::Outcome::OtherRunning);
  EXPECT_GE(GetTickCount() - start, 550u);
  RemoveDirectoryW(folder.c_str());
}

namespace {

// A window of the patcher's main window class, minimised, with an optional tag.
HWND FakeMainWindow(const wchar_t* title, const std::wstring& tag) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = sv::kMainWindowClass;
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, sv::kMainWindowClass, title, WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, 100, 100,
                              300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd && !tag.empty()) SetPropW(hwnd, tag.c_str(), reinterpret_cast<HANDLE>(1));
  ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
  return hwnd;
}

}  // namespace

TEST(InstanceActivation, OnlyThisFoldersPatcherComesToTheFront) {
  const std::wstring mine = sv::InstanceWindowTag(sv::InstanceLockName(L"C:\\Oyunlar\\Draskel"));
  const std::wstring theirs = sv::InstanceWindowTag(sv::InstanceLockName(L"C:\\Oyunlar\\Baska"));
  // Created last, so the first a search by class alone finds: another folder's patcher and the
  // builder's preview (which carries no tag).
  HWND own = FakeMainWindow(L"Bu klasor", mine);
  HWND other = FakeMainWindow(L"Baska klasor", theirs);
  HWND preview = FakeMainWindow(L"Onizleme", L"");
  ASSERT_TRUE(own && other && preview);
  ASSERT_TRUE(IsIconic(own) && IsIconic(other) && IsIconic(preview));
  EXPECT_TRUE(sv::ActivateRunningPatcher(mine));
  EXPECT_FALSE(IsIconic(own));
  EXPECT_TRUE(IsIconic(other));
  EXPECT_TRUE(IsIconic(preview));
  // A folder whose patcher has no window (yet): nothing is touched.
  ShowWindow(own, SW_SHOWMINNOACTIVE);
  EXPECT_FALSE(sv::ActivateRunningPatcher(sv::InstanceWindowTag(sv::InstanceLockName(L"C:\\Yok"))));
  EXPECT_TRUE(IsIconic(own) && IsIconic(other) && IsIconic(preview));
  for (HWND w : {own, other}) RemovePropW(w, w == own ? mine.c_str() : theirs.c_str());
  for (HWND w : {own, other, preview}) DestroyWindow(w);
}

TEST(BrowserEmulation, WritesTheValueForThisProgram) {
  const wchar_t* keyPath =
      L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
  RegDeleteKeyValueW(HKEY_CURRENT_USER, keyPath, L"app_tests.exe");

  HKEY ie = nullptr;
  wchar_t version[64] = {};
  DWORD size = sizeof(version) - sizeof(wchar_t);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", 0, KEY_READ, &ie),
            ERROR_SUCCESS);
  if (RegQueryValueExW(ie, L"svcVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(version), &size) != ERROR_SUCCESS ||
      _wtoi(version) == 0) {
    size = sizeof(version) - sizeof(wchar_t);
    RegQueryValueExW(ie, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(version), &size);
  }
  RegCloseKey(ie);
  unsigned long expected = sv::BrowserEmulationValue(unsigned(_wtoi(version)));
  ASSERT_NE(expected, 0ul) << "Internet Explorer version here: " << _wtoi(version);

  sv::SetBrowserEmulation();
  DWORD value = 0, type = 0;
  size = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, keyPath, L"app_tests.exe", RRF_RT_ANY, &type, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_DWORD));
  EXPECT_EQ(value, expected);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, keyPath, L"app_tests.exe");
}
