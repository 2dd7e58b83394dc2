#include "patcher/app/notice_dialog_layout.h"

#include <algorithm>

namespace sv {

DialogSize NoticeClientSize(int32_t width, int32_t height) {
  return {std::max(width, NoticeLayout::kMinClientWidth), height + NoticeLayout::kButtonBand};
}

DialogSize NoticeMinClient() {
  return {NoticeLayout::kMinClientWidth, NoticeLayout::kMinPageHeight + NoticeLayout::kButtonBand};
}

NoticeLayout LayOutNotice(DialogSize client) {
  using L = NoticeLayout;
  NoticeLayout l;
  const int32_t pageHeight = std::max(0, client.height - L::kButtonBand);
  l.page = {0, 0, client.width, pageHeight};
  const int32_t top = pageHeight + (L::kButtonBand - L::kButtonHeight) / 2;
  const int32_t refuseLeft = client.width - L::kMargin - L::kButtonWidth;
  const int32_t acceptLeft = refuseLeft - L::kMargin - L::kButtonWidth;
  l.refuse = {refuseLeft, top, refuseLeft + L::kButtonWidth, top + L::kButtonHeight};
  l.accept = {acceptLeft, top, acceptLeft + L::kButtonWidth, top + L::kButtonHeight};
  return l;
}

}  // namespace sv
