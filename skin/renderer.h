#pragma once
// Composes a frame of a skin into a premultiplied ARGB buffer of the skin's size: background,
// control images in skin order, then every text. Images and fills are blended here; text goes
// through GDI+ on Windows.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "skin/skin_definition.h"

namespace sv {

// The run-time state of one control, owned by the window; a missing entry means the defaults.
struct ControlState {
  bool visible = true;
  bool enabled = true;
  bool hovered = false;
  bool pressed = false;
  float progress = 0;  // gauges: 0 ... 1
  bool hasTextOverride = false;
  std::wstring textOverride;
  bool hasColorOverride = false;
  uint32_t colorOverride = 0;
};

constexpr int32_t kDisabledOpacity = 150;
constexpr uint32_t kFramePlaceholderFill = 0x8C101010;
constexpr uint32_t kFramePlaceholderBorder = 0xC0FFFFFF;

// The image a button shows in a state and its opacity; a null image draws nothing.
struct ButtonLook {
  const SkinImage* image = nullptr;
  int32_t opacity = 255;
};
ButtonLook buttonLook(const SkinControl& control, const ControlState& state);

// True for a button with a normal image when the point lies in that image's rectangle at the
// control's position (transparent pixels included); nothing else is ever hit.
bool hitTest(const SkinControl& control, int32_t px, int32_t py);

// One text of the text pass, laid out; drawn by drawText.
struct TextItem {
  std::wstring text;
  std::wstring fontName;
  int32_t fontSize = 12;
  bool bold = false;
  int32_t x = 0, y = 0, width = 0, height = 0;  // width/height below 1: unbounded
  TextAlign align = TextAlign::Left;
  bool verticalCenter = false;
  uint32_t color = kDefaultTextColor;
  bool hasShadow = false;
  uint32_t shadowColor = kDefaultShadowColor;
};

// The image pass: background copied, then each visible control's image, gauge or placeholder.
void composeImages(uint32_t* target, const SkinDefinition& skin,
                   const std::vector<ControlState>& states, bool showFramePlaceholders);
// The text pass, in drawing order.
std::vector<TextItem> layoutTexts(const SkinDefinition& skin,
                                  const std::vector<ControlState>& states,
                                  bool showFramePlaceholders);

// Draws through GDI+ (Windows only); fonts are created once and kept until destruction.
class Renderer {
public:
  Renderer() = default;
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // `target` holds skin.width * skin.height pixels. Nothing is drawn for a skin without a
  // background; GDI+ failures while drawing text are ignored so the frame is always completed.
  void render(uint32_t* target, const SkinDefinition& skin, const std::vector<ControlState>& states,
              bool showFramePlaceholders);
  // A GpFont*: the family `name` (Tahoma when empty) when it has the style, else Tahoma, else the
  // generic sans-serif family, else the first installed family with the style; null when even
  // that fails.
  void* font(std::wstring_view name, int32_t size, bool bold);

private:
  std::map<std::wstring, void*> fonts_;  // "<size>|<lower-case name>|b" or "|n"
};

// Draws one text into a GpGraphics* with a GpFont* (Windows only). Empty text draws nothing.
void drawText(void* graphics, void* font, std::wstring_view text, int32_t x, int32_t y,
              int32_t width, int32_t height, TextAlign align, uint32_t color, bool hasShadow,
              uint32_t shadowColor, bool verticalCenter);

}  // namespace sv
