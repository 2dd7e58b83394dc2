#pragma once
// Pixel work on premultiplied ARGB buffers: source-over blending in 8-bit integer arithmetic,
// clipped image copies and fills. No floating point per pixel.
#include <cstdint>

#include "skin/skin_image.h"

namespace sv {

// x * f / 255 for every byte of `pixel` (f 0 ... 255), rounded as (v + (v >> 8) + 128) >> 8.
uint32_t scalePixel(uint32_t pixel, uint32_t f);
// A straight ARGB colour in premultiplied form (alpha kept, colour channels scaled by it).
uint32_t premultiply(uint32_t argb);
// Premultiplied source over destination: alpha 255 replaces, 0 leaves, else
// src + dst * (255 - a) / 255.
uint32_t blendPixel(uint32_t dst, uint32_t src);

// Copies the image's rectangle (srcX, srcY, srcWidth, srcHeight) to (x, y) in the target,
// blended, at `opacity` (clamped to 255; below 1 draws nothing). A srcWidth/srcHeight of -1
// reaches to the image's right/bottom edge. Clipped against both buffers on every side.
void drawImage(uint32_t* target, int32_t targetWidth, int32_t targetHeight, const SkinImage& image,
               int32_t x, int32_t y, int32_t srcX = 0, int32_t srcY = 0, int32_t srcWidth = -1,
               int32_t srcHeight = -1, int32_t opacity = 255);
// Blends a straight ARGB colour over the clipped rectangle.
void fillRect(uint32_t* target, int32_t targetWidth, int32_t targetHeight, int32_t x, int32_t y,
              int32_t width, int32_t height, uint32_t argb);

// Columns of a gauge's full image shown at `progress` (clamped to 0 ... 1; NaN counts as 0).
int32_t gaugeFillWidth(int32_t fullWidth, float progress);

}  // namespace sv
