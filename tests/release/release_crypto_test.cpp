// SHA-256 and ECDSA P-256 through the platform (CNG under Wine, libcrypto on the host), against
// keys and signatures that openssl's own command line made.
#include <gtest/gtest.h>

#include "release/release_key.h"
#include "release/sha256.h"
#include "tests/support/test_files.h"

namespace sv {
namespace {

std::string Sample(std::wstring_view name) {
  return test::ReadFile(joinPath(joinPath(toWide(SV_BINARY_DIR), L"release-keys"), name));
}

ReleaseKey KeyFromPem(const std::string& pem) {
  ReleaseKey key;
  std::string error;
  EXPECT_TRUE(ParseReleaseKeyPem(pem, key, error)) << error;
  return key;
}

TEST(Sha256, KnownDigestsAndPiecesEqualTheWhole) {
  EXPECT_EQ(DigestHex(Sha256Of("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(DigestHex(Sha256Of("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::vector<uint8_t> data = test::RandomBytes(3 << 20, 5);
  const std::string whole(data.begin(), data.end());
  Sha256 pieces;
  pieces.Update(data.data(), 7);
  pieces.Update(data.data() + 7, data.size() - 7);
  const Sha256Digest expected = Sha256Of(whole);
  EXPECT_EQ(pieces.Finish(), expected);
  Sha256Digest fromFile{};
  uint64_t size = 0;
  const std::wstring path =
      test::WriteScratchFile(test::ScratchFolder("release", "sha"), L"data.bin", whole);
  ASSERT_TRUE(Sha256OfFile(path, fromFile, size));
  EXPECT_EQ(fromFile, expected);
  EXPECT_EQ(size, data.size());
  Sha256Digest parsed{};
  EXPECT_TRUE(ParseDigestHex(DigestHex(expected), parsed));
  EXPECT_EQ(parsed, expected);
  EXPECT_FALSE(ParseDigestHex(DigestHex(expected).substr(1), parsed));
  EXPECT_FALSE(ParseDigestHex("g" + DigestHex(expected).substr(1), parsed));
}

TEST(ReleaseSignature, OpensslSignatureVerifiesAndEveryChangeFails) {
  const ReleaseKey key = KeyFromPem(Sample(L"key.pub"));
  const ReleaseKey other = KeyFromPem(Sample(L"other.pub"));
  const std::string message = Sample(L"message.txt");
  const std::string raw = Sample(L"message.sig");
  ASSERT_EQ(raw.size(), 64u);
  ReleaseSignature signature{};
  std::copy(raw.begin(), raw.end(), signature.begin());

  EXPECT_TRUE(VerifyReleaseSignature(key, message, signature));
  EXPECT_FALSE(VerifyReleaseSignature(other, message, signature));
  EXPECT_FALSE(VerifyReleaseSignature(key, message + "x", signature));
  ReleaseSignature changed = signature;
  changed[63] ^= 1;
  EXPECT_FALSE(VerifyReleaseSignature(key, message, changed));
  EXPECT_FALSE(VerifyReleaseSignature(key, message, ReleaseSignature{}));
}

TEST(ReleaseKey, PemAndOneLineFormsReadBackAndWrongKeysSayWhy) {
  const ReleaseKey key = KeyFromPem(Sample(L"key.pub"));
  EXPECT_EQ(KeyFromPem(FormatReleaseKeyPem(key)), key);
  ReleaseKey back;
  ASSERT_TRUE(ParseReleaseKeyText(ReleaseKeyText(key), back));
  EXPECT_EQ(back, key);
  EXPECT_EQ(ReleaseKeyId(key).size(), 16u);

  std::string error;
  EXPECT_FALSE(ParseReleaseKeyPem(Sample(L"key.pem"), back, error));
  EXPECT_NE(error.find("private key"), std::string::npos);
  EXPECT_FALSE(ParseReleaseKeyPem("-----BEGIN PUBLIC KEY-----\nAAA*\n-----END PUBLIC KEY-----\n",
                                  back, error));
  // An Ed25519 key's block parses as base64 but is not a P-256 key.
  EXPECT_FALSE(ParseReleaseKeyPem(
      "-----BEGIN PUBLIC KEY-----\nMCowBQYDK2VwAyEAGb9ECWmEzf6FQbrBZ9w7lshQhqowtrbLDFw4rXAxZuE=\n"
      "-----END PUBLIC KEY-----\n",
      back, error));
  EXPECT_EQ(error, "not an ECDSA P-256 public key");
}

#ifndef _WIN32
TEST(ReleaseSignature, KeysMadeAndSignedByTheToolVerify) {
  std::string privatePem, publicPem, error;
  ASSERT_TRUE(GenerateReleaseKey(privatePem, publicPem, error)) << error;
  ReleaseSignature signature{};
  ReleaseKey signer;
  ASSERT_TRUE(SignRelease(privatePem, "body", signature, signer, error)) << error;
  EXPECT_EQ(signer, KeyFromPem(publicPem));
  EXPECT_TRUE(VerifyReleaseSignature(signer, "body", signature));
  EXPECT_FALSE(SignRelease(Sample(L"key.pub"), "body", signature, signer, error));
}
#endif

}  // namespace
}  // namespace sv
