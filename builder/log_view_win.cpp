// SV_LogView: the build log, one line per entry with its time, coloured by level, with a
// vertical scroll bar; it follows the end after every append.
#include <algorithm>

#include "builder/builder_window_win.h"

namespace sv {

namespace {

constexpr const wchar_t* kLogViewClass = L"SV_LogView";

struct LogViewState {
  const BuildLog* log = nullptr;
  int dpi = 96;
  int top = 0;  // first entry shown
  bool follow = true;  // at the end: stays there when lines come or the view shrinks
  HFONT font = nullptr, mono = nullptr;
};

LogViewState* State(HWND view) { return reinterpret_cast<LogViewState*>(GetWindowLongPtrW(view, GWLP_USERDATA)); }

int LineHeight(const LogViewState& s) { return MulDiv(19, s.dpi, 96); }

int VisibleLines(HWND view, const LogViewState& s) {
  RECT r;
  GetClientRect(view, &r);
  return std::max<int>(1, (r.bottom - MulDiv(8, s.dpi, 96)) / LineHeight(s));
}

void UpdateScroll(HWND view, LogViewState& s) {
  const int count = s.log ? int(s.log->entries.size()) : 0;
  const int visible = VisibleLines(view, s);
  s.top = std::clamp(s.top, 0, std::max(0, count - visible));
  SCROLLINFO info{sizeof info, SIF_ALL | SIF_DISABLENOSCROLL, 0, std::max(0, count - 1), UINT(visible), s.top, 0};
  SetScrollInfo(view, SB_VERT, &info, TRUE);
}

COLORREF LevelColour(int level) {
  switch (level) {
    case kLogSuccess: return RGB(27, 127, 75);
    case kLogWarning: return RGB(176, 112, 20);
    case kLogError: return RGB(192, 57, 43);
    default: return RGB(18, 28, 22);
  }
}

LRESULT CALLBACK LogViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
  LogViewState* s = State(view);
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      if (s) {
        if (s->font) DeleteObject(s->font);
        if (s->mono) DeleteObject(s->mono);
        delete s;
        SetWindowLongPtrW(view, GWLP_USERDATA, 0);
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(view, &ps);
      PaintLogView(view, dc);
      EndPaint(view, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: PaintLogView(view, reinterpret_cast<HDC>(wParam)); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE:
      if (s) {
        if (s->follow) s->top = 1 << 30;
        UpdateScroll(view, *s);
      }
      return 0;
    case WM_VSCROLL:
      if (s) {
        const int visible = VisibleLines(view, *s);
        switch (LOWORD(wParam)) {
          case SB_LINEUP: s->top -= 1; break;
          case SB_LINEDOWN: s->top += 1; break;
          case SB_PAGEUP: s->top -= visible; break;
          case SB_PAGEDOWN: s->top += visible; break;
          case SB_THUMBTRACK:
          case SB_THUMBPOSITION: s->top = HIWORD(wParam); break;
          case SB_TOP: s->top = 0; break;
          case SB_BOTTOM: s->top = 1 << 30; break;
          default: break;
        }
        UpdateScroll(view, *s);
        s->follow = s->top + VisibleLines(view, *s) >= int(s->log->entries.size());
        InvalidateRect(view, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSEWHEEL:
      if (s) {
        s->top -= GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3;
        UpdateScroll(view, *s);
        s->follow = s->top + VisibleLines(view, *s) >= int(s->log->entries.size());
        InvalidateRect(view, nullptr, FALSE);
      }
      return 0;
    default: break;
  }
  return DefWindowProcW(view, message, wParam, lParam);
}

}  // namespace

bool RegisterLogView(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = LogViewProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kLogViewClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreateLogView(HWND parent, const BuildLog* log, int dpi) {
  auto* state = new LogViewState;
  state->log = log;
  state->dpi = dpi;
  state->font = CreateFontW(-MulDiv(12, dpi, 96), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                            CLEARTYPE_QUALITY, 0, UiFontFace());
  state->mono = CreateFontW(-MulDiv(12, dpi, 96), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                            CLEARTYPE_QUALITY, FIXED_PITCH, MonoFontFace());
  HWND view = CreateWindowExW(0, kLogViewClass, L"", WS_CHILD | WS_VSCROLL, 0, 0, 10, 10, parent, nullptr,
                              GetModuleHandleW(nullptr), state);
  if (!view) delete state;
  return view;
}

void LogViewAppended(HWND view) {
  LogViewState* s = State(view);
  if (!s) return;
  s->top = 1 << 30;  // to the end
  s->follow = true;
  UpdateScroll(view, *s);
  InvalidateRect(view, nullptr, FALSE);
}

void PaintLogView(HWND view, HDC dc) {
  LogViewState* s = State(view);
  RECT client;
  GetClientRect(view, &client);
  HBRUSH back = CreateSolidBrush(RGB(250, 251, 250));
  FillRect(dc, &client, back);
  DeleteObject(back);
  if (!s || !s->log) return;
  SetBkMode(dc, TRANSPARENT);
  const int pad = MulDiv(10, s->dpi, 96), lineH = LineHeight(*s), timeW = MulDiv(66, s->dpi, 96);
  if (s->log->entries.empty()) {
    HGDIOBJ old = SelectObject(dc, s->font);
    SetTextColor(dc, RGB(130, 140, 135));
    RECT r{client.left + pad, client.top + pad, client.right - pad, client.bottom - pad};
    DrawTextW(dc, kLogEmptyText, -1, &r, DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    return;
  }
  int y = MulDiv(4, s->dpi, 96);
  for (size_t i = size_t(std::max(0, s->top)); i < s->log->entries.size() && y < client.bottom; ++i) {
    const LogEntry& e = s->log->entries[i];
    HGDIOBJ old = SelectObject(dc, s->mono);
    SetTextColor(dc, RGB(140, 150, 145));
    RECT tr{pad, y, pad + timeW, y + lineH};
    DrawTextW(dc, e.time.c_str(), int(e.time.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, s->font);
    SetTextColor(dc, LevelColour(e.level));
    RECT r{pad + timeW, y, client.right - pad, y + lineH};
    DrawTextW(dc, e.text.c_str(), int(e.text.size()), &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
    y += lineH;
  }
}

}  // namespace sv
