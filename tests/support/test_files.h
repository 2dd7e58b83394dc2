#pragma once
// Shared by the C++ tests: scratch folders below the build tree, files in them, random bytes and
// little-endian fields.
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

}  // namespace sv::test
