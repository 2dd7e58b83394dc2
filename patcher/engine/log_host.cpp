#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "common/file_os.h"
#include "common/text.h"
#include "patcher/engine/log.h"
#include "patcher/engine/log_format.h"

namespace sv {

namespace {

std::mutex gLock;
std::FILE* gFile = nullptr;
std::atomic<bool> gOpen{false};  // lets Log skip the formatting while no log is open
uint32_t gBytesWritten = 0;

LogClock Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return {unsigned(local.tm_hour), unsigned(local.tm_min), unsigned(local.tm_sec), unsigned(ms)};
}

}  // namespace

void OpenLog(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(gLock);
  if (gFile) std::fclose(gFile);
  std::FILE* file = std::fopen(os::systemPath(path).c_str(), "wb");
  gFile = file;
  gOpen = file != nullptr;
  gBytesWritten = 0;
}

void CloseLog() {
  std::lock_guard<std::mutex> hold(gLock);
  if (gFile) std::fclose(gFile);
  gFile = nullptr;
  gOpen = false;
}

void Log(const wchar_t* format, ...) {
  if (!gOpen) return;
  int savedErrno = errno;
  va_list args;
  va_start(args, format);
  std::wstring message = FormatLogMessage(format, args);
  va_end(args);
  std::string line = FormatLogLine(Now(), message);

  std::lock_guard<std::mutex> hold(gLock);
  if (gFile && gBytesWritten < kLogCapBytes) {
    size_t written = std::fwrite(line.data(), 1, line.size(), gFile);
    std::fflush(gFile);  // readers (tests, a tail) see every line at once, as with WriteFile
    gBytesWritten += uint32_t(written);
  }
  errno = savedErrno;
}

}  // namespace sv
