#pragma once
// Where the patcher's owned dialogs (the notice, the in-use question) go, as plain rectangles so
// that the decision is the same, and tested, in every build: over the owner, wholly inside the
// work area of the owner's monitor, and smaller than asked when the work area cannot hold it.
// owned_dialog_win.h supplies the rectangles from the windows.
#include <cstdint>

namespace sv {

struct DialogRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

struct DialogSize {
  int32_t width = 0, height = 0;
};

// A window of this size centred over the owner's rectangle.
DialogRect CenterOver(const DialogRect& owner, int32_t width, int32_t height);
// Moved (not resized) into the work area: right and bottom edges first, then left and top, so a
// window larger than the area keeps its top-left corner (its title bar) visible.
DialogRect KeepInside(const DialogRect& rect, const DialogRect& work);

struct OwnedDialogRequest {
  DialogRect owner;      // the owner's window rectangle (a minimised owner is restored first)
  DialogRect work;       // the work area of the owner's monitor
  DialogSize client;     // the client size the dialog asks for
  DialogSize minClient;  // the smallest client size that still shows all of its buttons
  DialogSize frame;      // window size less client size: borders and title bar
};

struct OwnedDialogPlacement {
  DialogRect window;  // the whole window in screen coordinates, title bar included
  DialogSize client;  // the client size it gets
  bool shrunk = false;  // smaller than asked in at least one direction
};

// The client grows to the minimum, then shrinks (not below the minimum) until the window fits
// the work area. It is centred over the owner, or in the work area when the owner lies wholly
// outside it (a minimised window sits at about -32000, -32000), and then kept inside.
OwnedDialogPlacement PlaceOwnedDialog(const OwnedDialogRequest& request);

}  // namespace sv
