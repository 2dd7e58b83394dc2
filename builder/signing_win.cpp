// The SDK folder search and the hidden child process of signing.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "builder/signing.h"
#include "common/file.h"
#include "common/folder_list.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace sv {

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

std::wstring FindSignTool() {
  std::vector<std::wstring> bases;
  for (const wchar_t* name : {L"ProgramFiles(x86)", L"ProgramFiles"}) {
    std::wstring base = EnvironmentValue(name);
    if (!base.empty()) bases.push_back(base);
  }
  std::vector<SignToolCandidate> found;
  for (const std::wstring& base : bases) {
    const std::wstring bin = base + L"\\Windows Kits\\10\\bin";
    std::vector<FolderItem> versions;
    listFolder(bin, L"10.*", versions);
    for (const FolderItem& version : versions) {
      if (!version.directory) continue;
      for (const wchar_t* arch : {L"x86", L"x64"}) {
        const std::wstring candidate = bin + L"\\" + version.name + L"\\" + arch + L"\\signtool.exe";
        if (isFile(candidate)) found.push_back({version.name, candidate});
      }
    }
  }
  if (std::wstring best = PickSignTool(found); !best.empty()) return best;
  for (const std::wstring& base : bases) {
    for (const wchar_t* rest : {L"\\Windows Kits\\10\\bin\\x86\\signtool.exe",
                                L"\\Windows Kits\\10\\App Certification Kit\\signtool.exe",
                                L"\\Windows Kits\\8.1\\bin\\x86\\signtool.exe"}) {
      if (isFile(base + rest)) return base + rest;
    }
  }
  return {};
}

namespace {

// Whatever the pipe holds now, without waiting for more.
void ReadAvailable(HANDLE pipe, std::string& bytes) {
  char chunk[4096];
  DWORD available = 0, got = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
         ReadFile(pipe, chunk, available < sizeof chunk ? available : DWORD(sizeof chunk), &got, nullptr) && got > 0)
    bytes.append(chunk, got);
}

}  // namespace

bool RunCaptured(const std::wstring& commandLine, std::wstring& outputOut, uint32_t& exitCodeOut,
                 uint32_t timeoutMs, const std::atomic<bool>* cancel) {
  outputOut.clear();
  exitCodeOut = 0;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readPipe = nullptr, writePipe = nullptr;
  if (!CreatePipe(&readPipe, &writePipe, &sa, 0)) return false;
  ScopedHandle readEnd(readPipe), writeEnd(writePipe);
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring mutableLine = commandLine;
  const BOOL started = CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &si, &pi);
  writeEnd.reset();
  if (!started) return false;
  ScopedHandle process(pi.hProcess), thread(pi.hThread);
  // Read while waiting: the tool never stalls on a full pipe, and one that does not end is ended
  // at the limit even while it holds the pipe open without writing (reading to the pipe's end
  // first would wait for it for ever).
  std::string bytes;
  const DWORD start = GetTickCount();
  bool ended = false, cancelled = false;
  for (;;) {
    ReadAvailable(readEnd.get(), bytes);
    if (ended) break;
    cancelled = cancel && cancel->load();
    const DWORD elapsed = GetTickCount() - start;
    if (cancelled || elapsed >= timeoutMs) break;
    const DWORD slice = timeoutMs - elapsed < 50 ? timeoutMs - elapsed : 50;
    ended = WaitForSingleObject(process.get(), slice) == WAIT_OBJECT_0;
  }
  if (!ended) {
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    WaitForSingleObject(process.get(), 5000);
    ReadAvailable(readEnd.get(), bytes);
    outputOut = trim(trim(toWide(bytes, CP_ACP)) + L"\n" + (cancelled ? CancelledToolText() : TimedOutText(timeoutMs)));
    exitCodeOut = ERROR_TIMEOUT;
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  exitCodeOut = code;
  outputOut = trim(toWide(bytes, CP_ACP));
  return true;
}

namespace {

// crypt32.dll is no KnownDLL: it is loaded at run time from the system folder, never found
// beside the builder (where anyone who can write there could plant one).
struct Crypt32 {
  Crypt32() {
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    module = LoadLibraryExW((std::wstring(system) + L"\\crypt32.dll").c_str(), nullptr, 0);
    if (!module) return;
    ok = Get(PFXImportCertStore, "PFXImportCertStore") && Get(CertEnumCertificatesInStore, "CertEnumCertificatesInStore") &&
         Get(CertGetCertificateContextProperty, "CertGetCertificateContextProperty") &&
         Get(CertDuplicateCertificateContext, "CertDuplicateCertificateContext") &&
         Get(CertFreeCertificateContext, "CertFreeCertificateContext") && Get(CertOpenStore, "CertOpenStore") &&
         Get(CertAddCertificateContextToStore, "CertAddCertificateContextToStore") &&
         Get(CertDeleteCertificateFromStore, "CertDeleteCertificateFromStore") && Get(CertCloseStore, "CertCloseStore") &&
         Get(CertControlStore, "CertControlStore");
  }
  ~Crypt32() {
    if (module) FreeLibrary(module);
  }
  Crypt32(const Crypt32&) = delete;
  Crypt32& operator=(const Crypt32&) = delete;

  template <typename Fn>
  bool Get(Fn*& fn, const char* name) {
    fn = reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
  }

  HMODULE module = nullptr;
  bool ok = false;
  decltype(::PFXImportCertStore)* PFXImportCertStore = nullptr;
  decltype(::CertEnumCertificatesInStore)* CertEnumCertificatesInStore = nullptr;
  decltype(::CertGetCertificateContextProperty)* CertGetCertificateContextProperty = nullptr;
  decltype(::CertDuplicateCertificateContext)* CertDuplicateCertificateContext = nullptr;
  decltype(::CertFreeCertificateContext)* CertFreeCertificateContext = nullptr;
  decltype(::CertOpenStore)* CertOpenStore = nullptr;
  decltype(::CertAddCertificateContextToStore)* CertAddCertificateContextToStore = nullptr;
  decltype(::CertDeleteCertificateFromStore)* CertDeleteCertificateFromStore = nullptr;
  decltype(::CertCloseStore)* CertCloseStore = nullptr;
  decltype(::CertControlStore)* CertControlStore = nullptr;
};

std::wstring Hex(const BYTE* bytes, DWORD size) {
  std::wstring text;
  for (DWORD i = 0; i < size; ++i) {
    wchar_t two[3];
    swprintf(two, 3, L"%02X", bytes[i]);
    text += two;
  }
  return text;
}

// The key container PFXImportCertStore made for a certificate, deleted with its key.
void DeleteKeyContainer(const Crypt32& c_, PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!c_.CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) || size == 0) return;
  std::string buffer(size, '\0');
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
  if (!c_.CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info, &size)) return;
  if (info->dwProvType != 0) {
    HCRYPTPROV provider = 0;
    CryptAcquireContextW(&provider, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                         CRYPT_DELETEKEYSET | (info->dwFlags & CRYPT_MACHINE_KEYSET));
    return;
  }
  // A key of a CNG key storage provider: ncrypt.dll from the system folder only.
  HMODULE ncrypt = LoadLibraryExW(L"ncrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!ncrypt) return;
  using OpenProvider = LONG(WINAPI*)(ULONG_PTR*, LPCWSTR, DWORD);
  using OpenKey = LONG(WINAPI*)(ULONG_PTR, ULONG_PTR*, LPCWSTR, DWORD, DWORD);
  using DeleteKey = LONG(WINAPI*)(ULONG_PTR, DWORD);
  using FreeObject = LONG(WINAPI*)(ULONG_PTR);
  auto openProvider = reinterpret_cast<OpenProvider>(reinterpret_cast<void*>(GetProcAddress(ncrypt, "NCryptOpenStorageProvider")));
  auto openKey = reinterpret_cast<OpenKey>(reinterpret_cast<void*>(GetProcAddress(ncrypt, "NCryptOpenKey")));
  auto deleteKey = reinterpret_cast<DeleteKey>(reinterpret_cast<void*>(GetProcAddress(ncrypt, "NCryptDeleteKey")));
  auto freeObject = reinterpret_cast<FreeObject>(reinterpret_cast<void*>(GetProcAddress(ncrypt, "NCryptFreeObject")));
  ULONG_PTR provider = 0, key = 0;
  if (openProvider && openKey && deleteKey && freeObject && openProvider(&provider, info->pwszProvName, 0) == 0) {
    if (openKey(provider, &key, info->pwszContainerName, 0, info->dwFlags) == 0) deleteKey(key, 0);
    freeObject(provider);
  }
  FreeLibrary(ncrypt);
}

// The certificate of a .pfx in a store of the current user made for one signature; everything it
// put there (the store, the certificate, the key container) goes with it.
class SigningStore {
public:
  SigningStore() = default;
  SigningStore(const SigningStore&) = delete;
  SigningStore& operator=(const SigningStore&) = delete;
  ~SigningStore() { Remove(); }

  bool Import(const std::wstring& pfxPath, const std::wstring& password, std::wstring& errorOut) {
    if (!c_.ok) {
      errorOut = L"crypt32.dll sistem klasöründen yüklenemedi.";
      return false;
    }
    std::string bytes;
    if (!readWholeFile(pfxPath, kPfxMaxSize, bytes)) {
      errorOut = L"Sertifika dosyası okunamadı: " + pfxPath;
      return false;
    }
    CRYPT_DATA_BLOB blob{DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    // The key is kept (no PKCS12_NO_PERSIST_KEY) so that signtool, another process, can use it;
    // it is not exportable.
    pfx_ = c_.PFXImportCertStore(&blob, password.c_str(), CRYPT_USER_KEYSET);
    if (!pfx_ && password.empty()) pfx_ = c_.PFXImportCertStore(&blob, nullptr, CRYPT_USER_KEYSET);
    if (!pfx_) {
      errorOut = L"Sertifika açılamadı (parola yanlış olabilir): " + systemErrorText(GetLastError());
      return false;
    }
    // The signing certificate is the one whose private key came with it.
    for (PCCERT_CONTEXT c = c_.CertEnumCertificatesInStore(pfx_, nullptr); c; c = c_.CertEnumCertificatesInStore(pfx_, c)) {
      DWORD size = 0;
      if (c_.CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        if (cert_) c_.CertFreeCertificateContext(cert_);
        cert_ = c_.CertDuplicateCertificateContext(c);
      }
    }
    if (!cert_) {
      errorOut = L"Sertifika dosyasında özel anahtar yok: " + pfxPath;
      return false;
    }
    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    if (!c_.CertGetCertificateContextProperty(cert_, CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
      errorOut = L"Sertifika okunamadı: " + systemErrorText(GetLastError());
      return false;
    }
    identity_.thumbprint = Hex(hash, hashSize);
    wchar_t name[64];
    swprintf(name, 64, L"SarvikImza-%08lX-%08lX", GetCurrentProcessId(), GetTickCount());
    identity_.store = name;
    store_ = c_.CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
    // Committed at once: signtool, another process, reads the store while this one holds it open.
    if (!store_ || !c_.CertAddCertificateContextToStore(store_, cert_, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) ||
        !c_.CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
      errorOut = L"Sertifika deposu hazırlanamadı: " + systemErrorText(GetLastError());
      return false;
    }
    return true;
  }

  const SigningIdentity& identity() const { return identity_; }

private:
  static constexpr uint64_t kPfxMaxSize = 1048576;

  void Remove() {
    if (store_) {
      for (PCCERT_CONTEXT c = c_.CertEnumCertificatesInStore(store_, nullptr); c;) {
        PCCERT_CONTEXT copy = c_.CertDuplicateCertificateContext(c);
        c = c_.CertEnumCertificatesInStore(store_, c);
        c_.CertDeleteCertificateFromStore(copy);
      }
      c_.CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
      c_.CertCloseStore(store_, 0);
      store_ = nullptr;
      c_.CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG,
                    identity_.store.c_str());
    }
    if (pfx_) {
      for (PCCERT_CONTEXT c = c_.CertEnumCertificatesInStore(pfx_, nullptr); c; c = c_.CertEnumCertificatesInStore(pfx_, c))
        DeleteKeyContainer(c_, c);
      c_.CertCloseStore(pfx_, 0);
      pfx_ = nullptr;
    }
    if (cert_) {
      c_.CertFreeCertificateContext(cert_);
      cert_ = nullptr;
    }
  }

  Crypt32 c_;
  HCERTSTORE pfx_ = nullptr;
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT cert_ = nullptr;
  SigningIdentity identity_;
};

}  // namespace

bool SignFile(const SignOptions& options, const std::wstring& file, const VersionFields& version,
              BuildLogFn log, void* context, std::wstring* errorOut) {
  auto fail = [errorOut](std::wstring message) {
    if (errorOut) *errorOut = std::move(message);
    return false;
  };
  const std::wstring tool = options.toolPath.empty() ? FindSignTool() : options.toolPath;
  if (tool.empty() || !isFile(tool))
    return fail(L"signtool.exe bulunamadı. Windows SDK'nın \"Signing Tools for Desktop Apps\" bileşenini kurun.");
  if (!isFile(options.pfxPath)) return fail(L"Sertifika dosyası (.pfx) bulunamadı: " + options.pfxPath);
  SigningStore store;
  std::wstring error;
  if (!store.Import(options.pfxPath, options.password, error)) return fail(error);
  return SignFileWith(RunCaptured, tool, store.identity(), options, file, version, log, context, errorOut);
}

}  // namespace sv
