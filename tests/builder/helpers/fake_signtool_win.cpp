// A stand-in for the SDK's signtool.exe. It splits its command line as every program does
// (CommandLineToArgvW) and appends the arguments to calls.txt beside itself, each followed by
// U+001F, one call per line; when SARVIK_SIGN_PASSWORD reaches it through its environment, one
// more item "<env SARVIK_SIGN_PASSWORD>" ends the call. It prints a fixed text and exits with the
// code behaviour.txt gives (first number: runs with a time stamp server, second: runs without);
// a code of -1 prints and then never ends.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

int wmain() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.rfind(L'\\'));
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring line;
  bool withStamp = false;
  for (int i = 1; i < argc; ++i) {
    line += std::wstring(argv[i]) + L"\x1F";
    withStamp = withStamp || wcscmp(argv[i], L"/tr") == 0;
  }
  if (GetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr, 0) > 0) line += L"<env SARVIK_SIGN_PASSWORD>\x1F";
  line += L"\n";
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
  const int code = withStamp ? stamped : plain;
  const char* out = code == 0 ? "Successfully signed\r\n" : "SignTool Error: sunucuya ulasilamadi\r\n";
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, DWORD(strlen(out)), &n, nullptr);
  if (code == -1) Sleep(INFINITE);
  return code;
}
