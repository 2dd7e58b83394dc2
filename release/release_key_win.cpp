// ECDSA P-256 verification through CNG (BCrypt, since Vista). Signing stays with the host build.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "release/release_key.h"
#include "release/sha256.h"

namespace sv {

bool VerifyReleaseSignature(const ReleaseKey& key, std::string_view message,
                            const ReleaseSignature& signature) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
    return false;
  }
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key.point.data() + 1, 64);
  BCRYPT_KEY_HANDLE handle = nullptr;
  bool ok = false;
  if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob.data(),
                          ULONG(blob.size()), 0) == 0) {
    Sha256Digest digest = Sha256Of(message);
    ReleaseSignature copy = signature;
    ok = BCryptVerifySignature(handle, nullptr, digest.data(), ULONG(digest.size()), copy.data(),
                               ULONG(copy.size()), 0) == 0;
    BCryptDestroyKey(handle);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

bool GenerateReleaseKey(std::string&, std::string&, std::string& error) {
  error = "keys are made by the Linux build of SarvikPublish";
  return false;
}

bool SignRelease(std::string_view, std::string_view, ReleaseSignature&, ReleaseKey&,
                 std::string& error) {
  error = "releases are signed by the Linux build of SarvikPublish";
  return false;
}

}  // namespace sv
