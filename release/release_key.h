#pragma once
// The operator's release key: ECDSA over P-256 with SHA-256. A patcher holds the public key; the
// release tool signs with the private one. Keys are PEM files as openssl writes them
// (SubjectPublicKeyInfo for the public key, PKCS#8 for the private one).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

struct ReleaseKey {
  std::array<uint8_t, 65> point{};  // uncompressed: 0x04, X, Y
  bool operator==(const ReleaseKey&) const = default;
};

using ReleaseSignature = std::array<uint8_t, 64>;  // r and s, 32 bytes each, big-endian

// A "PUBLIC KEY" PEM block of a P-256 key; false with the reason otherwise.
bool ParseReleaseKeyPem(std::string_view pem, ReleaseKey& key, std::string& error);
std::string FormatReleaseKeyPem(const ReleaseKey& key);
// The same key on one line: base64 of its DER (what the manifest and the trust state hold).
std::string ReleaseKeyText(const ReleaseKey& key);
bool ParseReleaseKeyText(std::string_view text, ReleaseKey& key);
// The key's short name for logs and messages: the first 16 hex digits of its DER's SHA-256.
std::string ReleaseKeyId(const ReleaseKey& key);

// With the platform's ECDSA: CNG in the Windows build, libcrypto on the host.
bool VerifyReleaseSignature(const ReleaseKey& key, std::string_view message,
                            const ReleaseSignature& signature);

// Signing and key making, for the release tool (the host build's libcrypto).
bool GenerateReleaseKey(std::string& privatePem, std::string& publicPem, std::string& error);
bool SignRelease(std::string_view privatePem, std::string_view message,
                 ReleaseSignature& signature, ReleaseKey& publicKey, std::string& error);

}  // namespace sv
