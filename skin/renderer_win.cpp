#include "skin/renderer.h"

#include "common/text.h"
#include "skin/gdiplus_api.h"

namespace sv {

using namespace gdip;

namespace {

constexpr int kNoWrapMeasureTrailing =
    StringFormatFlagsNoWrap | StringFormatFlagsMeasureTrailingSpaces;

struct FamilyHolder {
  GpFontFamily* family = nullptr;
  ~FamilyHolder() {
    if (family) GdipDeleteFontFamily(family);
  }
};

// A font of `family` when the family offers the style.
GpFont* FontOfFamily(GpFontFamily* family, int32_t size, int style) {
  if (!family) return nullptr;
  BOOL available = FALSE;
  if (GdipIsStyleAvailable(family, style, &available) != Ok || !available) return nullptr;
  GpFont* font = nullptr;
  if (GdipCreateFont(family, REAL(size), style, UnitPixel, &font) != Ok) return nullptr;
  return font;
}

GpFont* FontOfName(const wchar_t* name, int32_t size, int style) {
  FamilyHolder holder;
  if (GdipCreateFontFamilyFromName(name, nullptr, &holder.family) != Ok) return nullptr;
  return FontOfFamily(holder.family, size, style);
}

// Some systems (Wine among them) may answer the generic family with nothing; any installed
// family with the style is better than no text at all.
GpFont* FirstInstalledFont(int32_t size, int style) {
  GpFontCollection* collection = nullptr;
  if (GdipNewInstalledFontCollection(&collection) != Ok || !collection) return nullptr;
  INT count = 0;
  if (GdipGetFontCollectionFamilyCount(collection, &count) != Ok || count <= 0) return nullptr;
  std::vector<GpFontFamily*> families(size_t(count), nullptr);
  INT found = 0;
  if (GdipGetFontCollectionFamilyList(collection, count, families.data(), &found) != Ok)
    return nullptr;
  // The list's families belong to the collection, which the system owns.
  for (INT i = 0; i < found; ++i) {
    if (GpFont* font = FontOfFamily(families[size_t(i)], size, style)) return font;
  }
  return nullptr;
}

struct GraphicsHolder {
  GpGraphics* graphics = nullptr;
  GpBitmap* bitmap = nullptr;
  ~GraphicsHolder() {
    if (graphics) {
      GdipFlush(graphics, FlushIntentionSync);
      GdipDeleteGraphics(graphics);
    }
    if (bitmap) GdipDisposeImage(bitmap);
  }
};

void DrawStringIn(GpGraphics* graphics, GpFont* font, std::wstring_view text, const RectF& rect,
                  GpStringFormat* format, uint32_t color) {
  GpSolidFill* brush = nullptr;
  if (GdipCreateSolidFill(ARGB(color), &brush) != Ok) return;
  GdipDrawString(graphics, text.data(), INT(text.size()), font, &rect, format, brush);
  GdipDeleteBrush(brush);
}

}  // namespace

Renderer::~Renderer() {
  for (auto& [key, font] : fonts_) {
    if (font) GdipDeleteFont(static_cast<GpFont*>(font));
  }
}

void* Renderer::font(std::wstring_view name, int32_t size, bool bold) {
  const std::wstring family = name.empty() ? std::wstring(L"Tahoma") : std::wstring(name);
  const std::wstring key =
      std::to_wstring(size) + L"|" + toLowerWide(family) + (bold ? L"|b" : L"|n");
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;

  const int style = bold ? FontStyleBold : FontStyleRegular;
  GpFont* font = FontOfName(family.c_str(), size, style);
  if (!font) font = FontOfName(L"Tahoma", size, style);
  if (!font) {
    FamilyHolder generic;
    if (GdipGetGenericFontFamilySansSerif(&generic.family) == Ok)
      font = FontOfFamily(generic.family, size, style);
  }
  if (!font) font = FirstInstalledFont(size, style);
  // A failure is cached too, so that a missing font costs one search, not one per frame.
  fonts_[key] = font;
  return font;
}

void drawText(void* graphics, void* font, std::wstring_view text, int32_t x, int32_t y,
              int32_t width, int32_t height, TextAlign align, uint32_t color, bool hasShadow,
              uint32_t shadowColor, bool verticalCenter) {
  if (text.empty() || !graphics || !font) return;
  GpStringFormat* generic = nullptr;
  GpStringFormat* format = nullptr;
  if (GdipStringFormatGetGenericTypographic(&generic) != Ok ||
      GdipCloneStringFormat(generic, &format) != Ok)
    return;
  INT flags = 0;
  GdipGetStringFormatFlags(format, &flags);
  GdipSetStringFormatFlags(format, flags | kNoWrapMeasureTrailing);
  GdipSetStringFormatAlign(format, align == TextAlign::Center  ? StringAlignmentCenter
                                   : align == TextAlign::Right ? StringAlignmentFar
                                                               : StringAlignmentNear);
  GdipSetStringFormatLineAlign(format,
                               verticalCenter ? StringAlignmentCenter : StringAlignmentNear);
  if (width > 0) GdipSetStringFormatTrimming(format, StringTrimmingEllipsisCharacter);

  RectF rect(REAL(x), REAL(y), REAL(width < 1 ? 4000 : width), REAL(height < 1 ? 200 : height));
  auto* g = static_cast<GpGraphics*>(graphics);
  auto* f = static_cast<GpFont*>(font);
  if (hasShadow) {
    RectF shadow(rect.X + 1, rect.Y + 1, rect.Width, rect.Height);
    DrawStringIn(g, f, text, shadow, format, shadowColor);
  }
  DrawStringIn(g, f, text, rect, format, color);
  GdipDeleteStringFormat(format);
}

void Renderer::render(uint32_t* target, const SkinDefinition& skin,
                      const std::vector<ControlState>& states, bool showFramePlaceholders) {
  if (!target || !skin.background || skin.width <= 0 || skin.height <= 0) return;
  composeImages(target, skin, states, showFramePlaceholders);
  const std::vector<TextItem> texts = layoutTexts(skin, states, showFramePlaceholders);
  if (texts.empty()) return;

  GraphicsHolder holder;
  if (GdipCreateBitmapFromScan0(skin.width, skin.height, skin.width * 4, PixelFormat32bppPARGB,
                                reinterpret_cast<BYTE*>(target), &holder.bitmap) != Ok ||
      GdipGetImageGraphicsContext(holder.bitmap, &holder.graphics) != Ok)
    return;
  GdipSetTextRenderingHint(holder.graphics, TextRenderingHintAntiAliasGridFit);
  GdipSetCompositingQuality(holder.graphics, CompositingQualityHighQuality);
  for (const TextItem& item : texts) {
    drawText(holder.graphics, font(item.fontName, item.fontSize, item.bold), item.text, item.x,
             item.y, item.width, item.height, item.align, item.color, item.hasShadow,
             item.shadowColor, item.verticalCenter);
  }
}

}  // namespace sv
