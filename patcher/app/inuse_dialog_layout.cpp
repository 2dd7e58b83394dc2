#include "patcher/app/inuse_dialog_layout.h"

#include <algorithm>

namespace sv {

namespace {

constexpr int32_t kBodyGap = 24;     // heading to body
constexpr int32_t kButtonGap = 27;   // body to buttons
constexpr int32_t kBelowBody = 68;   // body to the client's bottom edge

}  // namespace

InUseLayout LayOutInUse(int32_t headingHeight, int32_t bodyHeight, int32_t clientHeight) {
  InUseLayout l;
  l.bodyTop = headingHeight + kBodyGap;
  l.bodyHeight = bodyHeight;
  if (clientHeight > 0 && l.bodyTop + bodyHeight + kBelowBody > clientHeight) {
    l.bodyHeight = std::max(0, clientHeight - l.bodyTop - kBelowBody);
  }
  l.buttonTop = l.bodyTop + l.bodyHeight + kButtonGap;
  l.clientHeight = l.bodyTop + l.bodyHeight + kBelowBody;
  return l;
}

DialogSize InUseMinClient(int32_t headingHeight, int32_t lineHeight) {
  return {InUseLayout::kClientWidth, headingHeight + kBodyGap + lineHeight + kBelowBody};
}

}  // namespace sv
