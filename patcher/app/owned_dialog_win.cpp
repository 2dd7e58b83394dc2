#include "patcher/app/owned_dialog_win.h"

namespace sv {

namespace {

DialogRect FromRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

OwnedDialogPlacement PlaceOverOwner(HWND owner, DialogSize client, DialogSize minClient, DWORD style,
                                    DWORD exStyle) {
  if (owner && IsIconic(owner)) ShowWindow(owner, SW_RESTORE);
  OwnedDialogRequest request;
  request.client = client;
  request.minClient = minClient;
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  request.frame = {frame.right - frame.left, frame.bottom - frame.top};
  // An owner still minimised (or none) lies outside every work area: the dialog is then centred
  // in the work area of the monitor the owner was on (MonitorFromWindow uses the restored place).
  RECT ownerRect{};
  if (owner && !IsIconic(owner) && GetWindowRect(owner, &ownerRect)) request.owner = FromRect(ownerRect);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)
                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (GetMonitorInfoW(monitor, &info)) {
    request.work = FromRect(info.rcWork);
  } else {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    request.work = FromRect(work);
  }
  return PlaceOwnedDialog(request);
}

}  // namespace sv
