// svupdate's host entry: the engine posts into a message queue that this loop reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/clock_os.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/notify_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/log.h"
#include "tests/engine/update/svupdate.h"

namespace svupdate {

namespace {

// Whether any descriptor of this process has the file open: the host's sharing modes never
// refuse an open, so the attempt's own handle is looked for directly.
bool OpenHere(const std::string& path) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(fd.path(), linkError) == target) return true;
  }
  return false;
}

}  // namespace

// A state write must find the attempt's ".part" closed (the worker storing the last segment
// opens it for decoding at once) and must not hold the engine lock (the window polls behind it).
void ProbeStateWrite(const std::wstring& partPath, sv::UpdateEngine* engine) {
  const std::string path = sv::os::systemPath(partPath);
  uint32_t openError = 0;
  if (access(path.c_str(), F_OK) != 0) {
    openError = 2;  // ERROR_FILE_NOT_FOUND
  } else if (OpenHere(path)) {
    openError = 32;  // ERROR_SHARING_VIOLATION, as the still open write handle gives on Windows
  }
  struct Reader {
    std::mutex lock;
    std::condition_variable done;
    bool read = false;
  };
  auto reader = std::make_shared<Reader>();
  // Not waited for past that: a lock held by this very thread would never come free.
  std::thread([reader, engine] {
    engine->GetStatus();
    std::lock_guard<std::mutex> guard(reader->lock);
    reader->read = true;
    reader->done.notify_all();
  }).detach();
  bool lockFree = false;
  {
    std::unique_lock<std::mutex> guard(reader->lock);
    lockFree = reader->done.wait_for(guard, std::chrono::milliseconds(2000), [&] { return reader->read; });
  }
  Print(L"PROBE state part-open-error=" + std::to_wstring(openError) +
        (lockFree ? L" lock=free" : L" lock=held"));
}

void ChangeFile(const std::wstring& fullPath) {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string path = sv::os::systemPath(fullPath);
  struct stat st;
  const int fd = open(path.c_str(), O_RDWR);
  if (fd < 0 || fstat(fd, &st) != 0) {
    Print(L"CHANGED failed " + std::to_wstring(errno));
    if (fd >= 0) close(fd);
    return;
  }
  const char bytes[] = "changed during the check";
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 86400;
  const bool ok = write(fd, bytes, sizeof bytes - 1) == ssize_t(sizeof bytes - 1) &&
                  futimens(fd, times) == 0;
  close(fd);
  Print(ok ? L"CHANGED " + fullPath : L"CHANGED failed");
}

// Host file systems keep no 8.3 names.
std::wstring ShortPath(const std::wstring&) { return {}; }

// The stand-in describes Windows processes; the host has none to describe.
bool SetHolders(sv::UpdateEngine&, const std::wstring&) { return false; }

}  // namespace svupdate

int main(int argc, char** argv) {
  using namespace svupdate;
  Options o;
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(sv::toWide(argv[i]));
  if (IsSwapHelperCall(args)) return SwapHelperMain(args);
  if (!ParseOptions(args, o)) {
    fputs(kUsage, stderr);
    return 2;
  }
  // The engine works with full paths, as the patcher's own folder always is.
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(sv::os::systemPath(o.folder), error);
  if (error) {
    fputs("bad folder\n", stderr);
    return 2;
  }
  std::string folder = full.lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  o.folder = sv::toWide(folder);

  sv::createDirectories(sv::joinPath(o.folder, sv::kWorkFolderName));
  sv::OpenLog(sv::joinPath(sv::joinPath(o.folder, sv::kWorkFolderName), L"Sarvik.log"));

  static sv::os::MessageQueue window;
  static Driver driver(o);
  if (!driver.Start(&window)) return 2;
  uint32_t shutdownAt = 0;
  bool shuttingDown = false;
  uint32_t lastPoll = sv::os::tickCount();
  while (!driver.finished()) {
    const uint32_t now = sv::os::tickCount();
    if (shuttingDown) {
      if (now - shutdownAt >= kAfterShutdownMs) {
        driver.ShutdownWaitEnded();
        break;
      }
    } else if (now - lastPoll >= kPollMs) {
      lastPoll = now;
      if (driver.Poll()) {
        shuttingDown = true;
        shutdownAt = sv::os::tickCount();
      }
    }
    sv::os::PostedMessage message;
    if (window.take(message, kPollMs / 5)) driver.Handle(message.message, message.wParam);
  }
  driver.Close();
  sv::CloseLog();
  return driver.exitCode();
}
