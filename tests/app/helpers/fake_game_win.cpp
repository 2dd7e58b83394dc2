// Stands in for the game program in the window tests and the demo: appends its command line and
// working folder (UTF-8, one line each) to "game-started.txt" beside itself and exits.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t self[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"game-started.txt";
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring text = std::wstring(GetCommandLineW()) + L"\r\n" + cwd + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(size_t(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), utf8.data(), bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, utf8.data(), DWORD(utf8.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
