// Looks at and drives the windows of a running patcher for the start-up tests.
//
//   window_probe box <caption> <timeout ms> [close]
//       waits for a message box with that caption, prints its text (UTF-8) and, with "close",
//       presses its OK button (Cancel when it has none); exit 0 when found, 1 on timeout
//   window_probe main <timeout ms> [close|minimize]
//       waits for the patcher's main window, prints "<width>x<height> <iconic|normal> <title>",
//       then asks it to close or minimises it; exit 0 when found, 1 on timeout
//   window_probe closeall <timeout ms>
//       waits for the patcher's main window, notes every other visible top-level window of its
//       thread (web views of a layered skin, an open dialog), asks the main window to close and,
//       the moment it is no longer visible, prints "before N" and "left M" (how many of those are
//       still visible then) and one "window <class> <title>" line per such window; exit 0
//   window_probe hold <path> <ms>
//       opens the file without sharing, prints "held", keeps it open for <ms> and exits 0
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void PrintUtf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), n, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(hwnd, buffer, 4096);
  return buffer;
}

struct BoxText {
  std::wstring text;
};

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  std::wstring text = WindowText(child);
  // The message is the longest static text; the icon is a static without text.
  auto* box = reinterpret_cast<BoxText*>(param);
  if (_wcsicmp(cls, L"Static") == 0 && text.size() > box->text.size()) box->text = text;
  return TRUE;
}

int Box(const wchar_t* caption, DWORD timeoutMs, bool close) {
  DWORD start = GetTickCount();
  HWND box = nullptr;
  while (!(box = FindWindowW(L"#32770", caption))) {
    if (GetTickCount() - start > timeoutMs) return 1;
    Sleep(50);
  }
  BoxText found;
  EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&found));
  PrintUtf8(found.text);
  // A retry/cancel box has no OK button: its cancel button closes it.
  if (close) PostMessageW(box, WM_COMMAND, IsWindowVisible(GetDlgItem(box, IDOK)) ? IDOK : IDCANCEL, 0);
  return 0;
}

int Main(DWORD timeoutMs, const wchar_t* action) {
  DWORD start = GetTickCount();
  HWND window = nullptr;
  while (!(window = FindWindowW(L"SarvikWnd", nullptr)) || !IsWindowVisible(window)) {
    if (GetTickCount() - start > timeoutMs) return 1;
    Sleep(50);
  }
  RECT rect{};
  GetWindowRect(window, &rect);
  std::printf("%ldx%ld %s ", rect.right - rect.left, rect.bottom - rect.top,
              IsIconic(window) ? "iconic" : "normal");
  PrintUtf8(WindowText(window) + L"\n");
  if (std::wcscmp(action, L"close") == 0) PostMessageW(window, WM_CLOSE, 0, 0);
  if (std::wcscmp(action, L"minimize") == 0) ShowWindow(window, SW_MINIMIZE);
  return 0;
}

struct ThreadWindows {
  HWND main;
  std::vector<HWND> visible;
};

BOOL CALLBACK NoteVisible(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<ThreadWindows*>(param);
  if (window != found->main && IsWindowVisible(window)) found->visible.push_back(window);
  return TRUE;
}

int CloseAll(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  HWND window = nullptr;
  while (!(window = FindWindowW(L"SarvikWnd", nullptr)) || !IsWindowVisible(window)) {
    if (GetTickCount() - start > timeoutMs) return 1;
    Sleep(50);
  }
  ThreadWindows found{window, {}};
  EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), NoteVisible, reinterpret_cast<LPARAM>(&found));
  PostMessageW(window, WM_CLOSE, 0, 0);
  start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start > timeoutMs) return 1;
  }
  // Straight away: whatever is still visible now stays on the screen while the patcher stops.
  std::vector<HWND> left;
  for (HWND w : found.visible) {
    if (IsWindow(w) && IsWindowVisible(w)) left.push_back(w);
  }
  std::printf("before %u\nleft %u\n", unsigned(found.visible.size()), unsigned(left.size()));
  for (HWND w : left) {
    wchar_t cls[128] = {};
    GetClassNameW(w, cls, 128);
    PrintUtf8(L"window " + std::wstring(cls) + L" " + WindowText(w) + L"\n");
  }
  std::fflush(stdout);
  return 0;
}

int Hold(const wchar_t* path, DWORD ms) {
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(ms);
  CloseHandle(file);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // the box text goes out byte for byte
  if (argc >= 4 && std::wcscmp(argv[1], L"box") == 0) {
    return Box(argv[2], DWORD(_wtoi(argv[3])), argc >= 5 && std::wcscmp(argv[4], L"close") == 0);
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"main") == 0) {
    return Main(DWORD(_wtoi(argv[2])), argc >= 4 ? argv[3] : L"");
  }
  if (argc >= 4 && std::wcscmp(argv[1], L"hold") == 0) return Hold(argv[2], DWORD(_wtoi(argv[3])));
  if (argc >= 3 && std::wcscmp(argv[1], L"closeall") == 0) return CloseAll(DWORD(_wtoi(argv[2])));
  std::fprintf(stderr, "usage: window_probe box <caption> <ms> [close] | main <ms> [close|minimize] | hold <path> <ms> | closeall <ms>\n");
  return 2;
}
