#pragma once
// The patcher's own window classes: registered once per process, each window tied to the object
// that handles its messages.
#include <windows.h>

namespace sv {

// Registers the class unless this process did already (arrow cursor, the given background).
bool RegisterClassOnce(const wchar_t* name, WNDPROC proc, HBRUSH background);

// A window procedure that hands every message to T::HandleMessage of the object given as the
// creation parameter; messages before WM_NCCREATE and after WM_NCDESTROY go to the default.
template <typename T>
LRESULT CALLBACK ObjectWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* object = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!object) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The object may be gone once the window is: nothing after this reaches it.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return LRESULT(object->HandleMessage(hwnd, message, wParam, lParam));
}

}  // namespace sv
