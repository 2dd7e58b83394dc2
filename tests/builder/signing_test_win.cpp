// Signing against a stand-in signtool.exe (tests/builder/helpers) in a fake SDK tree: which tool
// is chosen, the command lines it receives, the time stamp fallback and the missing tool.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

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
    options.pfxPath = test::WriteScratchFile(root, L"cert.pfx", "pfx");
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

// Each value reaches the tool as exactly one argument: a password with spaces, quotes or a
// trailing backslash, a product name ending in a backslash; an empty password gives no /p.
TEST_F(Signing, EveryValueReachesTheToolAsOneArgument) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "0 0");
  VersionFields version;
  version.productName = L"Dra\"skel\" Online\\";
  std::wstring error;
  ASSERT_TRUE(SignFile(options, file, version, Collect, &lines, &error)) << toUtf8(error);
  const std::vector<std::wstring> passwords = {L"gizli sifre", L"a\\", L"x\" /fd SHA1 \"", L"\\\"\\\\\"", L"\\\\y z\\\\"};
  for (const std::wstring& password : passwords) {
    options.password = password;
    ASSERT_TRUE(SignFile(options, file, version, Collect, &lines, &error)) << toUtf8(error);
  }
  const std::vector<test::Arguments> calls = test::SignToolCalls(parentPath(tool));
  ASSERT_EQ(calls.size(), passwords.size() + 1);
  const test::Arguments head = {L"sign", L"/fd", L"SHA256", L"/f", options.pfxPath};
  const test::Arguments tail = {L"/d", L"Dra'skel' Online\\", file};
  auto expected = [&](const test::Arguments& middle) {
    test::Arguments all = head;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
  };
  EXPECT_EQ(calls[0], expected({}));
  for (size_t i = 0; i < passwords.size(); ++i) EXPECT_EQ(calls[i + 1], expected({L"/p", passwords[i]})) << i;
  EXPECT_EQ(lines, std::vector<std::wstring>(passwords.size() + 1, L"İmzalanıyor..."));
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
  EXPECT_EQ(calls[0], (test::Arguments{L"sign", L"/fd", L"SHA256", L"/f", options.pfxPath, L"/tr", L"http://127.0.0.1:9/ts",
                                 L"/td", L"SHA256", file}));
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
