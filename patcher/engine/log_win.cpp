#include <windows.h>

#include <cstdarg>

#include "patcher/engine/log.h"
#include "patcher/engine/log_format.h"

namespace sv {

namespace {

// Created by the first OpenLog and never deleted: worker threads may still be inside Log while
// the process ends.
CRITICAL_SECTION gLock;
volatile LONG gLockReady = 0;
HANDLE gFile = INVALID_HANDLE_VALUE;
uint32_t gBytesWritten = 0;

}  // namespace

void OpenLog(const std::wstring& path) {
  if (!gLockReady) {
    InitializeCriticalSection(&gLock);
    InterlockedExchange(&gLockReady, 1);
  }
  EnterCriticalSection(&gLock);
  // A log still open would refuse the new one (no write sharing) when it is the same file.
  if (gFile != INVALID_HANDLE_VALUE) CloseHandle(gFile);
  gFile = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  gBytesWritten = 0;
  LeaveCriticalSection(&gLock);
}

void CloseLog() {
  if (!gLockReady) return;
  EnterCriticalSection(&gLock);
  if (gFile != INVALID_HANDLE_VALUE) CloseHandle(gFile);
  gFile = INVALID_HANDLE_VALUE;
  LeaveCriticalSection(&gLock);
}

void Log(const wchar_t* format, ...) {
  if (!gLockReady || gFile == INVALID_HANDLE_VALUE) return;
  // Callers often log a failure and then read GetLastError for the message box.
  DWORD savedError = GetLastError();

  va_list args;
  va_start(args, format);
  std::wstring message = FormatLogMessage(format, args);
  va_end(args);

  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string line = FormatLogLine({now.wHour, now.wMinute, now.wSecond, now.wMilliseconds}, message);

  // Only the cap test, the write and the count are locked, so a line is never split by another.
  EnterCriticalSection(&gLock);
  if (gFile != INVALID_HANDLE_VALUE && gBytesWritten < kLogCapBytes) {
    DWORD written = 0;
    if (WriteFile(gFile, line.data(), DWORD(line.size()), &written, nullptr)) gBytesWritten += written;
  }
  LeaveCriticalSection(&gLock);
  SetLastError(savedError);
}

}  // namespace sv
