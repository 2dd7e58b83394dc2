#pragma once
// Little-endian writers for the binary formats the builder produces (version block, icons).
#include <cstdint>
#include <string>

namespace sv {

inline void PutLe16(std::string& out, uint32_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char((v >> 8) & 0xFF));
}

inline void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

}  // namespace sv
