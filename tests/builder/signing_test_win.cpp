// Signing against a stand-in signtool.exe (tests/builder/helpers) in a fake SDK tree: which tool
// is chosen, the command lines it receives, the time stamp fallback and the missing tool.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <atomic>

#include "builder/signing.h"
#include "builder_test_util.h"

namespace sv {
namespace {

void Collect(void* context, const std::wstring& line) { static_cast<std::vector<std::wstring>*>(context)->push_back(line); }

class Signing : public ::testing::Test {
protected:
  void SetUp() override {
    root = test::ScratchFolder("signing");
    for (const wchar_t* base : {L"pf86", L"pf"}) {
      for (const wchar_t* version : {L"10.0.19041.0", L"10.0.22621.0"}) {
        for (const wchar_t* arch : {L"x86", L"x64"}) {
          const std::wstring dir = root + L"\\" + base + L"\\Windows Kits\\10\\bin\\" + version + L"\\" + arch;
          createDirectories(dir);
          CopyFileW(toWide(SV_FAKE_SIGNTOOL).c_str(), (dir + L"\\signtool.exe").c_str(), FALSE);
          DeleteFileW((dir + L"\\calls.txt").c_str());
        }
      }
    }
    SetEnvironmentVariableW(L"ProgramFiles(x86)", (root + L"\\pf86").c_str());
    SetEnvironmentVariableW(L"ProgramFiles", (root + L"\\pf").c_str());
    file = test::WriteScratchFile(root, L"patcher.exe", "MZ patcher");
    options.pfxPath = joinPath(root, L"cert.pfx");
    CopyFileW(test::SigningPfx().c_str(), options.pfxPath.c_str(), FALSE);
    options.password = test::kSigningPassword;
  }
  void Behave(const std::wstring& tool, const char* codes) {
    test::WriteScratchFile(parentPath(tool), L"behaviour.txt", codes);
  }
  std::wstring root, file;
  SignOptions options;
  std::vector<std::wstring> lines;
};

TEST_F(Signing, NewestX86ToolUnderProgramFilesX86IsChosen) {
  EXPECT_EQ(FindSignTool(), root + L"\\pf86\\Windows Kits\\10\\bin\\10.0.22621.0\\x86\\signtool.exe");
}

// The password opens the certificate inside the builder and goes nowhere else: the tool gets the
// name of a store made for the signature and the certificate's thumbprint, finds the key there
// (the stand-in says so), and the store and the key container are gone when the signature is done.
// A product name ending in a backslash and holding quotes still reaches it as one argument.
TEST_F(Signing, ThePasswordOpensTheCertificateInTheBuilderAndNeverReachesTheTool) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "0 0");
  VersionFields version;
  version.productName = L"Dra\"skel\" Online\\";
  std::wstring error;
  ASSERT_TRUE(SignFile(options, file, version, Collect, &lines, &error)) << toUtf8(error);
  const std::vector<test::Arguments> calls = test::SignToolCalls(parentPath(tool));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(test::WithoutRunNames(calls[0]),
            (test::Arguments{L"sign", L"/fd", L"SHA256", L"/s", L"STORE", L"/sha1", test::kSigningThumbprint, L"/d",
                             L"Dra'skel' Online\\", file, L"<key>"}));
  for (const std::wstring& argument : calls[0]) EXPECT_EQ(argument.find(L"gizli"), std::wstring::npos) << toUtf8(argument);
  EXPECT_EQ(lines, std::vector<std::wstring>{L"İmzalanıyor..."});

  // Nothing of the signature stays with the user: neither the certificate in its store nor the
  // key. (Windows deletes the emptied store too; Wine keeps its empty registry key.)
  const std::wstring store = calls[0][4];
  HCERTSTORE opened = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store.c_str());
  ASSERT_TRUE(opened);
  BYTE hash[20];
  for (int i = 0; i < 20; ++i) swscanf(test::kSigningThumbprint + 2 * i, L"%2hhx", &hash[i]);
  CRYPT_HASH_BLOB blob{20, hash};
  EXPECT_EQ(CertFindCertificateInStore(opened, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr), nullptr);
  CertCloseStore(opened, 0);
  const std::wstring key = calls[0].back();
  const std::wstring container = key.substr(5, key.size() - 6);
  HCRYPTPROV provider = 0;
  EXPECT_FALSE(CryptAcquireContextW(&provider, container.c_str(), nullptr, PROV_RSA_FULL, 0)) << toUtf8(container);
  if (provider) CryptReleaseContext(provider, 0);
}

TEST_F(Signing, AWrongPasswordFailsBeforeTheToolRuns) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "0 0");
  options.password = L"yanlis";
  std::wstring error;
  EXPECT_FALSE(SignFile(options, file, VersionFields{}, Collect, &lines, &error));
  EXPECT_EQ(error.rfind(L"Sertifika açılamadı (parola yanlış olabilir): ", 0), 0u) << toUtf8(error);
  EXPECT_TRUE(test::SignToolCalls(parentPath(tool)).empty());
}

TEST_F(Signing, FailingTimeStampFallsBackToAnUnstampedSignatureWithAWarning) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "1 0");
  options.timestampUrl = L"http://127.0.0.1:9/ts";
  std::wstring error;
  ASSERT_TRUE(SignFile(options, file, VersionFields{}, Collect, &lines, &error)) << toUtf8(error);
  EXPECT_EQ(lines, (std::vector<std::wstring>{
                       L"İmzalanıyor (zaman damgalı)...",
                       L"Zaman damgalı imza başarısız, damgasız deneniyor: SignTool Error: sunucuya ulasilamadi",
                       L"İmzalanıyor...",
                       L"UYARI: zaman damgası eklenemedi; imza sertifika süresi bitince geçersiz sayılır."}));
  const std::vector<test::Arguments> calls = test::SignToolCalls(parentPath(tool));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(test::WithoutRunNames(calls[0]),
            (test::Arguments{L"sign", L"/fd", L"SHA256", L"/s", L"STORE", L"/sha1", test::kSigningThumbprint, L"/tr",
                             L"http://127.0.0.1:9/ts", L"/td", L"SHA256", file, L"<key>"}));
  // Both attempts failing fail the signature with the tool's own words.
  Behave(tool, "1 1");
  lines.clear();
  EXPECT_FALSE(SignFile(options, file, VersionFields{}, Collect, &lines, &error));
  EXPECT_EQ(error, L"İmzalama başarısız: SignTool Error: sunucuya ulasilamadi");
}

int RunningCopies(const wchar_t* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    count += _wcsicmp(entry.szExeFile, exeName) == 0;
  CloseHandle(snapshot);
  return count;
}

// A tool that never ends is ended at the limit, with what it printed kept.
TEST_F(Signing, ToolThatNeverEndsIsEndedAtTheLimit) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "-1 -1");
  std::wstring output;
  uint32_t code = 0;
  EXPECT_FALSE(RunCaptured(QuoteArgument(tool) + L" sign", output, code, 1500));
  EXPECT_EQ(output, L"SignTool Error: sunucuya ulasilamadi\nAraç 1 sn içinde bitmedi ve durduruldu.");
  EXPECT_EQ(RunningCopies(L"signtool.exe"), 0);
}

DWORD WINAPI CancelSoon(void* flag) {
  Sleep(500);
  static_cast<std::atomic<bool>*>(flag)->store(true);
  return 0;
}

// The operator's "İptal" ends a tool that would run to its time limit.
TEST_F(Signing, ARunningToolEndsWhenTheOperatorCancels) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "-1 -1");
  std::atomic<bool> cancel{false};
  HANDLE stopper = CreateThread(nullptr, 0, CancelSoon, &cancel, 0, nullptr);
  ASSERT_TRUE(stopper);
  std::wstring output;
  uint32_t code = 0;
  const DWORD start = GetTickCount();
  EXPECT_FALSE(RunCaptured(QuoteArgument(tool) + L" sign", output, code, 120000, &cancel));
  WaitForSingleObject(stopper, INFINITE);
  CloseHandle(stopper);
  EXPECT_LT(GetTickCount() - start, 20000u);
  // What the tool printed before it was ended (if it got that far), then the reason.
  const std::wstring reason = L"Araç operatörün isteğiyle durduruldu.";
  ASSERT_GE(output.size(), reason.size());
  EXPECT_EQ(output.substr(output.size() - reason.size()), reason);
  EXPECT_EQ(RunningCopies(L"signtool.exe"), 0);
}

TEST_F(Signing, NoToolAndNoCertificate) {
  SetEnvironmentVariableW(L"ProgramFiles(x86)", (root + L"\\none").c_str());
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  EXPECT_EQ(FindSignTool(), L"");
  std::wstring error;
  EXPECT_FALSE(SignFile(options, file, VersionFields{}, Collect, &lines, &error));
  EXPECT_EQ(error, L"signtool.exe bulunamadı. Windows SDK'nın \"Signing Tools for Desktop Apps\" bileşenini kurun.");
  options.toolPath = root + L"\\pf\\Windows Kits\\10\\bin\\10.0.19041.0\\x86\\signtool.exe";
  options.pfxPath = root + L"\\yok.pfx";
  EXPECT_FALSE(SignFile(options, file, VersionFields{}, Collect, &lines, &error));
  EXPECT_EQ(error, L"Sertifika dosyası (.pfx) bulunamadı: " + root + L"\\yok.pfx");
}

}  // namespace
}  // namespace sv
