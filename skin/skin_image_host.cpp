// The host build has no system image decoder. So that skins can still be loaded and composed
// there (tests under the sanitizers, fuzzing), it reads the simplest format a skin may hold:
// uncompressed 24- and 32-bit BMP. Like GDI+, it takes such images as opaque.
#include "skin/skin_image.h"

namespace sv {

namespace {

constexpr const wchar_t* kUndecodable = L"Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).";

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

bool Fail(std::wstring* errorOut, const wchar_t* message) {
  if (errorOut) *errorOut = message;
  return false;
}

}  // namespace

bool decodeImage(std::string_view bytes, SkinImage& out, std::wstring* errorOut,
                 uint64_t maxPixels) {
  out = SkinImage();
  if (bytes.empty()) return Fail(errorOut, L"Bos gorsel.");
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  if (size < 54 || p[0] != 'B' || p[1] != 'M') return Fail(errorOut, kUndecodable);
  const uint32_t pixelOffset = U32(p + 10);
  const uint32_t headerSize = U32(p + 14);
  const int32_t width = int32_t(U32(p + 18));
  const int32_t rawHeight = int32_t(U32(p + 22));
  const uint16_t bits = U16(p + 28);
  const uint32_t compression = U32(p + 30);
  if (headerSize < 40 || U16(p + 26) != 1 || (bits != 24 && bits != 32) || compression != 0)
    return Fail(errorOut, kUndecodable);
  const bool topDown = rawHeight < 0;
  const int64_t height = topDown ? -int64_t(rawHeight) : rawHeight;
  if (width < 1 || width > kMaxImageSide || height < 1 || height > kMaxImageSide)
    return Fail(errorOut, kUndecodable);
  const size_t rowBytes = (size_t(bits) * size_t(width) + 31) / 32 * 4;
  if (pixelOffset > size || rowBytes * size_t(height) > size - pixelOffset)
    return Fail(errorOut, kUndecodable);
  if (uint64_t(width) * uint64_t(height) > maxPixels) return Fail(errorOut, kPixelLimitMessage);

  out.width = width;
  out.height = int32_t(height);
  out.pixels.resize(size_t(width) * size_t(height));
  const size_t step = bits / 8;
  for (int32_t y = 0; y < out.height; ++y) {
    const int32_t sourceRow = topDown ? y : out.height - 1 - y;
    const uint8_t* src = p + pixelOffset + size_t(sourceRow) * rowBytes;
    uint32_t* dst = out.pixels.data() + size_t(y) * size_t(width);
    for (int32_t x = 0; x < width; ++x, src += step)
      dst[x] = 0xFF000000u | (uint32_t(src[2]) << 16) | (uint32_t(src[1]) << 8) | src[0];
  }
  return true;
}

}  // namespace sv
