// The signer rule with real Authenticode signatures: files signed by osslsigncode with two test
// certificates that openssl made at test time (tests/support/make_signed_samples.py). What the
// system's WinVerifyTrust answers for each file is printed; the rule is then applied to what the
// system read from the files.
#include "patcher/engine/self_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {
namespace {

std::wstring Sample(const wchar_t* name) {
  return L"Z:" + toWide(SV_BINARY_DIR) + L"/signed-samples/" + name;
}

FileSignature Read(const wchar_t* name) {
  const FileSignature s = ReadFileSignature(Sample(name));
  std::printf("%-16ls present=%d WinVerifyTrust=0x%08x signer=%u bytes\n", name, int(s.present),
              unsigned(s.trust), unsigned(s.signerCert.size()));
  return s;
}

std::string CertDer(const wchar_t* name) {
  // The PEM file openssl wrote, decoded by hand: the bytes the signature must carry.
  std::string pem;
  EXPECT_TRUE(readWholeFile(Sample(name), 1 << 20, pem));
  std::string b64;
  std::string::size_type begin = pem.find('\n') + 1, end = pem.find("-----END");
  for (char c : pem.substr(begin, end - begin)) {
    if (c != '\n' && c != '\r') b64 += c;
  }
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : b64) {
    if (c == '=') break;
    acc = (acc << 6) | uint32_t(kAlphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((acc >> bits) & 0xFF);
    }
  }
  return out;
}

TEST(SignerRule, WhatTheSystemReadsFromSignedFiles) {
  const FileSignature unsignedFile = Read(L"unsigned.exe");
  const FileSignature a1 = Read(L"a1.exe");
  const FileSignature a2 = Read(L"a2.exe");
  const FileSignature b1 = Read(L"b1.exe");
  const FileSignature modified = Read(L"a1_modified.exe");
  const FileSignature badSignature = Read(L"a1_badsig.exe");

  EXPECT_FALSE(unsignedFile.present);
  ASSERT_TRUE(a1.present && a2.present && b1.present);
  // The signer certificate is the one openssl made, byte for byte, and the same for two builds.
  EXPECT_EQ(a1.signerCert, CertDer(L"A.crt"));
  EXPECT_EQ(a2.signerCert, a1.signerCert);
  EXPECT_EQ(b1.signerCert, CertDer(L"B.crt"));

  // A running patcher signed by A.
  EXPECT_EQ(DecideSigner(a1, a2), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(a1, b1), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(a1, unsignedFile), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(a1, modified), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(a1, badSignature), SignerVerdict::Refused);
  // An unsigned running patcher: the CRC rule alone.
  EXPECT_EQ(DecideSigner(unsignedFile, b1), SignerVerdict::CrcOnly);
  EXPECT_EQ(DecideSigner(unsignedFile, unsignedFile), SignerVerdict::CrcOnly);
}

}  // namespace
}  // namespace sv
