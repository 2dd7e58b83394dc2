#pragma once
// GDI+ for the life of the program: started before any skin image is decoded, shut down after
// the last GDI+ object is gone.
#include <cstdint>

namespace sv {

class GdiplusScope {
public:
  GdiplusScope();
  ~GdiplusScope();
  GdiplusScope(const GdiplusScope&) = delete;
  GdiplusScope& operator=(const GdiplusScope&) = delete;

  bool started() const { return token_ != 0; }

private:
  uintptr_t token_ = 0;
};

}  // namespace sv
