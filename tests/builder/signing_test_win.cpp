// Signing against a stand-in signtool.exe (tests/builder/helpers) in a fake SDK tree: which tool
// is chosen, the command lines it receives, the time stamp fallback and the missing tool.
#include <gtest/gtest.h>
#include <windows.h>

#include "builder/signing.h"
#include "builder_test_util.h"

namespace sv {
namespace {

std::wstring Calls(const std::wstring& tool) {
  const std::string bytes = test::ReadFile(joinPath(parentPath(tool), L"calls.txt"));
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

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

TEST_F(Signing, PasswordOnlyWhenGivenAndQuotesOfTheProductNameBecomeSingle) {
  const std::wstring tool = FindSignTool();
  Behave(tool, "0 0");
  VersionFields version;
  version.productName = L"Dra\"skel\" Online";
  std::wstring error;
  ASSERT_TRUE(SignFile(options, file, version, Collect, &lines, &error)) << toUtf8(error);
  options.password = L"gizli sifre";
  ASSERT_TRUE(SignFile(options, file, version, Collect, &lines, &error)) << toUtf8(error);
  const std::wstring calls = Calls(tool);
  const std::wstring first = calls.substr(0, calls.find(L'\n'));
  const std::wstring second = calls.substr(calls.find(L'\n') + 1);
  EXPECT_EQ(first, L"\"" + tool + L"\" sign /fd SHA256 /f \"" + options.pfxPath +
                       L"\" /d \"Dra'skel' Online\" \"" + file + L"\"");
  EXPECT_EQ(first.find(L"/p"), std::wstring::npos);
  EXPECT_NE(second.find(L" /p \"gizli sifre\" /d "), std::wstring::npos);
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"İmzalanıyor...", L"İmzalanıyor..."}));
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
  const std::wstring calls = Calls(tool);
  EXPECT_NE(calls.find(L" /tr \"http://127.0.0.1:9/ts\" /td SHA256 \"" + file + L"\"\n"), std::wstring::npos);
  // Both attempts failing fail the signature with the tool's own words.
  Behave(tool, "1 1");
  lines.clear();
  EXPECT_FALSE(SignFile(options, file, VersionFields{}, Collect, &lines, &error));
  EXPECT_EQ(error, L"İmzalama başarısız: SignTool Error: sunucuya ulasilamadi");
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
