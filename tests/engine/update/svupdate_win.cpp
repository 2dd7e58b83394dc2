// svupdate's Windows entry: a hidden message window receives the engine's messages.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "common/file.h"
#include "common/path.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/log.h"
#include "tests/engine/update/svupdate.h"

namespace svupdate {

namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kShutdownTimer = 2;

Driver* gDriver = nullptr;

void Finish(HWND window) {
  KillTimer(window, kPollTimer);
  PostQuitMessage(gDriver->exitCode());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    if (wParam == kShutdownTimer) {
      KillTimer(window, kShutdownTimer);
      gDriver->ShutdownWaitEnded();
      Finish(window);
    } else if (gDriver->Poll()) {
      // Whatever is still queued must not be a WM_SV_DONE: wait a little and look.
      KillTimer(window, kPollTimer);
      SetTimer(window, kShutdownTimer, kAfterShutdownMs, nullptr);
    }
    return 0;
  }
  if (message == WM_CLOSE || message == sv::WM_SV_PRELOADED ||
      (message >= sv::WM_SV_NOTICE && message <= sv::WM_SV_INUSE_CLOSE)) {
    if (gDriver->Handle(message, wParam)) Finish(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI ReadStatus(void* engine) {
  static_cast<sv::UpdateEngine*>(engine)->GetStatus();
  return 0;
}

}  // namespace

// A state write must find the attempt's ".part" closed (the worker storing the last segment
// opens it for decoding at once) and must not hold the engine lock (the window polls behind it).
void ProbeStateWrite(const std::wstring& partPath, sv::UpdateEngine* engine) {
  HANDLE part = CreateFileW(partPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  const DWORD openError = part == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (part != INVALID_HANDLE_VALUE) CloseHandle(part);
  HANDLE reader = CreateThread(nullptr, 0, ReadStatus, engine, 0, nullptr);
  // Not waited for past that: a lock held by this very thread would never come free.
  const bool lockFree = reader && WaitForSingleObject(reader, 2000) == WAIT_OBJECT_0;
  if (reader) CloseHandle(reader);
  Print(L"PROBE state part-open-error=" + std::to_wstring(openError) +
        (lockFree ? L" lock=free" : L" lock=held"));
}

void ChangeFile(const std::wstring& fullPath) {
  static bool done = false;
  if (done) return;
  done = true;
  HANDLE file = CreateFileW(fullPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Print(L"CHANGED failed " + std::to_wstring(GetLastError()));
    return;
  }
  FILETIME written;
  GetFileTime(file, nullptr, nullptr, &written);
  ULARGE_INTEGER t;
  t.LowPart = written.dwLowDateTime;
  t.HighPart = written.dwHighDateTime;
  t.QuadPart += 864000000000ULL;
  written.dwLowDateTime = t.LowPart;
  written.dwHighDateTime = t.HighPart;
  DWORD done1 = 0;
  const char bytes[] = "changed during the check";
  const bool ok = WriteFile(file, bytes, DWORD(sizeof bytes - 1), &done1, nullptr) &&
                  SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  Print(ok ? L"CHANGED " + fullPath : L"CHANGED failed");
}

std::wstring ShortPath(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH * 4];
  const DWORD got = GetShortPathNameW(path.c_str(), shortPath, DWORD(std::size(shortPath)));
  if (got == 0 || got >= std::size(shortPath)) return {};
  return shortPath;
}

bool SetHolders(sv::UpdateEngine& engine, const std::wstring& list) {
  std::vector<std::wstring> items;
  for (size_t pos = 0; pos <= list.size();) {
    const size_t comma = std::min(list.find(L',', pos), list.size());
    items.push_back(list.substr(pos, comma - pos));
    pos = comma + 1;
  }
  engine.SetHolderFinder([items](const std::vector<std::wstring>&) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::vector<sv::LockingProcess> found;
    uint32_t fakePid = 90000;
    for (const std::wstring& item : items) {
      if (item.rfind(L"pid:", 0) == 0) {
        const uint32_t pid = uint32_t(wcstoul(item.c_str() + 4, nullptr, 10));
        found.push_back(sv::DescribeLockingProcess(pid, nullptr, sv::DescribeSystemProcess(pid),
                                                   true, session));
      } else {
        sv::ProcessFacts facts;
        facts.opened = true;
        facts.imagePath = L"C:\\windows\\system32\\" + item;
        facts.creationTime = 133000000000000000ull + fakePid;  // known, as a real process's is
        facts.sessionKnown = true;
        facts.session = session;
        found.push_back(sv::DescribeLockingProcess(fakePid += 4, nullptr, facts, true, session));
      }
    }
    return found;
  });
  return true;
}

}  // namespace svupdate

int main() {
  using namespace svupdate;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Options o;
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(argv[i]);
  if (IsSwapHelperCall(args)) return SwapHelperMain(args);
  if (!argv || !ParseOptions(args, o)) {
    fputs(kUsage, stderr);
    return 2;
  }
  LocalFree(argv);
  // The engine works with full paths, as the patcher's own folder always is.
  wchar_t full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameW(o.folder.c_str(), DWORD(std::size(full)), full, nullptr);
  if (n == 0 || n >= std::size(full)) {
    fputs("bad folder\n", stderr);
    return 2;
  }
  o.folder = full;
  while (o.folder.size() > 3 && (o.folder.back() == L'\\' || o.folder.back() == L'/')) {
    o.folder.pop_back();
  }

  sv::createDirectories(sv::joinPath(o.folder, sv::kWorkFolderName));
  sv::OpenLog(sv::joinPath(sv::joinPath(o.folder, sv::kWorkFolderName), L"Sarvik.log"));

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SvUpdateConsole";
  if (!RegisterClassW(&wc)) {
    fprintf(stderr, "RegisterClassW failed: %lu\n", GetLastError());
    return 1;
  }
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  if (!window) {
    fprintf(stderr, "CreateWindowExW failed: %lu\n", GetLastError());
    return 1;
  }

  static Driver driver(o);
  gDriver = &driver;
  if (!driver.Start(window)) return 2;
  SetTimer(window, kPollTimer, kPollMs, nullptr);
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) DispatchMessageW(&msg);
  if (got < 0) fprintf(stderr, "GetMessageW failed: %lu\n", GetLastError());
  if (!driver.finished()) fprintf(stderr, "message loop ended without a result\n");
  driver.Close();
  sv::CloseLog();
  return driver.exitCode();
}
