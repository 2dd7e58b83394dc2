// dialog_host: a real update run whose notice and in-use questions go to the patcher's own
// dialogs, over a plain owner window, for the dialog tests under Wine.
//
//   dialog_host.exe FOLDER CONFIG_URL [minimized]
//
// "minimized" minimises the owner before the run starts (a patcher started minimised).
// Prints one UTF-8 line per event: "NOTICE", "INUSE <close button enabled 0|1>", then one
// "BUTTON <id> <x> <y> <enabled> <left> <top> <right> <bottom>" per button (screen coordinates of
// its centre, then of its rectangle) and "TITLEBAR <x> <y>" (the title bar's close button, where
// it would be), "STATIC <text with | for line breaks>", "OWNER enabled|disabled iconic|normal",
// "DIALOG <left> <top> <right> <bottom>" (the whole window), "CLIENT ..." (its client area) and "WORK <left> <top> <right>
// <bottom>" (the work area of the dialog's monitor), then "READY";
// "INUSE closed" when the engine closed the dialog itself; "CLOSE" when the engine asked the
// window to close (refused notice); "DONE ok|failed" at the end. Exit code: 0 after a successful
// run, 1 otherwise.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "common/text.h"
#include "patcher/app/inuse_dialog.h"
#include "patcher/app/notice_dialog.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "skin/skin_definition.h"

namespace {

struct Host {
  sv::SkinDefinition skin;
  sv::UpdateEngine* engine = nullptr;
  sv::NoticeDialog notice;
  sv::InUseDialog inUse;
  HFONT regular = nullptr, bold = nullptr;
  int exitCode = 1;
};

Host* gHost = nullptr;

void Print(const std::wstring& line) {
  const std::string bytes = sv::toUtf8(line) + "\n";
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);
}

std::wstring WindowText(HWND hwnd) {
  wchar_t text[8192] = {};
  GetWindowTextW(hwnd, text, 8192);
  return text;
}

std::wstring RectText(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
         std::to_wstring(r.bottom);
}

BOOL CALLBACK ReportChild(HWND child, LPARAM) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  RECT r{};
  GetWindowRect(child, &r);
  if (_wcsicmp(cls, L"Button") == 0) {
    Print(L"BUTTON " + std::to_wstring(GetDlgCtrlID(child)) + L" " + std::to_wstring((r.left + r.right) / 2) +
          L" " + std::to_wstring((r.top + r.bottom) / 2) + L" " + (IsWindowEnabled(child) ? L"1" : L"0") + L" " +
          RectText(r));
  } else if (_wcsicmp(cls, L"Static") == 0) {
    std::wstring text = WindowText(child);
    for (wchar_t& c : text) {
      if (c == L'\n') c = L'|';
      if (c == L'\r') c = L' ';
    }
    Print(L"STATIC " + text);
  }
  return TRUE;
}

void ReportDialog(HWND dialog) {
  EnumChildWindows(dialog, ReportChild, 0);
  RECT r{};
  GetWindowRect(dialog, &r);
  const int caption = GetSystemMetrics(SM_CYCAPTION), frame = GetSystemMetrics(SM_CXDLGFRAME);
  Print(L"TITLEBAR " + std::to_wstring(r.right - frame - caption / 2 - 2) + L" " +
        std::to_wstring(r.top + frame + caption / 2));
  HWND owner = GetWindow(dialog, GW_OWNER);
  Print(L"OWNER " + std::wstring(IsWindowEnabled(owner) ? L"enabled" : L"disabled") +
        (IsIconic(owner) ? L" iconic" : L" normal"));
  Print(L"DIALOG " + RectText(r));
  RECT client{};
  GetClientRect(dialog, &client);
  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  Print(L"CLIENT " + RectText(client));
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &info);
  Print(L"WORK " + RectText(info.rcWork));
}

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Host& h = *gHost;
  switch (message) {
    case sv::WM_SV_NOTICE:
      h.notice.Show(hwnd, h.engine, h.skin.locale, h.regular, {});
      Print(L"NOTICE");
      if (h.notice.IsOpen()) ReportDialog(static_cast<HWND>(h.notice.Hwnd()));
      Print(L"READY");
      return 0;
    case sv::WM_SV_INUSE_SHOW:
      h.inUse.Show(hwnd, h.engine, h.skin.locale, h.regular, h.bold, {});
      Print(L"INUSE");
      if (h.inUse.IsOpen()) ReportDialog(static_cast<HWND>(h.inUse.Hwnd()));
      Print(L"READY");
      return 0;
    case sv::WM_SV_INUSE_CLOSE:
      h.inUse.Close();
      Print(L"INUSE closed " + std::wstring(IsWindowEnabled(hwnd) ? L"owner-enabled" : L"owner-disabled"));
      return 0;
    case sv::WM_SV_DONE:
      Print(wParam ? L"DONE ok" : L"DONE failed");
      h.exitCode = wParam ? 0 : 1;
      DestroyWindow(hwnd);
      return 0;
    case WM_CLOSE:
      Print(L"CLOSE");
      h.notice.Destroy();
      h.inUse.Close();
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3 || argc > 4) {
    fputs("usage: dialog_host.exe FOLDER CONFIG_URL [minimized]\n", stderr);
    return 2;
  }
  sv::ScopedOle ole;  // the notice page lives in the single-threaded apartment
  Host host;
  gHost = &host;
  const std::wstring folder = argv[1];
  sv::createDirectories(sv::joinPath(folder, sv::kWorkFolderName));
  sv::OpenLog(sv::joinPath(sv::joinPath(folder, sv::kWorkFolderName), L"Sarvik.log"));
  host.skin.remoteConfigPath = argv[2];
  host.regular = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI");
  host.bold = CreateFontW(-16, 0, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI");

  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = CreateSolidBrush(RGB(38, 44, 58));
  wc.lpszClassName = L"DialogTestOwner";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(WS_EX_APPWINDOW, wc.lpszClassName, L"Draskel Online", WS_POPUP | WS_SYSMENU,
                               240, 200, 800, 600, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(owner, SW_SHOW);
  if (argc == 4 && std::wstring(argv[3]) == L"minimized") ShowWindow(owner, SW_MINIMIZE);

  host.engine = sv::UpdateEngine::Create(host.skin, folder, owner, false);
  host.engine->Start();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (host.notice.PreTranslate(&msg) || host.inUse.PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  host.engine->Shutdown();
  sv::CloseLog();
  return host.exitCode;
}
