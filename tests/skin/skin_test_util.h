#pragma once
// Shared by the skin tests: their scratch folder and decoded images made for them.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "skin/skin_image.h"
#include "tests/support/test_files.h"

namespace sv::test {

inline std::wstring ScratchFolder(std::string_view name) { return ScratchFolder("skin", name); }

// A decoded image of one premultiplied pixel value.
inline SkinImage SolidImage(int32_t width, int32_t height, uint32_t pixel) {
  SkinImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(size_t(width) * size_t(height), pixel);
  image.hasAlpha = (pixel >> 24) != 0xFF;
  return image;
}

}  // namespace sv::test
