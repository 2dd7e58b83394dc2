#pragma once
// What every harness uses: a failed property aborts, which both libFuzzer and the replay runner
// report as a crash with the input that caused it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace sv::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Arbitrary bytes as a wide text: each byte one character, so that every code unit the parsers
// look for (digits, '-', '/') is reachable, and the high ones test the rest.
inline std::wstring WideBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) out += wchar_t(uint8_t(c));
  return out;
}

}  // namespace sv::fuzz
