#pragma once
// A decoded skin image: premultiplied ARGB pixels (alpha in the top byte), rows top to bottom.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

constexpr int32_t kMaxImageSide = 8192;

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
bool decodeImage(std::string_view bytes, SkinImage& out, std::wstring* errorOut = nullptr);

// Writes the image as a PNG file with its alpha channel (GDI+, Windows only).
bool saveImagePng(const SkinImage& image, const std::wstring& path,
                  std::wstring* errorOut = nullptr);

}  // namespace sv
