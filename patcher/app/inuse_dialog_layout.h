#pragma once
// How the in-use dialog is laid out, as plain numbers (where it goes: owned_dialog.h).
#include <cstdint>

#include "patcher/app/owned_dialog.h"

namespace sv {

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
  int32_t bodyHeight = 0;
  int32_t buttonTop = 0;
  int32_t clientHeight = 0;
};
// The layout for texts of these heights. A clientHeight (what the work area left, 0: no limit)
// smaller than the texts need cuts the body short; the buttons stay at the bottom, inside.
InUseLayout LayOutInUse(int32_t headingHeight, int32_t bodyHeight, int32_t clientHeight = 0);
// The smallest client the dialog may shrink to: the heading, one line of body, the buttons.
DialogSize InUseMinClient(int32_t headingHeight, int32_t lineHeight);

}  // namespace sv
