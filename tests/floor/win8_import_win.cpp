// A program that deliberately imports a function documented only for Windows 8 and later, so that
// the import check is seen to refuse what the shipped programs must never contain. It is built,
// never run.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#include <windows.h>

int main() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return int(now.dwLowDateTime & 1);
}
