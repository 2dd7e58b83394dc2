#include <windows.h>

#include "common/path.h"
#include "patcher/app/main_window.h"
#include "patcher/app/resource_ids.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  return window->HandleMessage(hwnd, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kResIconGroup), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kResIconGroup), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kMainWindowClass;
  // A class left registered by an earlier window of this process is fine.
  return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Centred in the primary monitor's work area; a window larger than it starts at its corner.
POINT WindowPosition(int width, int height) {
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int workWidth = work.right - work.left, workHeight = work.bottom - work.top;
  if (width > workWidth || height > workHeight) return {work.left, work.top};
  return {work.left + (workWidth - width) / 2, work.top + (workHeight - height) / 2};
}

}  // namespace

MainWindow::MainWindow(const SkinDefinition& skin, std::wstring gameFolder, bool preview)
    : skin_(skin), gameFolder_(std::move(gameFolder)), preview_(preview) {}

MainWindow::~MainWindow() {
  if (hwnd_) DestroyWindow(static_cast<HWND>(hwnd_));
}

bool MainWindow::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterMainWindowClass(instance)) {
    Log(L"Pencere sinifi kaydedilemedi (%lu).", GetLastError());
    return false;
  }
  std::wstring title = skin_.settings.title.empty() ? fileStem(modulePath()) : skin_.settings.title;
  if (preview_) title += L" - " + skin_.locale.textOr("SV_PREVIEW", L"\u00D6nizleme");

  POINT pos = WindowPosition(skin_.width, skin_.height);
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, title.c_str(),
                              WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, pos.x, pos.y,
                              skin_.width, skin_.height, nullptr, nullptr, instance, this);
  if (!hwnd) {
    Log(L"Ana pencere olusturulamadi (%lu).", GetLastError());
    return false;
  }
  hwnd_ = hwnd;
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
  return true;
}

int MainWindow::Run() {
  MSG msg{};
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return int(msg.wParam);
    if (got < 0) {
      Log(L"GetMessage basarisiz (%lu).", GetLastError());
      return 1;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

intptr_t MainWindow::HandleMessage(void* window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd = static_cast<HWND>(window);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The last message: later ones must not reach this object, which may be gone by then.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace sv
