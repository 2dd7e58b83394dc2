// Adds a test CA to the machine's trusted roots, or takes it away again: what an HTTPS test does
// to its Wine prefix around the requests that meet a certificate the CA signed.
//   trust_ca add|remove CA.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
    std::fprintf(stderr, "usage: trust_ca add|remove CA.der\n");
    return 2;
  }
  std::vector<unsigned char> der;
  if (FILE* f = std::fopen(argv[2], "rb")) {
    unsigned char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), f)) > 0;)
      der.insert(der.end(), buffer, buffer + got);
    std::fclose(f);
  }
  if (der.empty()) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    std::fprintf(stderr, "cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  PCCERT_CONTEXT cert = nullptr;
  BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                             DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                             &cert);
  // Deleting frees the context it is given, found or added.
  if (ok && std::strcmp(argv[1], "remove") == 0) ok = CertDeleteCertificateFromStore(cert);
  else if (cert) CertFreeCertificateContext(cert);
  if (!ok) std::fprintf(stderr, "%s failed (%lu)\n", argv[1], GetLastError());
  CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
