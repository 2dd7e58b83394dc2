#include "skin/renderer.h"

#include <algorithm>
#include <cstdint>

#include "skin/pixels.h"

namespace sv {

namespace {

const ControlState kDefaultState;

const ControlState& StateOf(const std::vector<ControlState>& states, size_t index) {
  return index < states.size() ? states[index] : kDefaultState;
}

// Control coordinates are any int from skin.xml: sums are taken in 64 bits and clamped back, which
// keeps a far-off control far off (the pixel work clips it away).
int32_t Offset(int32_t a, int64_t b) {
  return int32_t(std::clamp<int64_t>(int64_t(a) + b, INT32_MIN, INT32_MAX));
}

void DrawFramePlaceholder(uint32_t* target, int32_t tw, int32_t th, const SkinControl& c) {
  const int32_t w = c.boxWidth, h = c.boxHeight;
  fillRect(target, tw, th, c.x, c.y, w, h, kFramePlaceholderFill);
  fillRect(target, tw, th, c.x, c.y, w, 1, kFramePlaceholderBorder);
  fillRect(target, tw, th, c.x, Offset(c.y, int64_t(h) - 1), w, 1, kFramePlaceholderBorder);
  fillRect(target, tw, th, c.x, c.y, 1, h, kFramePlaceholderBorder);
  fillRect(target, tw, th, Offset(c.x, int64_t(w) - 1), c.y, 1, h, kFramePlaceholderBorder);
}

}  // namespace

ButtonLook buttonLook(const SkinControl& control, const ControlState& state) {
  ButtonLook look;
  if (!control.normal) return look;
  if (!state.enabled) {
    if (control.hasDisabledImage && control.disabled) {
      look.image = control.disabled;
    } else {
      look.image = control.normal;
      look.opacity = kDisabledOpacity;
    }
    return look;
  }
  if (state.pressed && state.hovered) {
    look.image = control.pressed;
  } else if (state.hovered) {
    look.image = control.hover;
  } else {
    look.image = control.normal;
  }
  if (!look.image) look.image = control.normal;
  return look;
}

bool hitTest(const SkinControl& control, int32_t px, int32_t py) {
  if (control.kind != ControlKind::Button || !control.normal) return false;
  const int64_t dx = int64_t(px) - control.x, dy = int64_t(py) - control.y;
  return dx >= 0 && dx < control.normal->width && dy >= 0 && dy < control.normal->height;
}

void composeImages(uint32_t* target, const SkinDefinition& skin,
                   const std::vector<ControlState>& states, bool showFramePlaceholders) {
  const SkinImage* background = skin.background;
  if (!target || !background || skin.width <= 0 || skin.height <= 0) return;
  const int32_t tw = skin.width, th = skin.height;
  // The background replaces whatever the buffer held.
  if (background->width == tw && background->height == th &&
      background->pixels.size() >= size_t(tw) * size_t(th)) {
    std::copy_n(background->pixels.data(), size_t(tw) * size_t(th), target);
  } else {
    std::fill_n(target, size_t(tw) * size_t(th), 0u);
    drawImage(target, tw, th, *background, 0, 0);
  }

  for (size_t i = 0; i < skin.controls.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    const ControlState& state = StateOf(states, i);
    if (!state.visible) continue;
    switch (c.kind) {
      case ControlKind::Button: {
        const ButtonLook look = buttonLook(c, state);
        if (look.image)
          drawImage(target, tw, th, *look.image, c.x, c.y, 0, 0, -1, -1, look.opacity);
        break;
      }
      case ControlKind::Gauge: {
        if (c.empty) drawImage(target, tw, th, *c.empty, c.x, c.y);
        if (c.full) {
          const int32_t columns = gaugeFillWidth(c.full->width, state.progress);
          if (columns > 0) drawImage(target, tw, th, *c.full, c.x, c.y, 0, 0, columns, -1);
        }
        break;
      }
      case ControlKind::Picture:
        if (c.normal) drawImage(target, tw, th, *c.normal, c.x, c.y);
        break;
      case ControlKind::Frame:
        if (showFramePlaceholders && c.boxWidth > 0 && c.boxHeight > 0)
          DrawFramePlaceholder(target, tw, th, c);
        break;
      case ControlKind::Text:
      case ControlKind::None:
        break;
    }
  }
}

std::vector<TextItem> layoutTexts(const SkinDefinition& skin,
                                  const std::vector<ControlState>& states,
                                  bool showFramePlaceholders) {
  std::vector<TextItem> items;
  for (size_t i = 0; i < skin.controls.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    const ControlState& state = StateOf(states, i);
    if (!state.visible) continue;
    TextItem item;
    item.fontName = c.fontName;
    item.fontSize = c.fontSize;
    item.bold = c.bold;
    item.x = c.x;
    item.y = c.y;
    item.hasShadow = c.hasShadow;
    item.shadowColor = c.shadowColor;
    item.text = state.hasTextOverride ? state.textOverride : c.text;
    if (c.kind == ControlKind::Text) {
      item.color = state.hasColorOverride ? state.colorOverride : c.color;
      item.width = c.width;
      item.align = c.align;
    } else if (c.kind == ControlKind::Button && !c.normal) {
      item.color = state.enabled ? c.color : (c.color & 0x00FFFFFF) | 0x80000000;
      item.width = c.boxWidth;
      item.height = c.boxHeight;
      item.align = TextAlign::Center;
      item.verticalCenter = true;
    } else if (c.kind == ControlKind::Frame && showFramePlaceholders && c.boxWidth > 0 &&
               c.boxHeight > 30) {
      const int32_t middle = Offset(c.y, c.boxHeight / 2);
      TextItem title;
      title.text = skin.locale.textOr("SV_NEWS", L"Haberler");
      title.fontName = L"Tahoma";
      title.fontSize = 13;
      title.bold = true;
      title.x = c.x;
      title.y = Offset(middle, -16);
      title.width = c.boxWidth;
      title.height = 16;
      title.align = TextAlign::Center;
      title.verticalCenter = true;
      title.color = 0xFFFFFFFF;
      items.push_back(title);
      TextItem link;
      link.text = c.link;
      link.fontName = L"Tahoma";
      link.fontSize = 11;
      link.x = Offset(c.x, 8);
      link.y = Offset(middle, 4);
      link.width = c.boxWidth - 16;
      link.height = 14;
      link.align = TextAlign::Center;
      link.verticalCenter = true;
      link.color = 0xFFBFBFBF;
      items.push_back(link);
      continue;
    } else {
      continue;
    }
    if (!item.text.empty()) items.push_back(std::move(item));
  }
  return items;
}

}  // namespace sv
