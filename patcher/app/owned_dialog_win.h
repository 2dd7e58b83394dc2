#pragma once
// The Win32 side of owned_dialog.h: the owner's rectangle and its monitor's work area.
#include <windows.h>

#include "patcher/app/owned_dialog.h"

namespace sv {

// Restores a minimised owner (a dialog placed relative to a minimised window would open at about
// -32000, -32000 and stay there), then places a window of this style and client size over it
// with PlaceOwnedDialog.
OwnedDialogPlacement PlaceOverOwner(HWND owner, DialogSize client, DialogSize minClient, DWORD style,
                                    DWORD exStyle);

}  // namespace sv
