#include "release/base64.h"

namespace sv {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string EncodeBase64(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t n = uint32_t(data[i]) << 16 | (i + 1 < size ? uint32_t(data[i + 1]) << 8 : 0) |
                       (i + 2 < size ? data[i + 2] : 0);
    text += kAlphabet[n >> 18 & 63];
    text += kAlphabet[n >> 12 & 63];
    text += i + 1 < size ? kAlphabet[n >> 6 & 63] : '=';
    text += i + 2 < size ? kAlphabet[n & 63] : '=';
  }
  return text;
}

bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (pad == 1 && text[i + 2] == '=') return false;
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) {
      const int v = k >= 4 - pad ? 0 : Value(text[i + k]);
      if (v < 0) return false;
      n = n << 6 | uint32_t(v);
    }
    out.push_back(uint8_t(n >> 16));
    if (pad < 2) out.push_back(uint8_t(n >> 8));
    if (pad < 1) out.push_back(uint8_t(n));
  }
  return true;
}

}  // namespace sv
