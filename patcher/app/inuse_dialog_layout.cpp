#include "patcher/app/inuse_dialog_layout.h"

namespace sv {

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

InUseLayout LayOutInUse(int32_t headingHeight, int32_t bodyHeight) {
  InUseLayout l;
  l.bodyTop = headingHeight + 24;
  l.buttonTop = headingHeight + 24 + bodyHeight + 27;
  l.clientHeight = headingHeight + 24 + bodyHeight + 68;
  return l;
}

}  // namespace sv
