// close_target: a stand-in for a game program that the patcher may have to close.
//
//   close_target.exe window     a visible window that ends the program (exit code 7) on WM_CLOSE
//   close_target.exe stubborn   a visible window that ignores WM_CLOSE
//   close_target.exe owned      only an owned (dialog-like) window, which must not be asked
//   close_target.exe plain      no window at all
//   close_target.exe record     writes "started.txt" beside itself (command line, current
//   close_target.exe --sv-updated  folder) and exits 0: a new patcher that shows it was started
//   close_target.exe --sv-swap ...  the patcher's swap helper role (sv::RunSwapHelper), its lines
//                                   appended to "swap.txt" in the current folder (the game folder)
// Every mode but record runs for at most 60 s.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/path.h"
#include "patcher/engine/self_update.h"

namespace {

bool gIgnoreClose = false;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    if (gIgnoreClose) return 0;
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(7);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::string Utf8(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string s(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

int Record() {
  wchar_t self[MAX_PATH * 4], cwd[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
  GetCurrentDirectoryW(DWORD(std::size(cwd)), cwd);
  std::wstring out = self;
  out = out.substr(0, out.find_last_of(L"\\/") + 1) + L"started.txt";
  HANDLE h = CreateFileW(out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  const std::string text = Utf8(std::wstring(GetCommandLineW()) + L"\n" + cwd + L"\n");
  DWORD written = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(h);
  return 0;
}

int SwapHelper(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  const sv::SwapRequest request = sv::ParseSwapArguments(args);
  if (!request.valid) return 2;
  sv::SwapSteps steps = sv::SystemSwapSteps(sv::parentPath(request.program));
  steps.log = [](const std::wstring& line) {
    HANDLE h = CreateFileW(L"swap.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const std::string text = Utf8(line + L"\n");
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);
  };
  return sv::RunSwapHelper(request, steps);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == sv::kSwapSwitch) return SwapHelper(argc, argv);
  if (mode == L"record" || mode == L"--sv-updated") return Record();
  if (mode == L"plain") {
    Sleep(60000);
    return 0;
  }
  if (mode != L"window" && mode != L"stubborn" && mode != L"owned") return 2;
  gIgnoreClose = mode == L"stubborn";
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SvCloseTarget";
  RegisterClassW(&wc);
  HWND owner = nullptr;
  if (mode == L"owned") {
    // A hidden owner and a visible owned window: neither is one to ask.
    owner = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                            nullptr, nullptr, wc.hInstance, nullptr);
  }
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"close_target", WS_OVERLAPPEDWINDOW, 10,
                                10, 200, 100, owner, nullptr, wc.hInstance, nullptr);
  if (!window) return 3;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  SetTimer(nullptr, 0, 60000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && !msg.hwnd) return 0;
    DispatchMessageW(&msg);
  }
  return int(msg.wParam);
}
