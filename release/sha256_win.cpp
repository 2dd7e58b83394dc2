#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "release/sha256.h"

namespace sv {

namespace {

// One provider for the process: opening it is the costly part, and it is safe across threads.
BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
      handle = nullptr;
    }
    return handle;
  }();
  return provider;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  void Begin() {
    if (!Provider() || BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0) != 0) {
      throw std::runtime_error("SHA-256 unavailable");
    }
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) { state_->Begin(); }

Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
}

void Sha256::Update(const void* data, size_t size) {
  const UCHAR* p = static_cast<const UCHAR*>(data);
  while (size > 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : ULONG(size);
    BCryptHashData(state_->hash, const_cast<UCHAR*>(p), piece, 0);
    p += piece;
    size -= piece;
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  BCryptFinishHash(state_->hash, digest.data(), ULONG(digest.size()), 0);
  BCryptDestroyHash(state_->hash);
  state_->hash = nullptr;
  state_->Begin();
  return digest;
}

}  // namespace sv
