#pragma once
// The notice window: the operator's notice page with accept and refuse buttons. The update run
// waits for the answer; closing the window by its title bar counts as a refusal.
#include <vector>

namespace sv {

class LocaleTable;
class UpdateEngine;
class WebView;

constexpr wchar_t kNoticeClass[] = L"SarvikNotice";
constexpr int kNoticeAcceptId = 101;
constexpr int kNoticeRefuseId = 102;

class NoticeDialog {
 public:
  NoticeDialog() = default;
  ~NoticeDialog() { Destroy(); }
  NoticeDialog(const NoticeDialog&) = delete;
  NoticeDialog& operator=(const NoticeDialog&) = delete;

  // owner: the main HWND; font: the regular HFONT; others: web views disabled while the dialog
  // is open. Nothing happens when a notice is open already or there is no engine. A window that
  // cannot be created counts as accepted.
  void Show(void* owner, UpdateEngine* engine, const LocaleTable& locale, void* font,
            const std::vector<WebView*>& others);
  // Re-enables the owner, closes the page and the window, then answers the engine.
  void Close(bool accepted);
  // Gone without an answer (the main window is closing and the engine is shutting down).
  void Destroy();

  bool IsOpen() const { return hwnd_ != nullptr; }
  void* Hwnd() const { return hwnd_; }
  WebView* View() const { return view_; }
  // msg: a MSG*. The page's accelerators, then dialog keys (Tab, Enter, Escape); true when used.
  bool PreTranslate(void* msg);

  // Window procedure body (public for the trampoline).
  intptr_t HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void Teardown();

  void* hwnd_ = nullptr;
  void* owner_ = nullptr;
  UpdateEngine* engine_ = nullptr;
  WebView* view_ = nullptr;
  std::vector<WebView*> others_;
};

}  // namespace sv
