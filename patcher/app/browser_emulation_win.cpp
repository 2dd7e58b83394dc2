#include <windows.h>
#include <urlmon.h>

#include <cwchar>
#include <string>

#include "common/path.h"
#include "patcher/app/browser_emulation.h"

namespace sv {

namespace {

// The leading decimal number of a REG_SZ value; 0 when missing, not a string or no digits.
unsigned ReadLeadingNumber(HKEY key, const wchar_t* valueName) {
  wchar_t text[64] = {};
  DWORD type = 0, size = sizeof(text) - sizeof(wchar_t);
  if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return 0;
  }
  unsigned value = 0;
  for (const wchar_t* p = text; *p >= L'0' && *p <= L'9' && value < 100000; ++p) value = value * 10 + unsigned(*p - L'0');
  return value;
}

unsigned InstalledExplorerMajor() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  // IE 10 and later keep the real version in svcVersion; "Version" then reads 9.x.
  unsigned major = ReadLeadingNumber(key, L"svcVersion");
  if (major == 0) major = ReadLeadingNumber(key, L"Version");
  RegCloseKey(key);
  return major;
}

void WriteEmulationValue(DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION",
                      0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::wstring name = fileName(modulePath());
  DWORD current = 0, type = 0, size = sizeof(current);
  bool same = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&current), &size) ==
                  ERROR_SUCCESS &&
              type == REG_DWORD && size == sizeof(current) && current == value;
  if (!same) {
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  RegCloseKey(key);
}

}  // namespace

unsigned long BrowserEmulationValue(unsigned major) {
  if (major > 10) return 11001;
  if (major == 10) return 10001;
  if (major == 9) return 9999;
  if (major == 8) return 8888;
  return 0;
}

void SetBrowserEmulation() {
  if (DWORD value = BrowserEmulationValue(InstalledExplorerMajor())) WriteEmulationValue(value);
  CoInternetSetFeatureEnabled(FEATURE_DISABLE_NAVIGATION_SOUNDS, SET_FEATURE_ON_PROCESS, TRUE);
}

}  // namespace sv
