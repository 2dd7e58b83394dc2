// holdfile: opens a file without any sharing and keeps it open for a while, as a running game
// holds its own files. Prints "HELD" once the file is open, then "PID <its process id>", then
// "START <its creation time as a FILETIME number>".
//
//   holdfile.exe PATH MILLISECONDS [read]   (read: others may still read it, not delete it)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include <shellapi.h>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3 || argc > 4) {
    fputs("usage: holdfile.exe PATH MILLISECONDS [read]\n", stderr);
    return 2;
  }
  HANDLE h = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE,
                         argc == 4 && wcscmp(argv[3], L"read") == 0 ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "open failed: %lu\n", GetLastError());
    return 1;
  }
  puts("HELD");
  printf("PID %lu\n", GetCurrentProcessId());
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  printf("START %llu\n",
         (unsigned long long)((uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime));
  fflush(stdout);
  Sleep(DWORD(wcstoul(argv[2], nullptr, 10)));
  CloseHandle(h);
  return 0;
}
