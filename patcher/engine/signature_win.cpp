// The Authenticode signature of a program file: whether WinVerifyTrust accepts it (offline, no
// UI) and which certificate signed it.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "patcher/engine/self_update.h"

namespace sv {

namespace {

int32_t VerifyTrust(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // Never wait for the network: no revocation lists, only cached URLs.
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return int32_t(status);
}

// The DER bytes of the certificate of the embedded signature's first signer.
std::string SignerCertificate(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  DWORD encoding = 0, content = 0, format = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &content, &format, &store, &message, nullptr)) {
    return {};
  }
  std::string der;
  DWORD size = 0;
  if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size > 0) {
    std::string info(size, '\0');
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
      PCCERT_CONTEXT cert = CertFindCertificateInStore(
          store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
          reinterpret_cast<CERT_INFO*>(info.data()), nullptr);
      if (cert) {
        der.assign(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
        CertFreeCertificateContext(cert);
      }
    }
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return der;
}

}  // namespace

FileSignature ReadFileSignature(const std::wstring& path) {
  FileSignature s;
  s.signerCert = SignerCertificate(path);
  s.present = !s.signerCert.empty();
  s.trust = s.present ? VerifyTrust(path) : int32_t(TRUST_E_NOSIGNATURE);
  return s;
}

}  // namespace sv
