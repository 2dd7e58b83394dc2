#pragma once
// A decoded skin image: premultiplied ARGB pixels (alpha in the top byte), rows top to bottom.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

constexpr int32_t kMaxImageSide = 8192;
// What all images of one skin may decode to together: one image of the largest side and 16
// million pixels more (320 MiB). A real skin stays well under 10 million; without a limit a few
// small, well-compressed files claiming the largest size would fill a 32-bit address space.
constexpr uint64_t kSkinMaxDecodedPixels = uint64_t(kMaxImageSide) * kMaxImageSide + 16777216;
constexpr const wchar_t* kPixelLimitMessage =
    L"Skin gorselleri toplam 80 milyon piksel sinirini asiyor.";

struct SkinImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // width * height
  bool hasAlpha = false;         // some pixel has alpha below 255
};

// Decodes PNG, JPEG, BMP or GIF bytes. Fails with "Bos gorsel." for no bytes and with
// "Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF)." for anything undecodable or larger than
// 8192 pixels on a side. On Windows this is GDI+ (which the program starts once); the host
// build, which has no system decoder, reads uncompressed 24- and 32-bit BMP files only.
// An image of more than `maxPixels` pixels fails with `kPixelLimitMessage` before its pixels are
// decoded.
bool decodeImage(std::string_view bytes, SkinImage& out, std::wstring* errorOut = nullptr,
                 uint64_t maxPixels = UINT64_MAX);

// Writes the image as a PNG file with its alpha channel (GDI+, Windows only).
bool saveImagePng(const SkinImage& image, const std::wstring& path,
                  std::wstring* errorOut = nullptr);

}  // namespace sv
