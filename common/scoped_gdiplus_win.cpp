#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "common/scoped_win.h"

namespace sv {

ScopedGdiplus::ScopedGdiplus() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) token_ = token;
}

ScopedGdiplus::~ScopedGdiplus() {
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

}  // namespace sv
