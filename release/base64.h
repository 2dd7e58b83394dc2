#pragma once
// Base64 (RFC 4648, with padding) for keys and signatures in text files.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

std::string EncodeBase64(const uint8_t* data, size_t size);
// Strict: padding as required, no characters outside the alphabet (line breaks are the caller's).
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out);

}  // namespace sv
