// The signer rule with real Authenticode signatures: files signed by osslsigncode with two test
// certificates that openssl made at test time (tests/support/make_signed_samples.py). What the
// system's WinVerifyTrust answers for each file is printed; the rule is then applied to what the
// system read from the files.
#include "patcher/engine/self_update.h"

#include <windows.h>
#include <wincrypt.h>

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
  std::printf("%-16ls present=%d WinVerifyTrust=0x%08x signer=%u bytes version=%ls\n", name,
              int(s.present), unsigned(s.trust), unsigned(s.signerCert.size()),
              s.versionKnown ? FormatFileVersion(s.fileVersion).c_str() : L"-");
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

// The test root CA in this prefix's user Root store while the object lives, as an operator's
// certificate authority is trusted on a player's machine.
class TrustedTestRoot {
 public:
  TrustedTestRoot() {
    const std::string der = CertDer(L"CA.crt");
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    EXPECT_NE(store_, nullptr);
    if (!store_) return;
    EXPECT_TRUE(CertAddEncodedCertificateToStore(
        store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
        CERT_STORE_ADD_REPLACE_EXISTING, &added_))
        << GetLastError();
  }
  ~TrustedTestRoot() {
    if (added_) CertDeleteCertificateFromStore(added_);  // frees the context too
    if (store_) CertCloseStore(store_, 0);
  }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
};

// The exact certificate was pinned once, so an operator's first renewal locked every signed
// patcher out of its updates. Certificates issued by a test root that openssl made: S1 (running,
// version 2.6), its renewals S2 (new key) and S1r (same key), T1 (another subject), and S1 on a
// lower version (2.5).
TEST(SignerRule, ARenewedCertificateOfTheSameSubjectIsTakenAnotherSubjectOrALowerVersionNot) {
  {
    // The root unknown to the system: the chain proves nothing, the key must stay.
    const FileSignature running = Read(L"v26_s1.exe");
    const FileSignature s2 = Read(L"v27_s2.exe");
    const FileSignature s1r = Read(L"v27_s1r.exe");
    ASSERT_TRUE(running.present && running.versionKnown);
    EXPECT_EQ(FormatFileVersion(running.fileVersion), L"2.6.0.0");
    EXPECT_EQ(FormatFileVersion(s2.fileVersion), L"2.7.0.0");
    EXPECT_EQ(s2.signerSubject, running.signerSubject);
    EXPECT_NE(s2.signerKey, running.signerKey);
    EXPECT_EQ(s1r.signerKey, running.signerKey);
    EXPECT_NE(s1r.signerCert, running.signerCert);  // another certificate, the same key
    EXPECT_EQ(DecideSigner(running, s1r), SignerVerdict::Accepted);
    // Wine's WinVerifyTrust answers 0 for this chain even before its root is trusted; where
    // the system refuses the root, the new key is refused (the portable tests try both).
    if (s2.trust != 0) EXPECT_EQ(DecideSigner(running, s2), SignerVerdict::Refused);
  }
  TrustedTestRoot root;
  const FileSignature running = Read(L"v26_s1.exe");
  const FileSignature s2 = Read(L"v27_s2.exe");
  const FileSignature s1r = Read(L"v27_s1r.exe");
  const FileSignature t1 = Read(L"v27_t1.exe");
  const FileSignature lower = Read(L"v25_s1.exe");
  EXPECT_EQ(FormatFileVersion(lower.fileVersion), L"2.5.0.0");
  // With the root trusted the system verifies the chains, and the subject is what must match.
  EXPECT_EQ(s2.trust, 0);
  EXPECT_EQ(t1.trust, 0);
  EXPECT_EQ(DecideSigner(running, s2), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, s1r), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, t1), SignerVerdict::Refused);
  std::wstring why;
  EXPECT_EQ(DecideSigner(running, lower, &why), SignerVerdict::Refused);
  EXPECT_NE(why.find(L"2.5.0.0 bu patcherinkinden (2.6.0.0) dusuk"), std::wstring::npos) << why;
  // The same build again is not lower: taken (the CRC rule decides whether it is fetched at all).
  EXPECT_EQ(DecideSigner(running, running), SignerVerdict::Accepted);
}

}  // namespace
}  // namespace sv
