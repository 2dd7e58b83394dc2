#pragma once
// Where the patcher's dialogs go and how the in-use dialog is laid out, as plain rectangles.
#include <cstdint>

namespace sv {

struct DialogRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// A window of this size centred over the owner's rectangle.
DialogRect CenterOver(const DialogRect& owner, int32_t width, int32_t height);
// Moved (not resized) into the work area: right and bottom edges first, then left and top, so a
// window larger than the area keeps its top-left corner visible.
DialogRect KeepInside(const DialogRect& rect, const DialogRect& work);

// The in-use dialog: heading and body texts 482 wide from x 62, three buttons under them.
struct InUseLayout {
  static constexpr int32_t kClientWidth = 560;
  static constexpr int32_t kTextLeft = 62;
  static constexpr int32_t kTextWidth = 482;
  static constexpr int32_t kButtonWidth = 112;
  static constexpr int32_t kButtonHeight = 30;
  static constexpr int32_t kButtonLefts[3] = {192, 312, 432};  // close, retry, cancel

  int32_t headingTop = 16;
  int32_t bodyTop = 0;
  int32_t buttonTop = 0;
  int32_t clientHeight = 0;
};
InUseLayout LayOutInUse(int32_t headingHeight, int32_t bodyHeight);

}  // namespace sv
