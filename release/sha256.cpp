#include "release/sha256.h"

#include <vector>

#include "common/file_os.h"

namespace sv {

Sha256Digest Sha256Of(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.Finish();
}

bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest, uint64_t& size) {
  os::File file;
  if (!file.openScan(path)) return false;
  std::vector<uint8_t> buffer(1 << 20);
  Sha256 hash;
  size = 0;
  for (;;) {
    uint32_t got = 0;
    if (!file.read(buffer.data(), uint32_t(buffer.size()), got)) return false;
    if (got == 0) break;
    hash.Update(buffer.data(), got);
    size += got;
  }
  digest = hash.Finish();
  return true;
}

std::string DigestHex(const Sha256Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool ParseDigestHex(std::string_view text, Sha256Digest& digest) {
  if (text.size() != 64) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < 32; ++i) {
    const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    digest[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

}  // namespace sv
