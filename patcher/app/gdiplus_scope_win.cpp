#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "patcher/app/gdiplus_scope.h"

namespace sv {

GdiplusScope::GdiplusScope() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) token_ = token;
}

GdiplusScope::~GdiplusScope() {
  if (token_) Gdiplus::GdiplusShutdown(ULONG_PTR(token_));
}

}  // namespace sv
