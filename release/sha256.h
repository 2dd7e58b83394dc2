#pragma once
// SHA-256 from the platform: CNG in the Windows build, OpenSSL's libcrypto on the host.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sv {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  // Ends the hash; the object starts afresh after it.
  Sha256Digest Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

Sha256Digest Sha256Of(std::string_view bytes);
// Hashes a whole file; false when it cannot be read to its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest, uint64_t& size);

// 64 lower-case hexadecimal digits.
std::string DigestHex(const Sha256Digest& digest);
// Exactly 64 hexadecimal digits of either case.
bool ParseDigestHex(std::string_view text, Sha256Digest& digest);

}  // namespace sv
