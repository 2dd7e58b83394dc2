// svupdate: one real update run of the engine from a console, without the patcher's window.
//
//   svupdate.exe --folder DIR --config URL [--connections N] [--segment-mb N]
//                [--refuse-notice] [--inuse retry|close|stop] [--shutdown-after-ms N]
//                [--check-buffer-mb N] [--program PATH [--short-program]] [--drop-skin]
//                [--probe-state-writes] [--change-during-check NAME] [--holders LIST]
//
// A hidden message window receives the engine's messages: it answers the notice (accepted unless
// told otherwise) and the in-use question, and prints every status change as one UTF-8 line.
// --shutdown-after-ms shuts the engine down that long after the download phase began and reports
// how long Shutdown took. --check-buffer-mb sets the check workers' read buffer (one too large
// to allocate shows what a failed allocation does); --program names the running patcher, by its
// 8.3 name with --short-program; --drop-skin empties the skin right after the engine is made.
// --probe-state-writes looks, each time a resume state is about to be written, whether the
// ".part" can be opened as the decoder opens it (no write handle of that attempt left) and
// whether the engine lock is free (the status can be read); it prints a PROBE line for each.
// --change-during-check rewrites the file of that name (same size, another time stamp) right
// after the check has read its CRC, as a game writing it during the check would.
// --holders stands in for the system's holder lookup, which finds nobody under Wine: a comma-
// separated list of "pid:N" (that real process, described by the system) and program names (a
// process of that name that does not exist), judged by the patcher's own rules.
// Exit code: 0 success, 1 failure, 2 bad arguments.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace {

using sv::StatusSnapshot;
using sv::UpdateEngine;

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 50;

struct Options {
  std::wstring folder, config;
  int connections = 4;
  int segmentMb = 4;
  bool refuseNotice = false;
  int inUseAnswer = sv::kInUseRetry;
  int shutdownAfterMs = -1;
  int checkBufferMb = 0;
  std::wstring program;
  bool shortProgram = false;
  bool dropSkin = false;
  bool probeStateWrites = false;
  std::wstring changeDuringCheck;
  std::wstring holders;
};

struct App {
  Options options;
  UpdateEngine* engine = nullptr;
  StatusSnapshot last;
  bool printedAny = false;
  int exitCode = 1;
  DWORD downloadStart = 0;
  bool shutDown = false;
  bool finished = false;
};

App gApp;

void Print(const std::wstring& line) {
  const std::string bytes = sv::toUtf8(line) + "\n";
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);
}

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\n' || c == L'\r') c = L'|';
  }
  return text;
}

void PrintStatus(const StatusSnapshot& s) {
  Print(L"STATUS " + std::to_wstring(s.phase) + L" | " + OneLine(s.statusText) + L" | " +
        OneLine(s.currentText) + L" | " + s.amountText + L" | " + s.speedText);
}

void PollStatus() {
  const StatusSnapshot s = gApp.engine->GetStatus();
  if (!gApp.printedAny || s.phase != gApp.last.phase || s.statusText != gApp.last.statusText ||
      s.currentText != gApp.last.currentText) {
    PrintStatus(s);
    gApp.printedAny = true;
  }
  if (s.phase == sv::kPhaseDownloading && gApp.downloadStart == 0) {
    gApp.downloadStart = GetTickCount();
  }
  gApp.last = s;
}

void Finish(HWND window, int code) {
  KillTimer(window, kPollTimer);
  gApp.exitCode = code;
  gApp.finished = true;
  PostQuitMessage(code);
}

void ShutdownNow(HWND window) {
  gApp.shutDown = true;
  const DWORD before = GetTickCount();
  const bool destroyed = gApp.engine->Shutdown();
  const DWORD took = GetTickCount() - before;
  gApp.engine = nullptr;
  Print(L"SHUTDOWN " + std::to_wstring(took) + L" ms " + (destroyed ? L"ended" : L"running"));
  // Whatever is still queued must not be a WM_SV_DONE: wait a little and look.
  KillTimer(window, kPollTimer);
  SetTimer(window, 2, 700, nullptr);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == 2) {
        KillTimer(window, 2);
        Print(L"RESULT shutdown");
        Finish(window, 0);
        return 0;
      }
      if (!gApp.engine) return 0;
      PollStatus();
      if (gApp.options.shutdownAfterMs >= 0 && gApp.downloadStart != 0 &&
          GetTickCount() - gApp.downloadStart >= DWORD(gApp.options.shutdownAfterMs)) {
        ShutdownNow(window);
      }
      return 0;
    case sv::WM_SV_NOTICE:
      Print(gApp.options.refuseNotice ? L"NOTICE refused" : L"NOTICE accepted");
      gApp.engine->AnswerNotice(!gApp.options.refuseNotice);
      return 0;
    case sv::WM_SV_INUSE_SHOW: {
      const sv::InUseList list = gApp.engine->GetInUseList();
      std::wstring names;
      for (const std::wstring& n : list.names) names += (names.empty() ? L"" : L", ") + n;
      Print(L"INUSE " + names + L" | " + std::to_wstring(list.processes.size()) +
            L" programs | " + OneLine(list.message));
      gApp.engine->AnswerInUse(gApp.options.inUseAnswer);
      return 0;
    }
    case sv::WM_SV_INUSE_CLOSE:
      Print(L"INUSE closed");
      return 0;
    case sv::WM_SV_SELF_UPDATED:
      Print(L"SELF_UPDATED");
      return 0;
    case sv::WM_SV_NEED_ADMIN:
      Print(L"NEED_ADMIN");
      return 0;
    case sv::WM_SV_DONE: {
      if (gApp.shutDown) {
        Print(L"DONE after shutdown");
        Finish(window, 1);
        return 0;
      }
      const StatusSnapshot s = gApp.engine->GetStatus();
      PrintStatus(s);
      Print(L"PHASE " + std::to_wstring(s.phase));
      Print(L"TEXT " + OneLine(s.statusText));
      Print(L"CURRENT " + OneLine(s.currentText));
      Print(L"ERROR " + OneLine(s.errorText));
      Print(wParam ? L"RESULT ok" : L"RESULT failed");
      Finish(window, wParam ? 0 : 1);
      return 0;
    }
    case WM_CLOSE:
      // The engine asks the window to close when the notice is refused.
      Print(L"CLOSE");
      Finish(window, 1);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

DWORD WINAPI ReadStatus(void*) {
  gApp.engine->GetStatus();
  return 0;
}

// A state write must find the attempt's ".part" closed (the worker storing the last segment
// opens it for decoding at once) and must not hold the engine lock (the window polls behind it).
void ProbeStateWrite(const std::wstring& partPath) {
  HANDLE part = CreateFileW(partPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  const DWORD openError = part == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (part != INVALID_HANDLE_VALUE) CloseHandle(part);
  HANDLE reader = CreateThread(nullptr, 0, ReadStatus, nullptr, 0, nullptr);
  // Not waited for past that: a lock held by this very thread would never come free.
  const bool lockFree = reader && WaitForSingleObject(reader, 2000) == WAIT_OBJECT_0;
  if (reader) CloseHandle(reader);
  Print(L"PROBE state part-open-error=" + std::to_wstring(openError) +
        (lockFree ? L" lock=free" : L" lock=held"));
}

// Rewritten once, in place: same size, other bytes, a time stamp a day later.
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

void TestHook(const char* point, const std::wstring& path, void*) {
  const Options& o = gApp.options;
  if (o.probeStateWrites && std::string(point) == "state") ProbeStateWrite(path);
  if (!o.changeDuringCheck.empty() && std::string(point) == "checked" &&
      path.size() > o.changeDuringCheck.size() &&
      sv::equalsNoCase(path.substr(path.size() - o.changeDuringCheck.size()),
                       o.changeDuringCheck) &&
      path[path.size() - o.changeDuringCheck.size() - 1] == L'\\') {
    ChangeFile(path);
  }
}

bool ParseInt(const wchar_t* text, int& out) {
  wchar_t* end = nullptr;
  const long value = wcstol(text, &end, 10);
  if (!*text || *end) return false;
  out = int(value);
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == L"--folder" && hasValue) {
      o.folder = argv[++i];
    } else if (a == L"--config" && hasValue) {
      o.config = argv[++i];
    } else if (a == L"--connections" && hasValue) {
      if (!ParseInt(argv[++i], o.connections)) return false;
    } else if (a == L"--segment-mb" && hasValue) {
      if (!ParseInt(argv[++i], o.segmentMb) || o.segmentMb < 1 || o.segmentMb > 64) return false;
    } else if (a == L"--refuse-notice") {
      o.refuseNotice = true;
    } else if (a == L"--inuse" && hasValue) {
      const std::wstring v = argv[++i];
      if (v == L"retry") {
        o.inUseAnswer = sv::kInUseRetry;
      } else if (v == L"close") {
        o.inUseAnswer = sv::kInUseClose;
      } else if (v == L"stop") {
        o.inUseAnswer = sv::kInUseStop;
      } else {
        return false;
      }
    } else if (a == L"--check-buffer-mb" && hasValue) {
      if (!ParseInt(argv[++i], o.checkBufferMb) || o.checkBufferMb < 1) return false;
    } else if (a == L"--program" && hasValue) {
      o.program = argv[++i];
    } else if (a == L"--short-program") {
      o.shortProgram = true;
    } else if (a == L"--holders" && hasValue) {
      o.holders = argv[++i];
    } else if (a == L"--drop-skin") {
      o.dropSkin = true;
    } else if (a == L"--probe-state-writes") {
      o.probeStateWrites = true;
    } else if (a == L"--change-during-check" && hasValue) {
      o.changeDuringCheck = argv[++i];
    } else if (a == L"--shutdown-after-ms" && hasValue) {
      if (!ParseInt(argv[++i], o.shutdownAfterMs)) return false;
    } else {
      return false;
    }
  }
  return !o.folder.empty() && !o.config.empty();
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || !ParseOptions(argc, argv, gApp.options)) {
    fputs("usage: svupdate.exe --folder DIR --config URL [--connections N] [--segment-mb N] "
          "[--refuse-notice] [--inuse retry|close|stop] [--shutdown-after-ms N]\n",
          stderr);
    return 2;
  }
  LocalFree(argv);
  Options& o = gApp.options;
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

  sv::SkinDefinition skin;
  skin.remoteConfigPath = o.config;
  skin.settings.connections = o.connections;
  skin.settings.segmentMb = o.segmentMb;

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

  gApp.engine = UpdateEngine::Create(skin, o.folder, window, false);
  if (o.checkBufferMb > 0) gApp.engine->SetCheckBufferSize(uint32_t(o.checkBufferMb) << 20);
  if (o.probeStateWrites || !o.changeDuringCheck.empty()) {
    gApp.engine->SetTestHook(TestHook, nullptr);
  }
  if (!o.program.empty()) {
    std::wstring program = o.program;
    if (o.shortProgram) {
      wchar_t shortPath[MAX_PATH * 4];
      const DWORD got = GetShortPathNameW(program.c_str(), shortPath, DWORD(std::size(shortPath)));
      if (got == 0 || got >= std::size(shortPath)) {
        fputs("no short path\n", stderr);
        return 2;
      }
      program = shortPath;
    }
    Print(L"PROGRAM " + program);
    gApp.engine->SetProgramPath(program);
  }
  if (!o.holders.empty()) {
    std::vector<std::wstring> items;
    for (size_t pos = 0; pos <= o.holders.size();) {
      const size_t comma = std::min(o.holders.find(L',', pos), o.holders.size());
      items.push_back(o.holders.substr(pos, comma - pos));
      pos = comma + 1;
    }
    gApp.engine->SetHolderFinder([items](const std::vector<std::wstring>&) {
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
          facts.sessionKnown = true;
          facts.session = session;
          found.push_back(sv::DescribeLockingProcess(fakePid += 4, nullptr, facts, true, session));
        }
      }
      return found;
    });
  }
  if (o.dropSkin) {
    // The skin is emptied once the engine exists, as the window's goes while a run outlives
    // Shutdown: the run must still have its texts and addresses.
    skin.locale.entries.clear();
    skin.remoteConfigPath.clear();
  }
  gApp.engine->Start();
  SetTimer(window, kPollTimer, kPollMs, nullptr);
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) DispatchMessageW(&msg);
  if (got < 0) fprintf(stderr, "GetMessageW failed: %lu\n", GetLastError());
  if (!gApp.finished) fprintf(stderr, "message loop ended without a result\n");
  if (gApp.engine) gApp.engine->Shutdown();
  sv::CloseLog();
  return gApp.exitCode;
}
