#include "patcher/app/owned_dialog.h"

#include <algorithm>

namespace sv {

namespace {

bool Overlaps(const DialogRect& a, const DialogRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// The asked length, at least the minimum, at most what the work area leaves for the client
// (but never below the minimum: then the window is larger than the area).
int32_t Fit(int32_t asked, int32_t minimum, int32_t available) {
  const int32_t wanted = std::max(asked, minimum);
  return std::max(std::min(wanted, available), minimum);
}

}  // namespace

DialogRect CenterOver(const DialogRect& owner, int32_t width, int32_t height) {
  DialogRect r;
  r.left = owner.left + (owner.width() - width) / 2;
  r.top = owner.top + (owner.height() - height) / 2;
  r.right = r.left + width;
  r.bottom = r.top + height;
  return r;
}

DialogRect KeepInside(const DialogRect& rect, const DialogRect& work) {
  DialogRect r = rect;
  const int32_t w = r.width(), h = r.height();
  if (r.right > work.right) r.left = work.right - w;
  if (r.bottom > work.bottom) r.top = work.bottom - h;
  if (r.left < work.left) r.left = work.left;
  if (r.top < work.top) r.top = work.top;
  r.right = r.left + w;
  r.bottom = r.top + h;
  return r;
}

OwnedDialogPlacement PlaceOwnedDialog(const OwnedDialogRequest& request) {
  const DialogRect& work = request.work;
  OwnedDialogPlacement p;
  p.client.width = Fit(request.client.width, request.minClient.width, work.width() - request.frame.width);
  p.client.height = Fit(request.client.height, request.minClient.height, work.height() - request.frame.height);
  p.shrunk = p.client.width < request.client.width || p.client.height < request.client.height;
  const int32_t width = p.client.width + request.frame.width;
  const int32_t height = p.client.height + request.frame.height;
  const DialogRect& around = Overlaps(request.owner, work) ? request.owner : work;
  p.window = KeepInside(CenterOver(around, width, height), work);
  return p;
}

}  // namespace sv
