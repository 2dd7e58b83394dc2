#include "skin/pixels.h"

#include <algorithm>

namespace sv {

namespace {

constexpr uint32_t kLaneMask = 0x00FF00FF;

// Two 8-bit lanes of `lanes` (under kLaneMask) times f / 255 each; the lanes are 16 bits apart,
// so neither product nor rounding can carry into the other.
uint32_t ScaleLanes(uint32_t lanes, uint32_t f) {
  uint32_t v = lanes * f;
  v = (v + ((v >> 8) & kLaneMask) + 0x00800080) >> 8;
  return v & kLaneMask;
}

// One clipped span of rows: [x0, x1) x [y0, y1) in target coordinates.
struct Span {
  int32_t x0, y0, x1, y1;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Span ClipToTarget(int64_t x, int64_t y, int64_t w, int64_t h, int32_t tw, int32_t th) {
  Span s;
  s.x0 = int32_t(std::clamp<int64_t>(x, 0, tw));
  s.y0 = int32_t(std::clamp<int64_t>(y, 0, th));
  s.x1 = int32_t(std::clamp<int64_t>(x + w, 0, tw));
  s.y1 = int32_t(std::clamp<int64_t>(y + h, 0, th));
  return s;
}

}  // namespace

uint32_t scalePixel(uint32_t pixel, uint32_t f) {
  return ScaleLanes(pixel & kLaneMask, f) | (ScaleLanes((pixel >> 8) & kLaneMask, f) << 8);
}

uint32_t premultiply(uint32_t argb) {
  const uint32_t a = argb >> 24;
  return (scalePixel(argb, a) & 0x00FFFFFF) | (a << 24);
}

uint32_t blendPixel(uint32_t dst, uint32_t src) {
  const uint32_t a = src >> 24;
  if (a == 255) return src;
  if (a == 0) return dst;
  return src + scalePixel(dst, 255 - a);
}

void drawImage(uint32_t* target, int32_t targetWidth, int32_t targetHeight, const SkinImage& image,
               int32_t x, int32_t y, int32_t srcX, int32_t srcY, int32_t srcWidth,
               int32_t srcHeight, int32_t opacity) {
  if (!target || targetWidth <= 0 || targetHeight <= 0 || opacity < 1) return;
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() < size_t(image.width) * size_t(image.height))
    return;
  opacity = std::min(opacity, 255);
  if (srcWidth == -1) srcWidth = image.width - srcX;
  if (srcHeight == -1) srcHeight = image.height - srcY;
  // Clip the source rectangle to the image, moving the destination with it.
  int64_t sx = srcX, sy = srcY, w = srcWidth, h = srcHeight, dx = x, dy = y;
  if (sx < 0) {
    w += sx;
    dx -= sx;
    sx = 0;
  }
  if (sy < 0) {
    h += sy;
    dy -= sy;
    sy = 0;
  }
  w = std::min<int64_t>(w, image.width - sx);
  h = std::min<int64_t>(h, image.height - sy);
  if (w <= 0 || h <= 0) return;
  const Span span = ClipToTarget(dx, dy, w, h, targetWidth, targetHeight);
  if (span.empty()) return;
  for (int32_t ty = span.y0; ty < span.y1; ++ty) {
    const uint32_t* src = image.pixels.data() + size_t(sy + (ty - dy)) * size_t(image.width) +
                          size_t(sx + (span.x0 - dx));
    uint32_t* dst = target + size_t(ty) * size_t(targetWidth) + size_t(span.x0);
    for (int32_t tx = span.x0; tx < span.x1; ++tx, ++src, ++dst) {
      const uint32_t pixel = opacity == 255 ? *src : scalePixel(*src, uint32_t(opacity));
      *dst = blendPixel(*dst, pixel);
    }
  }
}

void fillRect(uint32_t* target, int32_t targetWidth, int32_t targetHeight, int32_t x, int32_t y,
              int32_t width, int32_t height, uint32_t argb) {
  if (!target || targetWidth <= 0 || targetHeight <= 0 || width <= 0 || height <= 0) return;
  const Span span = ClipToTarget(x, y, width, height, targetWidth, targetHeight);
  if (span.empty()) return;
  const uint32_t pixel = premultiply(argb);
  for (int32_t ty = span.y0; ty < span.y1; ++ty) {
    uint32_t* dst = target + size_t(ty) * size_t(targetWidth);
    for (int32_t tx = span.x0; tx < span.x1; ++tx) dst[tx] = blendPixel(dst[tx], pixel);
  }
}

int32_t gaugeFillWidth(int32_t fullWidth, float progress) {
  double p = progress;
  if (!(p > 0)) p = 0;
  if (p > 1) p = 1;
  return int32_t(double(fullWidth) * p + 0.5);
}

}  // namespace sv
