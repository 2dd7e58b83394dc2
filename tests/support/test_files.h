#pragma once
// Shared by the C++ tests: scratch folders below the build tree, files in them, random bytes,
// little-endian fields and a BMP image every decoder reads.
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv::test {

// <build>/test-tmp/<area>/<name>, created when missing; it may hold what an earlier run left.
inline std::wstring ScratchFolder(std::string_view area, std::string_view name) {
  std::wstring folder = joinPath(toWide(SV_BINARY_DIR), L"test-tmp");
  folder = joinPath(joinPath(folder, toWide(area)), toWide(name));
  createDirectories(folder);
  return folder;
}

inline std::wstring WriteScratchFile(const std::wstring& folder, std::wstring_view name,
                                     std::string_view data) {
  std::wstring path = joinPath(folder, name);
  writeFileAtomic(path, data.data(), data.size());
  return path;
}

inline std::string ReadFile(const std::wstring& path) {
  std::string data;
  readWholeFile(path, 1u << 30, data);
  return data;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

inline void PutU16(std::string& out, uint16_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char(v >> 8));
}

inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
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
