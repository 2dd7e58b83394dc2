// Draws the builder window from its view items: GDI+ for the rounded shapes, the outline icons
// and the scaled preview, GDI for the text.
#include <algorithm>

#include "builder/builder_window_win.h"
#include "builder/form_fields.h"
#include "builder/outline_icons.h"
#include "skin/gdiplus_api.h"

namespace sv {

using namespace gdip;

namespace {

struct Palette {
  static constexpr COLORREF text = RGB(18, 28, 22);
  static constexpr COLORREF muted = RGB(98, 110, 104);
  static constexpr COLORREF accent = RGB(27, 127, 75);
  static constexpr COLORREF warning = RGB(176, 112, 20);
  static constexpr COLORREF error = RGB(192, 57, 43);
  static constexpr COLORREF disabled = RGB(166, 176, 171);
};

ARGB Argb(COLORREF c, BYTE alpha = 255) {
  return (ARGB(alpha) << 24) | (ARGB(GetRValue(c)) << 16) | (ARGB(GetGValue(c)) << 8) | GetBValue(c);
}

COLORREF ToneColour(int tone) {
  switch (tone) {
    case kToneSuccess: return Palette::accent;
    case kToneWarning: return Palette::warning;
    case kToneError: return Palette::error;
    case kToneMuted: return Palette::muted;
    default: return Palette::text;
  }
}

int CALLBACK NoteFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontExists(HDC dc, const wchar_t* face) {
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &lf, NoteFont, LPARAM(&found), 0);
  return found;
}

// The first installed face of a list, else the list's last.
const wchar_t* FirstFace(std::initializer_list<const wchar_t*> faces) {
  HDC screen = GetDC(nullptr);
  const wchar_t* chosen = *(faces.end() - 1);
  for (const wchar_t* face : faces) {
    if (FontExists(screen, face)) {
      chosen = face;
      break;
    }
  }
  ReleaseDC(nullptr, screen);
  return chosen;
}

}  // namespace

// "Segoe UI" and "Consolas" where installed; elsewhere faces that hold every Turkish letter and
// the arrows of the log lines.
const wchar_t* UiFontFace() {
  static const wchar_t* face = FirstFace({L"Segoe UI", L"DejaVu Sans", L"Tahoma"});
  return face;
}

const wchar_t* MonoFontFace() {
  static const wchar_t* face = FirstFace({L"Consolas", L"DejaVu Sans Mono", L"Courier New"});
  return face;
}

namespace {

// The fonts of one paint, in the window's DPI.
class Fonts {
public:
  Fonts(HDC dc, int dpi) : dc_(dc), dpi_(dpi), ui_(UiFontFace()), mono_(MonoFontFace()) {}
  ~Fonts() {
    for (HFONT f : made_) DeleteObject(f);
  }
  HFONT Get(int size, int weight, bool mono = false) {
    const int key = size * 10000 + weight * 2 + (mono ? 1 : 0);
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == key) return made_[i];
    }
    HFONT f = CreateFontW(-MulDiv(size, dpi_, 96), 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                          CLEARTYPE_QUALITY, 0, mono ? mono_ : ui_);
    keys_.push_back(key);
    made_.push_back(f);
    return f;
  }

private:
  HDC dc_;
  int dpi_;
  const wchar_t* ui_;
  const wchar_t* mono_;
  std::vector<int> keys_;
  std::vector<HFONT> made_;
};

void AddRoundRect(GpPath* path, REAL x, REAL y, REAL w, REAL h, REAL r) {
  r = std::min({r, w / 2, h / 2});
  if (r <= 0) {
    GdipAddPathRectangle(path, x, y, w, h);
    return;
  }
  const REAL d = 2 * r;
  GdipAddPathArc(path, x, y, d, d, 180, 90);
  GdipAddPathArc(path, x + w - d, y, d, d, 270, 90);
  GdipAddPathArc(path, x + w - d, y + h - d, d, d, 0, 90);
  GdipAddPathArc(path, x, y + h - d, d, d, 90, 90);
  GdipClosePathFigure(path);
}

}  // namespace

struct BuilderPainter {
  BuilderWindow& w;
  HDC dc;
  GpGraphics* g = nullptr;
  Fonts fonts;
  int dpi;

  BuilderPainter(BuilderWindow& window, HDC target) : w(window), dc(target), fonts(target, window.dpi_), dpi(window.dpi_) {
    GdipCreateFromHDC(dc, &g);
    if (g) {
      GdipSetSmoothingMode(g, SmoothingModeAntiAlias);
      GdipSetPixelOffsetMode(g, PixelOffsetModeHalf);
    }
  }
  ~BuilderPainter() {
    if (g) GdipDeleteGraphics(g);
  }
  REAL S(REAL v) const { return v * REAL(dpi) / 96; }

  void Round(const ViewRect& r, REAL radius, ARGB fill, ARGB border, REAL borderWidth = 1, bool dashed = false) {
    if (!g) return;
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    AddRoundRect(path, REAL(r.x) + 0.5f, REAL(r.y) + 0.5f, REAL(r.w) - 1, REAL(r.h) - 1, S(radius));
    if (fill >> 24) {
      GpSolidFill* brush = nullptr;
      GdipCreateSolidFill(fill, &brush);
      GdipFillPath(g, brush, path);
      GdipDeleteBrush(brush);
    }
    if (border >> 24) {
      GpPen* pen = nullptr;
      GdipCreatePen1(border, S(borderWidth), UnitPixel, &pen);
      if (dashed) GdipSetPenDashStyle(pen, DashStyleDash);
      GdipDrawPath(g, pen, path);
      GdipDeletePen(pen);
    }
    GdipDeletePath(path);
  }

  // An outline icon: the 24-unit square centred in the rectangle, stroked with round ends.
  void Icon(int icon, const ViewRect& r, COLORREF colour, REAL stroke = 1.8f) {
    if (!g || icon < 0) return;
    const std::vector<PathOp> ops = ParseIconPath(IconPath(icon));
    const REAL scale = REAL(std::min(r.w, r.h)) / 24;
    const REAL ox = r.x + (r.w - 24 * scale) / 2, oy = r.y + (r.h - 24 * scale) / 2;
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    REAL cx = 0, cy = 0;
    for (const PathOp& op : ops) {
      const REAL x = ox + op.x * scale, y = oy + op.y * scale;
      switch (op.kind) {
        case PathOp::Move: GdipStartPathFigure(path); break;
        case PathOp::Line: GdipAddPathLine(path, cx, cy, x, y); break;
        case PathOp::Cubic:
          GdipAddPathBezier(path, cx, cy, ox + op.x1 * scale, oy + op.y1 * scale, ox + op.x2 * scale,
                            oy + op.y2 * scale, x, y);
          break;
        case PathOp::Close: GdipClosePathFigure(path); break;
      }
      cx = x;
      cy = y;
    }
    GpPen* pen = nullptr;
    GdipCreatePen1(Argb(colour), std::max<REAL>(1, stroke * scale), UnitPixel, &pen);
    GdipSetPenStartCap(pen, LineCapRound);
    GdipSetPenEndCap(pen, LineCapRound);
    GdipSetPenLineJoin(pen, LineJoinRound);
    GdipDrawPath(g, pen, path);
    GdipDeletePen(pen);
    GdipDeletePath(path);
  }

  void Text(const std::wstring& text, ViewRect r, HFONT font, COLORREF colour, UINT format) {
    if (text.empty()) return;
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    if (format & DT_WORDBREAK) {
      // Only whole lines: a wrapped text never shows a line cut in half at its bottom.
      TEXTMETRICW tm{};
      GetTextMetricsW(dc, &tm);
      if (tm.tmHeight > 0 && r.h > tm.tmHeight) r.h -= r.h % tm.tmHeight;
    }
    RECT rect{r.x, r.y, r.right(), r.bottom()};
    DrawTextW(dc, text.c_str(), int(text.size()), &rect, format | DT_NOPREFIX);
    SelectObject(dc, old);
  }

  UINT Format(const ViewItem& item, bool vcentre = true) const {
    UINT f = item.wrap ? DT_WORDBREAK | DT_END_ELLIPSIS : DT_SINGLELINE | DT_END_ELLIPSIS;
    if (!item.wrap && vcentre) f |= DT_VCENTER;
    if (item.centred) f |= DT_CENTER;
    if (item.detail == L"right") f |= DT_RIGHT;
    return f;
  }

  // A text item, with its icon at the left when it has one.
  void TextItem(const ViewItem& item, HFONT font, COLORREF colour) {
    ViewRect r = item.rect;
    if (item.icon >= 0) {
      const int size = MulDiv(16, dpi, 96);
      Icon(item.icon, {r.x, r.y + (r.h - size) / 2, size, size}, colour == Palette::text ? Palette::muted : colour);
      r.x += size + MulDiv(8, dpi, 96);
      r.w -= size + MulDiv(8, dpi, 96);
    }
    Text(item.text, r, font, colour, Format(item));
  }

  void Button(const ViewItem& item, bool primary) {
    const bool hover = item.enabled && w.hoverCommand_ == item.command;
    const bool pressed = hover && w.pressedCommand_ == item.command;
    COLORREF fg;
    if (!item.enabled) {
      Round(item.rect, 8, Argb(RGB(243, 246, 244)), Argb(RGB(224, 230, 226)));
      fg = Palette::disabled;
    } else if (primary) {
      const COLORREF fill = pressed ? RGB(18, 96, 56) : hover ? RGB(22, 110, 64) : Palette::accent;
      Round(item.rect, 8, Argb(fill), 0);
      fg = RGB(255, 255, 255);
    } else {
      Round(item.rect, 8, Argb(pressed ? RGB(226, 236, 230) : hover ? RGB(238, 245, 241) : RGB(255, 255, 255)),
            Argb(RGB(200, 212, 205)));
      fg = Palette::text;
    }
    HFONT font = fonts.Get(13, FW_SEMIBOLD);
    SIZE extent{};
    HGDIOBJ old = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, item.text.c_str(), int(item.text.size()), &extent);
    SelectObject(dc, old);
    const int iconSize = item.icon >= 0 ? MulDiv(16, dpi, 96) : 0;
    const int gap = item.icon >= 0 && !item.text.empty() ? MulDiv(8, dpi, 96) : 0;
    const int total = std::min<int>(iconSize + gap + extent.cx, item.rect.w - MulDiv(16, dpi, 96));
    int x = item.rect.x + (item.rect.w - total) / 2;
    if (iconSize) {
      Icon(item.icon, {x, item.rect.y + (item.rect.h - iconSize) / 2, iconSize, iconSize},
           primary && item.enabled ? RGB(255, 255, 255) : item.enabled ? Palette::accent : Palette::disabled);
      x += iconSize + gap;
    }
    Text(item.text, {x, item.rect.y, item.rect.right() - x - MulDiv(6, dpi, 96), item.rect.h}, font, fg,
         DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  }

  void Switch(const ViewItem& item) {
    const int tw = MulDiv(38, dpi, 96), th = MulDiv(22, dpi, 96);
    const ViewRect track{item.rect.x, item.rect.y + (item.rect.h - th) / 2, tw, th};
    const COLORREF on = item.enabled ? Palette::accent : RGB(160, 200, 178);
    Round(track, 11, Argb(item.on ? on : RGB(203, 211, 206)), 0);
    const int knob = th - MulDiv(6, dpi, 96);
    const int kx = item.on ? track.right() - knob - MulDiv(3, dpi, 96) : track.x + MulDiv(3, dpi, 96);
    Round({kx, track.y + MulDiv(3, dpi, 96), knob, knob}, 20, Argb(RGB(255, 255, 255)), 0);
    const bool hover = item.enabled && w.hoverCommand_ == item.command;
    Text(item.text, {track.right() + MulDiv(12, dpi, 96), item.rect.y, item.rect.w - tw - MulDiv(12, dpi, 96), item.rect.h},
         fonts.Get(13, hover ? FW_SEMIBOLD : FW_NORMAL), item.enabled ? Palette::text : Palette::disabled,
         DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  }

  void Chip(const ViewItem& item) {
    const bool hover = item.enabled && w.hoverCommand_ == item.command;
    if (item.on) {
      Round(item.rect, 7, Argb(item.enabled ? Palette::accent : RGB(160, 200, 178)), 0);
    } else {
      Round(item.rect, 7, Argb(hover ? RGB(238, 245, 241) : RGB(255, 255, 255)), Argb(RGB(200, 212, 205)));
    }
    const COLORREF fg = item.on ? RGB(255, 255, 255) : item.enabled ? Palette::text : Palette::disabled;
    if (item.icon >= 0) {
      const int size = MulDiv(16, dpi, 96);
      Icon(item.icon, {item.rect.x + (item.rect.w - size) / 2, item.rect.y + (item.rect.h - size) / 2, size, size}, fg, 2);
    }
    Text(item.text, item.rect, fonts.Get(13, FW_SEMIBOLD), fg, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  }

  void Nav(const ViewItem& item) {
    const bool hover = w.hoverCommand_ == item.command;
    if (item.on) {
      Round(item.rect, 10, Argb(RGB(224, 241, 231)), 0);
      Round({item.rect.x, item.rect.y + MulDiv(12, dpi, 96), MulDiv(4, dpi, 96), item.rect.h - MulDiv(24, dpi, 96)}, 2,
            Argb(Palette::accent), 0);
    } else if (hover) {
      Round(item.rect, 10, Argb(RGB(234, 239, 236)), 0);
    }
    const int size = MulDiv(20, dpi, 96), pad = MulDiv(12, dpi, 96);
    Icon(item.icon, {item.rect.x + pad, item.rect.y + (item.rect.h - size) / 2, size, size},
         item.on ? Palette::accent : Palette::muted);
    const int tx = item.rect.x + pad + size + MulDiv(10, dpi, 96), tw = item.rect.right() - tx - MulDiv(4, dpi, 96);
    Text(item.text, {tx, item.rect.y + MulDiv(8, dpi, 96), tw, MulDiv(20, dpi, 96)}, fonts.Get(14, FW_SEMIBOLD),
         item.on ? RGB(16, 84, 49) : Palette::text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    Text(item.detail, {tx, item.rect.y + MulDiv(28, dpi, 96), tw, MulDiv(16, dpi, 96)}, fonts.Get(11, FW_NORMAL),
         Palette::muted, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  }

  void Preview(const ViewItem& item) {
    Round(item.rect, 10, Argb(RGB(30, 36, 33)), 0);
    if (w.previewPixels_.empty() || !w.preview_ || !g) return;
    const int pw = w.preview_->width, ph = w.preview_->height;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(pw, ph, pw * 4, PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(w.previewPixels_.data()), &bitmap) != Ok)
      return;
    const int pad = MulDiv(8, dpi, 96);
    const int bw = item.rect.w - 2 * pad, bh = item.rect.h - 2 * pad;
    int dw = bw, dh = int(int64_t(bw) * ph / pw);
    if (dh > bh) {
      dh = bh;
      dw = int(int64_t(bh) * pw / ph);
    }
    GdipSetInterpolationMode(g, InterpolationModeHighQualityBicubic);
    GdipDrawImageRectI(g, bitmap, item.rect.x + (item.rect.w - dw) / 2, item.rect.y + (item.rect.h - dh) / 2, dw, dh);
    GdipDisposeImage(bitmap);
  }

  void Status(const ViewItem& item) {
    HBRUSH fill = CreateSolidBrush(RGB(244, 247, 245));
    RECT r{item.rect.x, item.rect.y, item.rect.right(), item.rect.bottom()};
    FillRect(dc, &r, fill);
    DeleteObject(fill);
    HPEN line = CreatePen(PS_SOLID, 1, RGB(222, 229, 225));
    HGDIOBJ old = SelectObject(dc, line);
    MoveToEx(dc, r.left, r.top, nullptr);
    LineTo(dc, r.right, r.top);
    SelectObject(dc, old);
    DeleteObject(line);
    const int pad = MulDiv(16, dpi, 96), size = MulDiv(14, dpi, 96);
    int x = item.rect.x + pad;
    const COLORREF colour = item.tone == kToneError ? Palette::error : Palette::text;
    const int icon = item.tone == kToneError ? kIconWarning : item.on ? kIconRefresh : kIconTick;
    Icon(icon, {x, item.rect.y + (item.rect.h - size) / 2, size, size},
         item.tone == kToneError ? Palette::error : Palette::accent);
    x += size + MulDiv(8, dpi, 96);
    const int detailW = item.detail.empty() ? 0 : MulDiv(260, dpi, 96);
    Text(item.text, {x, item.rect.y, item.rect.right() - x - detailW - pad, item.rect.h}, fonts.Get(12, FW_NORMAL),
         colour, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    if (detailW)
      Text(item.detail, {item.rect.right() - detailW - pad, item.rect.y, detailW, item.rect.h},
           fonts.Get(12, FW_NORMAL), Palette::muted, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
  }

  void Item(const ViewItem& item) {
    const ViewRect& r = item.rect;
    switch (item.kind) {
      case ItemKind::Sidebar: {
        HBRUSH fill = CreateSolidBrush(RGB(244, 247, 245));
        RECT rect{r.x, r.y, r.right(), r.bottom()};
        FillRect(dc, &rect, fill);
        DeleteObject(fill);
        break;
      }
      case ItemKind::Brand: {
        const int size = MulDiv(34, dpi, 96);
        Round({r.x, r.y + (r.h - size) / 2, size, size}, 9, Argb(Palette::accent), 0);
        Icon(item.icon, {r.x + MulDiv(6, dpi, 96), r.y + (r.h - size) / 2 + MulDiv(6, dpi, 96), size - MulDiv(12, dpi, 96),
                         size - MulDiv(12, dpi, 96)},
             RGB(255, 255, 255), 2);
        const int tx = r.x + size + MulDiv(12, dpi, 96);
        Text(item.text, {tx, r.y + MulDiv(2, dpi, 96), r.right() - tx, MulDiv(20, dpi, 96)}, fonts.Get(14, FW_BOLD),
             Palette::text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        Text(item.detail, {tx, r.y + MulDiv(22, dpi, 96), r.right() - tx, MulDiv(16, dpi, 96)},
             fonts.Get(12, FW_NORMAL), Palette::muted, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        break;
      }
      case ItemKind::NavEntry: Nav(item); break;
      case ItemKind::Card: Round(r, 12, Argb(RGB(255, 255, 255)), Argb(RGB(225, 231, 227))); break;
      case ItemKind::SectionTitle: Text(item.text, r, fonts.Get(24, FW_SEMIBOLD), Palette::text, DT_SINGLELINE | DT_VCENTER); break;
      case ItemKind::Heading: TextItem(item, fonts.Get(15, FW_SEMIBOLD), Palette::text); break;
      case ItemKind::Help: Text(item.text, r, fonts.Get(12, FW_NORMAL), Palette::muted, Format(item, false)); break;
      case ItemKind::Label: TextItem(item, fonts.Get(13, FW_SEMIBOLD), Palette::text); break;
      case ItemKind::Text: TextItem(item, fonts.Get(13, FW_NORMAL), ToneColour(item.tone)); break;
      case ItemKind::Muted: TextItem(item, fonts.Get(12, FW_NORMAL), ToneColour(item.tone)); break;
      case ItemKind::Caps: Text(item.text, r, fonts.Get(10, FW_BOLD), Palette::muted, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS); break;
      case ItemKind::TileValue: Text(item.text, r, fonts.Get(15, FW_SEMIBOLD), ToneColour(item.tone), DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS); break;
      case ItemKind::Mono: Text(item.text, r, fonts.Get(13, FW_NORMAL, true), Palette::text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS); break;
      case ItemKind::Button: Button(item, false); break;
      case ItemKind::PrimaryButton: Button(item, true); break;
      case ItemKind::Chip: Chip(item); break;
      case ItemKind::Switch: Switch(item); break;
      case ItemKind::DropZone: Round(r, 10, Argb(RGB(245, 251, 247)), Argb(RGB(120, 180, 146)), 1.5f, true); break;
      case ItemKind::Icon: Icon(item.icon, r, ToneColour(item.tone), 1.8f); break;
      case ItemKind::IconBox: {
        Round(r, 8, Argb(item.tone == kToneWarning ? RGB(253, 246, 233) : RGB(247, 249, 248)), Argb(RGB(229, 235, 231)));
        if (item.icon >= 0) {
          const int size = std::min(r.w, r.h) / 2;
          Icon(item.icon, {r.x + (r.w - size) / 2, r.y + (r.h - size) / 2, size, size}, ToneColour(item.tone));
        }
        break;
      }
      case ItemKind::Edit: {
        const bool enabled = item.enabled;
        HWND edit = w.edits_.count(item.field) ? w.edits_.at(item.field) : nullptr;
        const bool focused = edit && GetFocus() == edit;
        Round(r, 6, Argb(enabled ? RGB(255, 255, 255) : RGB(243, 246, 244)),
              Argb(focused ? Palette::accent : RGB(196, 207, 201)), focused ? 1.5f : 1);
        break;
      }
      case ItemKind::Preview: Preview(item); break;
      case ItemKind::PreviewPlaceholder: {
        Round(r, 10, Argb(RGB(247, 249, 248)), Argb(RGB(214, 222, 217)), 1, true);
        const int size = MulDiv(30, dpi, 96);
        Icon(item.icon, {r.x + (r.w - size) / 2, r.y + r.h / 2 - size - MulDiv(8, dpi, 96), size, size},
             ToneColour(item.tone));
        Text(item.text, {r.x + MulDiv(16, dpi, 96), r.y + r.h / 2, r.w - MulDiv(32, dpi, 96), r.h / 2 - MulDiv(4, dpi, 96)},
             fonts.Get(13, FW_NORMAL), ToneColour(item.tone), DT_WORDBREAK | DT_CENTER);
        break;
      }
      case ItemKind::Badge: {
        Round(r, 11, Argb(RGB(238, 242, 240)), 0);
        const int size = MulDiv(14, dpi, 96);
        Icon(item.icon, {r.x + MulDiv(8, dpi, 96), r.y + (r.h - size) / 2, size, size}, Palette::muted);
        Text(item.text, {r.x + MulDiv(28, dpi, 96), r.y, r.w - MulDiv(34, dpi, 96), r.h}, fonts.Get(12, FW_SEMIBOLD),
             Palette::muted, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        break;
      }
      case ItemKind::LogView: Round({r.x - 1, r.y - 1, r.w + 2, r.h + 2}, 6, Argb(RGB(250, 251, 250)), Argb(RGB(214, 222, 217))); break;
      case ItemKind::StatusBar: Status(item); break;
      case ItemKind::CheckRow: {
        const int size = MulDiv(18, dpi, 96);
        Icon(item.icon, {r.x, r.y + MulDiv(2, dpi, 96), size, size}, ToneColour(item.tone), 2);
        const int tx = r.x + size + MulDiv(10, dpi, 96);
        Text(item.text, {tx, r.y, r.right() - tx, MulDiv(16, dpi, 96)}, fonts.Get(13, FW_SEMIBOLD), Palette::text,
             DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        Text(item.detail, {tx, r.y + MulDiv(16, dpi, 96), r.right() - tx, MulDiv(16, dpi, 96)},
             fonts.Get(11, FW_NORMAL), item.tone == kToneSuccess ? Palette::muted : ToneColour(item.tone),
             DT_SINGLELINE | DT_VCENTER |
                 (item.detail.find_first_of(L"\\/") != std::wstring::npos ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS));
        break;
      }
    }
  }
};

void BuilderWindow::PaintAll(HDC target, bool printing) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.right <= 0 || client.bottom <= 0) return;
  ComputeItems();
  // Drawn off-screen and copied in one go, so the window never flickers.
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  {
    BuilderPainter painter(*this, dc);
    for (const ViewItem& item : items_) painter.Item(item);
  }
  if (printing) {
    // The child windows draw themselves into the capture, each at its own place.
    // Edit controls do not print their text reliably everywhere: the capture draws what each
    // field holds (or its grey cue text) at the field's place, in the field's font.
    for (const auto& [id, edit] : edits_) {
      if (!IsWindowVisible(edit)) continue;
      RECT r;
      GetWindowRect(edit, &r);
      MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
      const LONG style = GetWindowLongW(edit, GWL_STYLE);
      std::wstring text(size_t(GetWindowTextLengthW(edit)) + 1, L'\0');
      text.resize(size_t(std::max(0, GetWindowTextW(edit, text.data(), int(text.size())))));
      COLORREF colour = IsWindowEnabled(edit) ? RGB(18, 28, 22) : RGB(150, 160, 155);
      if (text.empty()) {
        const FormField* field = FindField(id);
        text = field ? field->cue : L"https://…";
        colour = RGB(150, 160, 155);
      } else if (style & ES_PASSWORD) {
        text.assign(text.size(), L'\x25CF');
      }
      HGDIOBJ oldFont = SelectObject(dc, editFont_);
      SetTextColor(dc, colour);
      SetBkMode(dc, TRANSPARENT);
      RECT tr{r.left + 6, r.top, r.right - 6, r.bottom};
      DrawTextW(dc, text.c_str(), int(text.size()), &tr,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | ((style & ES_CENTER) ? DT_CENTER : 0));
      SelectObject(dc, oldFont);
    }
    if (IsWindowVisible(logView_)) {
      RECT r;
      GetWindowRect(logView_, &r);
      MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
      POINT oldOrigin;
      SetViewportOrgEx(dc, r.left, r.top, &oldOrigin);
      PaintLogView(logView_, dc);
      SetViewportOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
    }
  }
  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

}  // namespace sv
