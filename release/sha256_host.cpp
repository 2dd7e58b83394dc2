#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <stdexcept>

#include "release/sha256.h"

namespace sv {

namespace {

// Before anything else starts libcrypto (libcurl does, lazily): without its exit handler, a thread
// that used a hash and ends while the process exits cannot have its state freed twice.
const bool kCryptoStarted = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 unavailable");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::Update(const void* data, size_t size) {
  EVP_DigestUpdate(state_->context, data, size);
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned length = 0;
  EVP_DigestFinal_ex(state_->context, digest.data(), &length);
  EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
  return digest;
}

}  // namespace sv
