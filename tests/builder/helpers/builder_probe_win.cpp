// Looks at and drives the builder window for the window tests.
//
//   builder_probe wait <timeout ms>       waits for the SV_BuilderMain window; exit 0 when found
//   builder_probe point <command>         prints the screen point "x y" of a drawn button
//   builder_probe field <id>              prints the text of the field with that control id
//   builder_probe fieldpoint <id>         prints the screen point "x y" of the field's centre
//   builder_probe clipboard               prints the clipboard's text
//   builder_probe close <timeout ms>      asks the window to close and waits until it is gone
//   builder_probe closetitle <title> <ms> asks the visible window with this title to close
//   builder_probe count <title>           prints how many visible windows have this title
// Texts are printed as UTF-8.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kCommandPoint = WM_APP + 30;

void PrintUtf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), bytes.data(), n, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

HWND Builder() { return FindWindowW(L"SV_BuilderMain", nullptr); }

HWND WaitBuilder(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND hwnd = Builder();
    if (hwnd && IsWindowVisible(hwnd)) return hwnd;
    if (GetTickCount() - start > ms) return nullptr;
    Sleep(100);
  }
}

struct TitleSearch {
  const wchar_t* title;
  int count = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<TitleSearch*>(param);
  wchar_t text[512] = {};
  GetWindowTextW(hwnd, text, 512);
  if (IsWindowVisible(hwnd) && wcscmp(text, search->title) == 0) {
    ++search->count;
    search->found = hwnd;
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring verb = argv[1];
  if (verb == L"wait" && argc >= 3) return WaitBuilder(DWORD(_wtoi(argv[2]))) ? 0 : 1;
  if (verb == L"count" && argc >= 3) {
    TitleSearch search{argv[2]};
    EnumWindows(MatchTitle, LPARAM(&search));
    std::printf("%d\n", search.count);
    return 0;
  }
  if (verb == L"closetitle" && argc >= 4) {
    TitleSearch search{argv[2]};
    EnumWindows(MatchTitle, LPARAM(&search));
    if (!search.found) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(search.found, &pid);
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    const bool gone = !process || WaitForSingleObject(process, DWORD(_wtoi(argv[3]))) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    return gone ? 0 : 1;
  }
  if (verb == L"clipboard") {
    if (!OpenClipboard(nullptr)) return 1;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
      if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
        PrintUtf8(text);
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return data ? 0 : 1;
  }
  HWND hwnd = WaitBuilder(5000);
  if (!hwnd) return 1;
  if (verb == L"point" && argc >= 3) {
    const LRESULT r = SendMessageW(hwnd, kCommandPoint, WPARAM(_wtoi(argv[2])), 0);
    if (r == -1) return 1;
    POINT p{short(LOWORD(r)), short(HIWORD(r))};
    ClientToScreen(hwnd, &p);
    std::printf("%ld %ld\n", p.x, p.y);
    return 0;
  }
  if ((verb == L"field" || verb == L"fieldpoint") && argc >= 3) {
    HWND edit = GetDlgItem(hwnd, _wtoi(argv[2]));
    if (!edit) return 1;
    if (verb == L"field") {
      wchar_t text[4096] = {};
      SendMessageW(edit, WM_GETTEXT, 4096, LPARAM(text));
      PrintUtf8(text);
      return 0;
    }
    RECT r;
    GetWindowRect(edit, &r);
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return IsWindowVisible(edit) ? 0 : 1;
  }
  if (verb == L"close" && argc >= 3) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    const bool gone = !process || WaitForSingleObject(process, DWORD(_wtoi(argv[2]))) == WAIT_OBJECT_0;
    if (process) CloseHandle(process);
    return gone ? 0 : 1;
  }
  return 2;
}
