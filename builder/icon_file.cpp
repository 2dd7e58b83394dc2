#include "builder/icon_file.h"

#include <algorithm>
#include <cstddef>

#include "builder/le_bytes.h"
#include "skin/skin_image.h"

namespace sv {

namespace {

uint16_t Le16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
uint32_t Le32(std::string_view b, size_t at) { return uint32_t(Le16(b, at)) | uint32_t(Le16(b, at + 2)) << 16; }

constexpr size_t kIcoHeader = 6;
constexpr size_t kIcoEntry = 16;

}  // namespace

bool HasIcoHeader(std::string_view ico) {
  return ico.size() >= 22 && ico.substr(0, 4) == std::string_view("\0\0\1\0", 4) && Le16(ico, 4) != 0;
}

bool CheckIcoFile(std::string_view ico, std::wstring* errorOut) {
  if (!HasIcoHeader(ico)) {
    if (errorOut) *errorOut = L"İkon dosyası geçersiz.";
    return false;
  }
  const size_t count = Le16(ico, 4);
  bool ok = kIcoHeader + kIcoEntry * count <= ico.size();
  for (size_t i = 0; ok && i < count; ++i) {
    const size_t entry = kIcoHeader + kIcoEntry * i;
    const uint64_t size = Le32(ico, entry + 8), offset = Le32(ico, entry + 12);
    ok = size != 0 && offset + size <= ico.size();
  }
  if (!ok && errorOut) *errorOut = L"İkon dosyası bozuk.";
  return ok;
}

std::vector<std::string_view> IcoImages(std::string_view ico) {
  std::vector<std::string_view> images;
  const size_t count = Le16(ico, 4);
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = kIcoHeader + kIcoEntry * i;
    images.push_back(ico.substr(Le32(ico, entry + 12), Le32(ico, entry + 8)));
  }
  return images;
}

std::string BuildIconGroup(std::string_view ico) {
  const size_t count = Le16(ico, 4);
  std::string group;
  PutLe16(group, 0);
  PutLe16(group, 1);
  PutLe16(group, uint32_t(count));
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = kIcoHeader + kIcoEntry * i;
    group.append(ico.substr(entry, 3));  // width, height, colour count
    group.push_back('\0');
    const uint16_t planes = Le16(ico, entry + 4), bits = Le16(ico, entry + 6);
    PutLe16(group, planes ? planes : 1);
    PutLe16(group, bits ? bits : 32);
    PutLe32(group, Le32(ico, entry + 8));
    PutLe16(group, uint32_t(i + 1));
  }
  return group;
}

namespace {

// Box filter over premultiplied pixels: every target pixel averages the source pixels it covers
// (at least one), which keeps edges clean when a large picture becomes a 16-pixel icon.
std::vector<uint32_t> Scale(const std::vector<uint32_t>& src, int side, int size) {
  std::vector<uint32_t> out(size_t(size) * size);
  for (int y = 0; y < size; ++y) {
    const int y0 = int(int64_t(y) * side / size);
    const int y1 = std::max(y0 + 1, int(int64_t(y + 1) * side / size));
    for (int x = 0; x < size; ++x) {
      const int x0 = int(int64_t(x) * side / size);
      const int x1 = std::max(x0 + 1, int(int64_t(x + 1) * side / size));
      uint64_t sum[4] = {0, 0, 0, 0};
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          const uint32_t p = src[size_t(sy) * side + sx];
          for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
        }
      }
      const uint64_t n = uint64_t(y1 - y0) * (x1 - x0);
      uint32_t p = 0;
      for (int c = 0; c < 4; ++c) p |= uint32_t((sum[c] + n / 2) / n) << (8 * c);
      out[size_t(y) * size + x] = p;
    }
  }
  return out;
}

std::string DibImage(const std::vector<uint32_t>& pixels, int size) {
  const uint32_t maskStride = uint32_t((size + 31) / 32) * 4;
  std::string dib;
  PutLe32(dib, 40);
  PutLe32(dib, uint32_t(size));
  PutLe32(dib, uint32_t(size) * 2);
  PutLe16(dib, 1);
  PutLe16(dib, 32);
  PutLe32(dib, 0);
  PutLe32(dib, (maskStride + 4 * uint32_t(size)) * uint32_t(size));
  for (int i = 0; i < 4; ++i) PutLe32(dib, 0);
  for (int y = size - 1; y >= 0; --y) {  // bottom-up
    for (int x = 0; x < size; ++x) {
      const uint32_t p = pixels[size_t(y) * size + x];
      const uint32_t a = p >> 24;
      uint32_t rgb[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};  // B, G, R
      if (a > 0 && a < 255) {
        for (uint32_t& c : rgb) c = std::min<uint32_t>(255, c * 255 / a);
      }
      dib.push_back(char(rgb[0]));
      dib.push_back(char(rgb[1]));
      dib.push_back(char(rgb[2]));
      dib.push_back(char(a));
    }
  }
  dib.append(size_t(maskStride) * size, '\0');
  return dib;
}

}  // namespace

bool ConvertImageToIcon(std::string_view imageBytes, std::string& icoOut, std::wstring* errorOut) {
  SkinImage image;
  if (!decodeImage(imageBytes, image, errorOut)) return false;
  const int side = std::max(image.width, image.height);
  std::vector<uint32_t> canvas(size_t(side) * side, 0);
  const int left = (side - image.width) / 2, top = (side - image.height) / 2;
  for (int y = 0; y < image.height; ++y) {
    std::copy_n(image.pixels.begin() + std::ptrdiff_t(y) * image.width, image.width,
                canvas.begin() + std::ptrdiff_t(y + top) * side + left);
  }
  static const int kSizes[] = {256, 64, 48, 32, 24, 16};
  std::vector<std::string> images;
  for (int size : kSizes) images.push_back(DibImage(Scale(canvas, side, size), size));
  icoOut.clear();
  PutLe16(icoOut, 0);
  PutLe16(icoOut, 1);
  PutLe16(icoOut, 6);
  uint32_t offset = 6 + 6 * 16;
  for (size_t i = 0; i < images.size(); ++i) {
    const uint8_t dim = kSizes[i] == 256 ? 0 : uint8_t(kSizes[i]);
    icoOut.push_back(char(dim));
    icoOut.push_back(char(dim));
    icoOut.push_back('\0');
    icoOut.push_back('\0');
    PutLe16(icoOut, 1);
    PutLe16(icoOut, 32);
    PutLe32(icoOut, uint32_t(images[i].size()));
    PutLe32(icoOut, offset);
    offset += uint32_t(images[i].size());
  }
  for (const std::string& dib : images) icoOut += dib;
  return true;
}

}  // namespace sv
