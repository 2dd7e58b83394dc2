#pragma once
// Shared by the skin tests: their scratch folder, and images and BMP files made for them.
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

// An uncompressed 24-bit BMP filled with one opaque colour (0xRRGGBB); every decoder reads it.
inline std::string SolidBmp(int32_t width, int32_t height, uint32_t rgb) {
  const uint32_t rowBytes = (uint32_t(width) * 3 + 3) / 4 * 4;
  const uint32_t dataSize = rowBytes * uint32_t(height);
  std::string out = "BM";
  PutU32(out, 54 + dataSize);
  PutU32(out, 0);
  PutU32(out, 54);
  PutU32(out, 40);
  PutU32(out, uint32_t(width));
  PutU32(out, uint32_t(height));
  PutU16(out, 1);
  PutU16(out, 24);
  for (int i = 0; i < 6; ++i) PutU32(out, i == 1 ? dataSize : 0);
  for (int32_t y = 0; y < height; ++y) {
    std::string row;
    for (int32_t x = 0; x < width; ++x) {
      row.push_back(char(rgb & 0xFF));
      row.push_back(char((rgb >> 8) & 0xFF));
      row.push_back(char((rgb >> 16) & 0xFF));
    }
    row.resize(rowBytes, '\0');
    out += row;
  }
  return out;
}

}  // namespace sv::test
