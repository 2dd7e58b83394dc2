#pragma once
// How the notice dialog is laid out, as plain numbers (where it goes: owned_dialog.h): the page
// over the whole client width, a band under it with the accept and refuse buttons at the right.
#include <cstdint>

#include "patcher/app/owned_dialog.h"

namespace sv {

struct NoticeLayout {
  static constexpr int32_t kButtonWidth = 120;
  static constexpr int32_t kButtonHeight = 30;
  static constexpr int32_t kButtonBand = 52;  // below the page
  static constexpr int32_t kMargin = 12;      // around and between the buttons
  // Both buttons and their margins: the narrowest client (the configuration allows 200).
  static constexpr int32_t kMinClientWidth = 3 * kMargin + 2 * kButtonWidth;
  // The least of the page a shrunk notice keeps.
  static constexpr int32_t kMinPageHeight = 60;

  DialogRect page;
  DialogRect accept;
  DialogRect refuse;
};

// The client size asked for a configured notice of width x height (the page's size).
DialogSize NoticeClientSize(int32_t width, int32_t height);
DialogSize NoticeMinClient();
// The layout in a client of this size (what PlaceOwnedDialog gave).
NoticeLayout LayOutNotice(DialogSize client);

}  // namespace sv
