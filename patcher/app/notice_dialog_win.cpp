#include <windows.h>

#include "patcher/app/notice_dialog.h"
#include "patcher/app/notice_dialog_layout.h"
#include "patcher/app/owned_dialog_win.h"
#include "patcher/app/web_view.h"
#include "patcher/app/window_class_win.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "skin/locale_table.h"

namespace sv {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

HWND AddButton(HWND parent, const std::wstring& text, int id, bool isDefault, const DialogRect& at, HFONT font) {
  HWND button = CreateWindowExW(0, L"BUTTON", text.c_str(),
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                                at.left, at.top, at.width(), at.height(), parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (button && font) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return button;
}

}  // namespace

void NoticeDialog::Show(void* owner, UpdateEngine* engine, const LocaleTable& locale, void* font,
                        const std::vector<WebView*>& others) {
  if (hwnd_ || !engine) return;
  const RemoteConfig config = engine->GetRemoteConfig();
  HWND ownerWindow = static_cast<HWND>(owner);
  // Over a restored owner, wholly on screen, shrunk (page first) when the screen is too small.
  const OwnedDialogPlacement placed =
      PlaceOverOwner(ownerWindow, NoticeClientSize(config.noticeWidth, config.noticeHeight), NoticeMinClient(),
                     kStyle, kExStyle);
  const DialogRect& at = placed.window;
  const NoticeLayout layout = LayOutNotice(placed.client);
  HWND hwnd = nullptr;
  if (RegisterClassOnce(kNoticeClass, ObjectWindowProc<NoticeDialog>,
                        reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
    hwnd = CreateWindowExW(kExStyle, kNoticeClass, locale.textOr("TORRENT_NOTICE_TITLE", L"Duyuru").c_str(),
                           kStyle, at.left, at.top, at.width(), at.height(), ownerWindow, nullptr,
                           GetModuleHandleW(nullptr), this);
  }
  if (!hwnd) {
    engine->AnswerNotice(true);
    return;
  }
  hwnd_ = hwnd;
  owner_ = owner;
  engine_ = engine;
  others_ = others;

  view_ = new WebView();
  if (view_->Create(hwnd, false, layout.page.left, layout.page.top, layout.page.width(), layout.page.height())) {
    // The page is the control's to load, in the background: it streams into the control's own
    // cache, never into a buffer of ours, and the buttons answer at any moment of the load. So
    // a page that never ends costs neither memory nor the update; what the patcher itself reads
    // of the notice (the configuration naming it, the local notice file) is bounded at 1 MiB.
    view_->Navigate(config.noticeUrl);
  } else {
    Log(L"Gomulu sayfa olusturulamadi.");
  }
  HFONT regular = static_cast<HFONT>(font);
  HWND accept = AddButton(hwnd, locale.textOr("TORRENT_NOTICE_ACCEPT", L"Kabul et"), kNoticeAcceptId, true,
                          layout.accept, regular);
  AddButton(hwnd, locale.textOr("TORRENT_NOTICE_REFUSE", L"\u0130ptal et"), kNoticeRefuseId, false,
            layout.refuse, regular);

  EnableWindow(ownerWindow, FALSE);
  EnableWebViews(others_, false);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  if (accept) SetFocus(accept);
}

void NoticeDialog::Teardown() {
  if (!hwnd_) return;
  HWND hwnd = static_cast<HWND>(hwnd_);
  hwnd_ = nullptr;
  // The owner first: destroying an owned window activates its owner only when it is enabled.
  EnableWindow(static_cast<HWND>(owner_), TRUE);
  EnableWebViews(others_, true);
  delete view_;
  view_ = nullptr;
  DestroyWindow(hwnd);
}

void NoticeDialog::Close(bool accepted) {
  if (!hwnd_) return;
  Teardown();
  SetForegroundWindow(static_cast<HWND>(owner_));
  if (engine_) engine_->AnswerNotice(accepted);
}

void NoticeDialog::Destroy() { Teardown(); }

bool NoticeDialog::PreTranslate(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  if (!hwnd_) return false;
  if (view_ && view_->TranslateAccelerator(msg)) return true;
  return hwnd_ && IsDialogMessageW(static_cast<HWND>(hwnd_), msg);
}

intptr_t NoticeDialog::HandleMessage(void* window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd = static_cast<HWND>(window);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kNoticeAcceptId) {
        Close(true);
        return 0;
      }
      if (LOWORD(wParam) == kNoticeRefuseId || LOWORD(wParam) == IDCANCEL) {
        Close(false);
        return 0;
      }
      break;
    case DM_GETDEFID:  // Enter presses the accept button
      return MAKELRESULT(kNoticeAcceptId, DC_HASDEFID);
    case WM_CLOSE:  // the title bar's close button refuses
      Close(false);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace sv
