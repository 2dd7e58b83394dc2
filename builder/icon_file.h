#pragma once
// Icon files for the patcher's icon: the checks an .ico must pass before its images become
// RT_ICON resources, the RT_GROUP_ICON directory that names them, and the conversion of a PNG,
// JPEG or BMP picture into a six-size 32-bit icon.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

// Reserved 0, type 1, a non-zero image count, at least 22 bytes: the file can be taken as an icon.
bool HasIcoHeader(std::string_view ico);

// The whole file: header, every directory entry inside the file, every image's data range (no
// overflow) inside it. False with "İkon dosyası geçersiz." or "İkon dosyası bozuk.".
bool CheckIcoFile(std::string_view ico, std::wstring* errorOut = nullptr);

// The images' bytes in file order; the file must have passed CheckIcoFile.
std::vector<std::string_view> IcoImages(std::string_view ico);

// The group directory for images given ids 1..n: 14-byte entries with planes 1 and bit count 32
// where the file has 0.
std::string BuildIconGroup(std::string_view ico);

// Decodes the picture (the skin image decoder), centres it on a transparent square and writes
// 256, 64, 48, 32, 24 and 16 pixel 32-bit images.
bool ConvertImageToIcon(std::string_view imageBytes, std::string& icoOut,
                        std::wstring* errorOut = nullptr);

}  // namespace sv
