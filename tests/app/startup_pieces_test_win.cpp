// Pieces of the patcher's start-up that can be called directly: the command line, the folder
// lock's name and the browser emulation setting.
#include <windows.h>

#include <gtest/gtest.h>

#include "patcher/app/browser_emulation.h"
#include "patcher/app/command_line.h"
#include "patcher/app/instance_lock.h"
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
