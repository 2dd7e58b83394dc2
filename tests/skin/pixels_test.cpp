#include "skin/pixels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "skin_test_util.h"

namespace sv {
namespace {

const auto Solid = test::SolidImage;

// Each pixel tells its own position, so a misplaced copy shows.
SkinImage Numbered(int32_t w, int32_t h) {
  SkinImage image = Solid(w, h, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      image.pixels[size_t(y * w + x)] = 0xFF000000u | uint32_t(y << 8 | x);
  return image;
}

// One channel by the rounding rule: x / 255 as (x + (x >> 8) + 128) >> 8.
uint32_t ScaleChannel(uint32_t v, uint32_t f) {
  const uint32_t x = v * f;
  return (x + (x >> 8) + 128) >> 8;
}

TEST(Pixels, ScalingWorksPerChannel) {
  // Two channels share one multiplication; none may spill into its neighbour.
  for (uint32_t f = 0; f <= 255; ++f) {
    for (uint32_t v = 0; v <= 255; ++v) {
      const uint32_t pixel = v << 24 | (255 - v) << 16 | v << 8 | (v ^ 0x5A);
      const uint32_t expected = ScaleChannel(v, f) << 24 | ScaleChannel(255 - v, f) << 16 |
                                ScaleChannel(v, f) << 8 | ScaleChannel(v ^ 0x5A, f);
      ASSERT_EQ(scalePixel(pixel, f), expected) << v << " " << f;
      // Never more than one off the exact quotient, and exact at the ends.
      ASSERT_LE(std::abs(double(ScaleChannel(v, f)) - double(v) * f / 255.0), 1.0);
    }
    ASSERT_EQ(scalePixel(0xFFFFFFFF, f), f * 0x01010101u);
    ASSERT_EQ(scalePixel(0x12345678, 255), 0x12345678u);
  }
  EXPECT_EQ(premultiply(0x80FF0000), 0x80800000u);
  EXPECT_EQ(premultiply(0xFF123456), 0xFF123456u);
  EXPECT_EQ(premultiply(0x00FFFFFF), 0x00000000u);
}

TEST(Pixels, BlendRule) {
  EXPECT_EQ(blendPixel(0xFF102030, 0xFFA0B0C0), 0xFFA0B0C0u);  // opaque replaces
  EXPECT_EQ(blendPixel(0xFF102030, 0x00FFFFFF), 0xFF102030u);  // alpha 0 leaves
  // Half alpha: src + dst * 127 / 255 per channel, rounded.
  // 0xFF*127/255 = 127; 0x40*127/255 = 31.87 -> 32; 0x80*127/255 = 63.75 -> 64.
  EXPECT_EQ(blendPixel(0xFF4080FF, 0x80400000), 0xFF60407Fu);
  EXPECT_EQ(blendPixel(0x00000000, 0x80402010), 0x80402010u);
}

TEST(Pixels, DrawImageOpacityAndClipping) {
  std::vector<uint32_t> target(8 * 6, 0xFF0000FF);
  const SkinImage red = Solid(3, 2, 0xFFFF0000);
  drawImage(target.data(), 8, 6, red, 1, 1, 0, 0, -1, -1, 0);
  EXPECT_EQ(target[9], 0xFF0000FFu);
  drawImage(target.data(), 8, 6, red, 1, 1, 0, 0, -1, -1, 300);  // clamped to opaque
  EXPECT_EQ(target[9], 0xFFFF0000u);
  EXPECT_EQ(target[8 + 4], 0xFF0000FFu);
  drawImage(target.data(), 8, 6, Solid(1, 1, 0xFFFFFFFF), 0, 0, 0, 0, -1, -1, 128);
  // White scaled to 0x80808080, over blue: 0x80 + 0xFF * 127 / 255.
  EXPECT_EQ(target[0], 0xFF8080FFu);

  // At (-10, -10) only the lower-right part lands.
  const SkinImage n = Numbered(12, 12);
  std::vector<uint32_t> small(4 * 4, 0);
  drawImage(small.data(), 4, 4, n, -10, -10);
  EXPECT_EQ(small[0], 0xFF000000u | 10 << 8 | 10);
  EXPECT_EQ(small[1 * 4 + 1], 0xFF000000u | 11 << 8 | 11);
  EXPECT_EQ(small[2], 0u);
  EXPECT_EQ(small[2 * 4], 0u);
  // Beyond the target, or off the source, nothing at all.
  std::vector<uint32_t> untouched(4 * 4, 0);
  drawImage(untouched.data(), 4, 4, n, 4, 0);
  drawImage(untouched.data(), 4, 4, n, 0, 4);
  drawImage(untouched.data(), 4, 4, n, -12, 0);
  drawImage(untouched.data(), 4, 4, n, 0, 0, 12, 0, -1, -1);
  drawImage(untouched.data(), 4, 4, n, 2147483000, 2147483000);
  drawImage(untouched.data(), 4, 4, n, -2147483000, 0, 0, 0, 2147483000, -1);
  EXPECT_EQ(untouched, std::vector<uint32_t>(16, 0));
  // A source rectangle with a negative corner moves the destination along.
  drawImage(small.data(), 4, 4, n, 0, 0, -1, -1, 3, 3);
  EXPECT_EQ(small[1 * 4 + 1], 0xFF000000u);
  EXPECT_EQ(small[2 * 4 + 2], 0xFF000000u | 1 << 8 | 1);
  EXPECT_EQ(small[3 * 4 + 3], 0u);
}

TEST(Pixels, FillRectClipsAndPremultiplies) {
  std::vector<uint32_t> target(5 * 5, 0xFF000000);
  fillRect(target.data(), 5, 5, -2, 3, 4, 10, 0xFFFFFFFF);
  EXPECT_EQ(target[3 * 5 + 0], 0xFFFFFFFFu);
  EXPECT_EQ(target[4 * 5 + 1], 0xFFFFFFFFu);
  EXPECT_EQ(target[3 * 5 + 2], 0xFF000000u);
  EXPECT_EQ(target[2 * 5 + 0], 0xFF000000u);
  fillRect(target.data(), 5, 5, 4, 0, 1, 1, 0x8C101010);
  // 0x10 * 0x8C / 255 = 8.78 -> 9 premultiplied, over black.
  EXPECT_EQ(target[4], 0xFF090909u);
  fillRect(target.data(), 5, 5, 0, 0, 0, 5, 0xFFFFFFFF);
  fillRect(target.data(), 5, 5, 5, 0, 3, 5, 0xFFFFFFFF);
  EXPECT_EQ(target[0], 0xFF000000u);
}

TEST(Pixels, GaugeWidth) {
  EXPECT_EQ(gaugeFillWidth(201, 0.5f), 101);
  EXPECT_EQ(gaugeFillWidth(201, 1.7f), 201);
  EXPECT_EQ(gaugeFillWidth(201, -1.0f), 0);
  EXPECT_EQ(gaugeFillWidth(201, std::nanf("")), 0);
  EXPECT_EQ(gaugeFillWidth(200, 0.4f), 80);
  EXPECT_EQ(gaugeFillWidth(0, 0.5f), 0);
}

}  // namespace
}  // namespace sv
