// A stand-in for the SDK's signtool.exe. It splits its command line as every program does
// (CommandLineToArgvW) and appends the arguments to calls.txt beside itself, each followed by
// U+001F, one call per line; when SARVIK_SIGN_PASSWORD reaches it through its environment, one
// more item "<env SARVIK_SIGN_PASSWORD>" ends the call. With /s STORE and /sha1 HASH it looks for
// the certificate as signtool does (the current user's store of that name) and adds
// "<key CONTAINER>" when the certificate is there and its private key can be used, else
// "<no key>": where the password went is then visible, it opened the key inside the builder. It
// prints a fixed text and exits with the code behaviour.txt gives (first number: runs with a time
// stamp server, second: runs without); a code of -1 prints and then never ends.
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

int wmain() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.rfind(L'\\'));
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring line;
  bool withStamp = false;
  for (int i = 1; i < argc; ++i) {
    line += std::wstring(argv[i]) + L"\x1F";
    withStamp = withStamp || wcscmp(argv[i], L"/tr") == 0;
  }
  const wchar_t* storeName = nullptr;
  const wchar_t* thumbprint = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (wcscmp(argv[i], L"/s") == 0) storeName = argv[i + 1];
    if (wcscmp(argv[i], L"/sha1") == 0) thumbprint = argv[i + 1];
  }
  if (storeName && thumbprint) {
    std::wstring found = L"<no store>";
    BYTE hash[20] = {};
    bool hex = wcslen(thumbprint) == 40;
    for (int i = 0; hex && i < 20; ++i) hex = swscanf(thumbprint + 2 * i, L"%2hhx", &hash[i]) == 1;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG |
                                         CERT_STORE_READONLY_FLAG,
                                     storeName);
    if (store && hex) {
      found = L"<no certificate>";
      CRYPT_HASH_BLOB blob{20, hash};
      PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                       CERT_FIND_SHA1_HASH, &blob, nullptr);
      HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
      DWORD keyKind = 0;
      BOOL free = FALSE;
      if (cert) found = L"<no key " + std::to_wstring(GetLastError()) + L">";
      if (cert && CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &key, &keyKind, &free)) {
        DWORD size = 0;
        CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
        std::string buffer(size, '\0');
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
        if (size && CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info, &size))
          found = L"<key " + std::wstring(info->pwszContainerName) + L">";
        if (free && keyKind != CERT_NCRYPT_KEY_SPEC) CryptReleaseContext(key, 0);
      }
      if (cert) CertFreeCertificateContext(cert);
    }
    if (store) CertCloseStore(store, 0);
    line += found + L"\x1F";
  }
  if (GetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr, 0) > 0) line += L"<env SARVIK_SIGN_PASSWORD>\x1F";
  line += L"\n";
  HANDLE calls = CreateFileW((folder + L"\\calls.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(calls, line.data(), DWORD(line.size() * sizeof(wchar_t)), &n, nullptr);
  CloseHandle(calls);
  int stamped = 0, plain = 0;
  HANDLE behaviour = CreateFileW((folder + L"\\behaviour.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (behaviour != INVALID_HANDLE_VALUE) {
    char text[64] = {};
    ReadFile(behaviour, text, sizeof text - 1, &n, nullptr);
    CloseHandle(behaviour);
    sscanf(text, "%d %d", &stamped, &plain);
  }
  const int code = withStamp ? stamped : plain;
  const char* out = code == 0 ? "Successfully signed\r\n" : "SignTool Error: sunucuya ulasilamadi\r\n";
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, DWORD(strlen(out)), &n, nullptr);
  if (code == -1) Sleep(INFINITE);
  return code;
}
