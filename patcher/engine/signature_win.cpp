// The Authenticode signature of a program file: whether WinVerifyTrust accepts it (offline, no
// UI), which certificate signed it (its subject and key), and the file's version.
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

struct Signer {
  std::string cert, subject, key;
};

// The certificate of the embedded signature's first signer: its DER bytes, subject and key.
Signer SignerCertificate(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  DWORD encoding = 0, content = 0, format = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &content, &format, &store, &message, nullptr)) {
    return {};
  }
  Signer signer;
  DWORD size = 0;
  if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size > 0) {
    std::string info(size, '\0');
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
      PCCERT_CONTEXT cert = CertFindCertificateInStore(
          store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
          reinterpret_cast<CERT_INFO*>(info.data()), nullptr);
      if (cert) {
        const CERT_INFO& i = *cert->pCertInfo;
        signer.cert.assign(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
        signer.subject.assign(reinterpret_cast<const char*>(i.Subject.pbData), i.Subject.cbData);
        const CERT_PUBLIC_KEY_INFO& k = i.SubjectPublicKeyInfo;
        signer.key = std::string(k.Algorithm.pszObjId ? k.Algorithm.pszObjId : "") + '\0' +
                     std::string(reinterpret_cast<const char*>(k.Algorithm.Parameters.pbData),
                                 k.Algorithm.Parameters.cbData) +
                     '\0' +
                     std::string(reinterpret_cast<const char*>(k.PublicKey.pbData),
                                 k.PublicKey.cbData);
        CertFreeCertificateContext(cert);
      }
    }
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return signer;
}

// The file version from the version resource, read with the file loaded as data only (no code
// of it runs, and no version.dll is needed).
bool FileVersion(const std::wstring& path, uint64_t& versionOut) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return false;
  bool found = false;
  if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16))) {
    HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data) found = ParseFixedFileVersion(data, SizeofResource(module, info), versionOut);
  }
  FreeLibrary(module);
  return found;
}

}  // namespace

FileSignature ReadFileSignature(const std::wstring& path) {
  FileSignature s;
  Signer signer = SignerCertificate(path);
  s.signerCert = std::move(signer.cert);
  s.signerSubject = std::move(signer.subject);
  s.signerKey = std::move(signer.key);
  s.present = !s.signerCert.empty();
  s.trust = s.present ? VerifyTrust(path) : int32_t(TRUST_E_NOSIGNATURE);
  s.versionKnown = FileVersion(path, s.fileVersion);
  return s;
}

}  // namespace sv
