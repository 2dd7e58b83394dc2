// A stand-in for the SDK's signtool.exe: appends its command line to calls.txt beside itself,
// prints a fixed text and exits with the code behaviour.txt gives (first line: runs with a time
// stamp server, second line: runs without).
#include <windows.h>

#include <string>

int wmain() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.rfind(L'\\'));
  const std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  HANDLE calls = CreateFileW((folder + L"\\calls.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(calls, line.data(), DWORD(line.size() * sizeof(wchar_t)), &n, nullptr);
  CloseHandle(calls);
  int stamped = 0, plain = 0;
  HANDLE behaviour = CreateFileW((folder + L"\\behaviour.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (behaviour != INVALID_HANDLE_VALUE) {
    char text[64] = {};
    ReadFile(behaviour, text, sizeof text - 1, &n, nullptr);
    CloseHandle(behaviour);
    sscanf(text, "%d %d", &stamped, &plain);
  }
  const bool withStamp = wcsstr(GetCommandLineW(), L" /tr ") != nullptr;
  const int code = withStamp ? stamped : plain;
  const char* out = code == 0 ? "Successfully signed\r\n" : "SignTool Error: sunucuya ulasilamadi\r\n";
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, DWORD(strlen(out)), &n, nullptr);
  return code;
}
