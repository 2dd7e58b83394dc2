#pragma once
// GDI+ through its flat API, for the *_win.cpp files of the skin library only.
#include <windows.h>
#include <objidl.h>
#include <ole2.h>
#include <gdiplus.h>

namespace sv::gdip {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

}  // namespace sv::gdip
