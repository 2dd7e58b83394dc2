#include "release/release_key.h"

#include <vector>

#include "release/base64.h"
#include "release/sha256.h"

namespace sv {

namespace {

// SubjectPublicKeyInfo of an uncompressed P-256 point: SEQUENCE { SEQUENCE { id-ecPublicKey,
// prime256v1 }, BIT STRING }. Every such key has these 26 bytes before its 65-byte point.
constexpr uint8_t kSpkiPrefix[26] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr char kBegin[] = "-----BEGIN PUBLIC KEY-----";
constexpr char kEnd[] = "-----END PUBLIC KEY-----";

std::vector<uint8_t> Der(const ReleaseKey& key) {
  std::vector<uint8_t> der(std::begin(kSpkiPrefix), std::end(kSpkiPrefix));
  der.insert(der.end(), key.point.begin(), key.point.end());
  return der;
}

bool FromDer(const std::vector<uint8_t>& der, ReleaseKey& key) {
  if (der.size() != sizeof(kSpkiPrefix) + 65) return false;
  for (size_t i = 0; i < sizeof(kSpkiPrefix); ++i) {
    if (der[i] != kSpkiPrefix[i]) return false;
  }
  if (der[sizeof(kSpkiPrefix)] != 0x04) return false;
  std::copy(der.begin() + sizeof(kSpkiPrefix), der.end(), key.point.begin());
  return true;
}

}  // namespace

bool ParseReleaseKeyPem(std::string_view pem, ReleaseKey& key, std::string& error) {
  const size_t begin = pem.find(kBegin);
  const size_t end = pem.find(kEnd);
  if (begin == std::string_view::npos || end == std::string_view::npos || end < begin) {
    error = pem.find("PRIVATE KEY") != std::string_view::npos
                ? "this is a private key; give the public key (the .pub file)"
                : "not a PEM public key (no BEGIN PUBLIC KEY block)";
    return false;
  }
  std::string body;
  for (char c : pem.substr(begin + sizeof(kBegin) - 1, end - begin - (sizeof(kBegin) - 1))) {
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') body += c;
  }
  std::vector<uint8_t> der;
  if (!DecodeBase64(body, der)) {
    error = "the PEM block is not valid base64";
    return false;
  }
  if (!FromDer(der, key)) {
    error = "not an ECDSA P-256 public key";
    return false;
  }
  return true;
}

std::string FormatReleaseKeyPem(const ReleaseKey& key) {
  const std::string text = ReleaseKeyText(key);
  std::string pem = std::string(kBegin) + "\n";
  for (size_t i = 0; i < text.size(); i += 64) pem += text.substr(i, 64) + "\n";
  return pem + kEnd + "\n";
}

std::string ReleaseKeyText(const ReleaseKey& key) {
  const std::vector<uint8_t> der = Der(key);
  return EncodeBase64(der.data(), der.size());
}

bool ParseReleaseKeyText(std::string_view text, ReleaseKey& key) {
  std::vector<uint8_t> der;
  return DecodeBase64(text, der) && FromDer(der, key);
}

std::string ReleaseKeyId(const ReleaseKey& key) {
  const std::vector<uint8_t> der = Der(key);
  return DigestHex(Sha256Of({reinterpret_cast<const char*>(der.data()), der.size()})).substr(0, 16);
}

}  // namespace sv
