#include <windows.h>

#include "patcher/app/inuse_dialog.h"
#include "patcher/app/inuse_dialog_layout.h"
#include "patcher/app/inuse_dialog_text.h"
#include "patcher/app/owned_dialog_win.h"
#include "patcher/app/web_view.h"
#include "patcher/app/window_class_win.h"
#include "patcher/engine/update_engine.h"
#include "skin/locale_table.h"

namespace sv {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr UINT kTextFormat = DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL;

int TextHeight(HDC dc, HFONT font, const std::wstring& text) {
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  RECT r{0, 0, InUseLayout::kTextWidth, 0};
  DrawTextW(dc, text.c_str(), int(text.size()), &r, kTextFormat | DT_CALCRECT);
  if (old) SelectObject(dc, old);
  return r.bottom - r.top;
}

HWND AddChild(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, int id, int x, int y,
              int width, int height, HFONT font) {
  HWND child = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return child;
}

}  // namespace

void InUseDialog::Show(void* owner, UpdateEngine* engine, const LocaleTable& locale, void* regularFont,
                       void* boldFont, const std::vector<WebView*>& others) {
  if (hwnd_ || !engine) return;
  HWND ownerWindow = static_cast<HWND>(owner);
  HFONT regular = static_cast<HFONT>(regularFont), bold = static_cast<HFONT>(boldFont);
  const InUseList list = engine->GetInUseList();
  const bool canClose = InUseCanClose(list);
  const std::wstring body = BuildInUseText(list, canClose, locale);
  const std::wstring heading = locale.text("SV_INUSE_TITLE");

  if (!RegisterClassOnce(kInUseClass, ObjectWindowProc<InUseDialog>,
                         static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)))) {
    engine->AnswerInUse(kInUseRetry);
    return;
  }
  HDC dc = GetDC(nullptr);
  const int headingHeight = TextHeight(dc, bold, heading);
  const int bodyHeight = TextHeight(dc, regular, body);
  const int lineHeight = TextHeight(dc, regular, L"X");
  ReleaseDC(nullptr, dc);
  const InUseLayout natural = LayOutInUse(headingHeight, bodyHeight);

  // Over a restored owner, wholly on screen; a body too long for the screen is cut short.
  const OwnedDialogPlacement placed =
      PlaceOverOwner(ownerWindow, {InUseLayout::kClientWidth, natural.clientHeight},
                     InUseMinClient(headingHeight, lineHeight), kStyle, kExStyle);
  const InUseLayout layout = LayOutInUse(headingHeight, bodyHeight, placed.client.height);
  const DialogRect& at = placed.window;
  wchar_t title[256] = {};
  GetWindowTextW(ownerWindow, title, 256);

  HWND hwnd = CreateWindowExW(kExStyle, kInUseClass, title, kStyle, at.left, at.top, at.width(), at.height(),
                              ownerWindow, nullptr, GetModuleHandleW(nullptr), this);
  if (!hwnd) {
    engine->AnswerInUse(kInUseRetry);
    return;
  }
  hwnd_ = hwnd;
  owner_ = owner;
  engine_ = engine;
  others_ = others;

  const DWORD textStyle = SS_NOPREFIX | SS_EDITCONTROL;
  AddChild(hwnd, L"STATIC", heading, textStyle, -1, InUseLayout::kTextLeft, layout.headingTop,
           InUseLayout::kTextWidth, headingHeight, bold);
  AddChild(hwnd, L"STATIC", body, textStyle, -1, InUseLayout::kTextLeft, layout.bodyTop, InUseLayout::kTextWidth,
           layout.bodyHeight, regular);
  const int ids[3] = {kInUseCloseId, kInUseRetryId, kInUseCancelId};
  const char* keys[3] = {"SV_INUSE_BTN_CLOSE", "SV_INUSE_BTN_RETRY", "SV_INUSE_BTN_CANCEL"};
  HWND buttons[3] = {};
  for (int i = 0; i < 3; ++i) {
    const DWORD kind = ids[i] == kInUseRetryId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    buttons[i] = AddChild(hwnd, L"BUTTON", locale.text(keys[i]), WS_TABSTOP | kind, ids[i],
                          InUseLayout::kButtonLefts[i], layout.buttonTop, InUseLayout::kButtonWidth,
                          InUseLayout::kButtonHeight, regular);
  }
  // Only system programs hold the files: there is nothing the player may close.
  if (buttons[0] && !canClose) EnableWindow(buttons[0], FALSE);

  EnableWindow(ownerWindow, FALSE);
  EnableWebViews(others_, false);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  FLASHWINFO flash{};
  flash.cbSize = sizeof(flash);
  flash.hwnd = hwnd;
  flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
  if (buttons[1]) SetFocus(buttons[1]);
}

void InUseDialog::Close() {
  if (!hwnd_) return;
  HWND hwnd = static_cast<HWND>(hwnd_);
  hwnd_ = nullptr;
  EnableWindow(static_cast<HWND>(owner_), TRUE);
  EnableWebViews(others_, true);
  DestroyWindow(hwnd);
}

void InUseDialog::Answer(int choice) {
  if (!hwnd_) return;
  Close();
  if (engine_) engine_->AnswerInUse(choice);
}

bool InUseDialog::PreTranslate(void* message) {
  return hwnd_ && IsDialogMessageW(static_cast<HWND>(hwnd_), static_cast<MSG*>(message));
}

intptr_t InUseDialog::HandleMessage(void* window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd = static_cast<HWND>(window);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      FillRect(dc, &ps.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
      DrawIconEx(dc, 16, 16, LoadIconW(nullptr, IDI_WARNING), 32, 32, 0, nullptr, DI_NORMAL);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // The texts sit on the painted button-face background: a white brush here would show as
      // white boxes around them.
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<intptr_t>(GetSysColorBrush(COLOR_BTNFACE));
    case DM_GETDEFID:
      return MAKELRESULT(kInUseRetryId, DC_HASDEFID);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kInUseRetryId:
        case IDOK:
          Answer(kInUseRetry);
          return 0;
        case kInUseCancelId:
        case IDCANCEL:
          Answer(kInUseCancelAnswer);
          return 0;
        case kInUseCloseId:
          Answer(kInUseClose);
          return 0;
        default:
          break;
      }
      break;
    case WM_CLOSE:
      Answer(kInUseCancelAnswer);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace sv
