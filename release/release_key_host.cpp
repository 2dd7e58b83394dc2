// ECDSA P-256 through OpenSSL's EVP interfaces. Signatures cross as r‖s; OpenSSL speaks DER.
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "release/release_key.h"

namespace sv {

namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

Owned<EVP_PKEY> PublicFromKey(const ReleaseKey& key) {
  const std::string pem = FormatReleaseKeyPem(key);
  Owned<BIO> bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
  return Owned<EVP_PKEY>(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool KeyFromPublic(EVP_PKEY* pkey, ReleaseKey& key) {
  Owned<BIO> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PUBKEY(bio.get(), pkey) != 1) return false;
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  std::string error;
  return ParseReleaseKeyPem(std::string_view(data, size_t(size)), key, error);
}

bool IsP256(EVP_PKEY* pkey) {
  char curve[64] = {};
  size_t length = 0;
  return EVP_PKEY_get_base_id(pkey) == EVP_PKEY_EC &&
         EVP_PKEY_get_utf8_string_param(pkey, "group", curve, sizeof(curve), &length) == 1 &&
         std::string_view(curve) == "prime256v1";
}

}  // namespace

bool VerifyReleaseSignature(const ReleaseKey& key, std::string_view message,
                            const ReleaseSignature& signature) {
  Owned<EVP_PKEY> pkey = PublicFromKey(key);
  if (!pkey) return false;
  Owned<ECDSA_SIG> sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
  if (derSize <= 0) return false;
  Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  const bool ok =
      context &&
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
      EVP_DigestVerify(context.get(), der, size_t(derSize),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  OPENSSL_free(der);
  return ok;
}

bool GenerateReleaseKey(std::string& privatePem, std::string& publicPem, std::string& error) {
  Owned<EVP_PKEY> pkey(EVP_EC_gen("P-256"));
  Owned<BIO> bio(BIO_new(BIO_s_mem()));
  ReleaseKey key;
  if (!pkey || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      !KeyFromPublic(pkey.get(), key)) {
    error = "the key could not be made (OpenSSL)";
    return false;
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  privatePem.assign(data, size_t(size));
  publicPem = FormatReleaseKeyPem(key);
  return true;
}

bool SignRelease(std::string_view privatePem, std::string_view message,
                 ReleaseSignature& signature, ReleaseKey& publicKey, std::string& error) {
  Owned<BIO> bio(BIO_new_mem_buf(privatePem.data(), int(privatePem.size())));
  Owned<EVP_PKEY> pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                           : nullptr);
  if (!pkey) {
    error = "not a PEM private key (an encrypted key is not supported)";
    return false;
  }
  if (!IsP256(pkey.get()) || !KeyFromPublic(pkey.get(), publicKey)) {
    error = "not an ECDSA P-256 private key";
    return false;
  }
  Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  size_t derSize = 0;
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &derSize,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    error = "signing failed (OpenSSL)";
    return false;
  }
  std::vector<unsigned char> der(derSize);
  if (EVP_DigestSign(context.get(), der.data(), &derSize,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    error = "signing failed (OpenSSL)";
    return false;
  }
  const unsigned char* p = der.data();
  Owned<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &p, long(derSize)));
  if (!sig) {
    error = "signing failed (OpenSSL)";
    return false;
  }
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  if (BN_bn2binpad(r, signature.data(), 32) != 32 || BN_bn2binpad(s, signature.data() + 32, 32) != 32) {
    error = "signing failed (OpenSSL)";
    return false;
  }
  return true;
}

}  // namespace sv
