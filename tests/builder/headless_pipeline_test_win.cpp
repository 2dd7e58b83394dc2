// The headless build and the pipeline called directly with the same request write patchers whose
// resources are the same; patchers that differ by one value get different file CRCs.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <set>

#include "builder/build_request.h"
#include "builder/session.h"
#include "builder/skin_import.h"
#include "builder_test_util.h"
#include "pe_resource_win.h"
#include "patcher/app/resource_ids.h"
#include "release/release_key.h"

namespace sv {
namespace {

using test::Resource;

DWORD RunHeadless(const std::wstring& session, const std::wstring& out) {
  std::wstring command = L"\"" + toWide(SV_SARVIK_BUILDER) + L"\" --build \"" + session + L"\" --out \"" + out + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 98;
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

struct Headless {
  DWORD code = 99;
  std::wstring output;  // the printed lines, UTF-8 decoded
};

// The headless build with its standard output on a pipe, as a CI job runs it.
Headless RunHeadlessCaptured(const std::wstring& session, const std::wstring& out,
                             const std::wstring& program = toWide(SV_SARVIK_BUILDER)) {
  Headless run;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = L"\"" + program + L"\" --build \"" + session + L"\" --out \"" + out + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return run;
  }
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, 120000);
  GetExitCodeProcess(pi.hProcess, &run.code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  run.output = toWide(bytes);
  return run;
}

std::wstring ReleaseKeySample(const wchar_t* name) {
  return joinPath(joinPath(toWide(SV_BINARY_DIR), L"release-keys"), name);
}

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class HeadlessReleaseKey : public ::testing::Test {
protected:
  void SetUp() override { folder = test::ScratchFolder("headless_release_key"); }
  Headless Build(const std::wstring& keyPath, const std::wstring& name) {
    out = joinPath(folder, name);
    DeleteFileW(out.c_str());
    const std::wstring session = test::WriteScratchFile(
        folder, name + L".ini", "skin=" + toUtf8(test::SampleSkin()) + "\r\nrelease_key=" + toUtf8(keyPath) + "\r\n");
    return RunHeadlessCaptured(session, out);
  }
  std::wstring folder, out;
};

// The operator's public key is written into the patcher and read back: the resource holds the
// key's one-line text.
TEST_F(HeadlessReleaseKey, KeyIsEmbeddedAsItsOneLineText) {
  const Headless run = Build(ReleaseKeySample(L"key.pub"), L"anahtarli.exe");
  ASSERT_EQ(run.code, 0u) << toUtf8(run.output);
  ReleaseKey key;
  std::string error;
  ASSERT_TRUE(ParseReleaseKeyPem(test::ReadFile(ReleaseKeySample(L"key.pub")), key, error)) << error;
  EXPECT_EQ(Resource(out, kResTypeRcData, kResReleaseKey), ReleaseKeyText(key));
  EXPECT_NE(run.output.find(L"Sürüm anahtarı gömüldü (" + toWide(ReleaseKeyId(key)) + L")."), std::wstring::npos)
      << toUtf8(run.output);
  EXPECT_NE(run.output.find(L"Doğrulama tamam."), std::wstring::npos);
  EXPECT_EQ(run.output.find(L"UYARI: sürüm anahtarı"), std::wstring::npos);
}

// A key that does not parse ends the build with a line naming the file and the reason.
TEST_F(HeadlessReleaseKey, KeyThatDoesNotParseFailsTheBuild) {
  const std::wstring privateKey = ReleaseKeySample(L"key.pem");
  Headless run = Build(privateKey, L"ozel.exe");
  EXPECT_EQ(run.code, 1u);
  EXPECT_NE(run.output.find(L"Oluşturulamadı: Sürüm anahtarı geçersiz: " + privateKey +
                            L" — bu bir özel anahtar; açık anahtarı (.pub) verin"),
            std::wstring::npos)
      << toUtf8(run.output);
  EXPECT_FALSE(isFile(out));
  const std::wstring garbled = test::WriteScratchFile(
      folder, L"bozuk.pub", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
  run = Build(garbled, L"bozuk.exe");
  EXPECT_EQ(run.code, 1u);
  EXPECT_NE(run.output.find(L"Oluşturulamadı: Sürüm anahtarı geçersiz: " + garbled + L" — ECDSA P-256 açık anahtarı değil"),
            std::wstring::npos)
      << toUtf8(run.output);
  const std::wstring missing = joinPath(folder, L"yok.pub");
  run = Build(missing, L"yok.exe");
  EXPECT_EQ(run.code, 1u);
  EXPECT_NE(run.output.find(L"Oluşturulamadı: Sürüm anahtarı okunamadı: " + missing), std::wstring::npos)
      << toUtf8(run.output);
}

// Without a key the patcher is built as before, with one line saying what that lets a network do.
TEST_F(HeadlessReleaseKey, NoKeyWarnsOnceWhatAnUnsignedReleaseAllows) {
  const Headless run = Build(L"", L"anahtarsiz.exe");
  ASSERT_EQ(run.code, 0u) << toUtf8(run.output);
  EXPECT_EQ(Resource(out, kResTypeRcData, kResReleaseKey), "<none>");
  EXPECT_EQ(Count(run.output, kUnsignedReleaseWarning), 1u) << toUtf8(run.output);
  EXPECT_NE(std::wstring(kUnsignedReleaseWarning).find(L"CRC-32"), std::wstring::npos);
}

std::wstring CliPath() { return joinPath(parentPath(toWide(SV_SARVIK_BUILDER)), L"SarvikBuilderCli.exe"); }

// The console entry is a console program (subsystem 3), so every shell waits for it and takes its
// exit code; it runs the same build and prints to the standard output it was given.
TEST(HeadlessBuild, ConsoleEntryIsAConsoleProgramThatBuilds) {
  const std::string exe = test::ReadFile(CliPath());
  ASSERT_GT(exe.size(), 0x200u);
  const uint32_t pe = uint8_t(exe[0x3C]) | uint8_t(exe[0x3D]) << 8 | uint8_t(exe[0x3E]) << 16 | uint32_t(uint8_t(exe[0x3F])) << 24;
  ASSERT_LT(pe + 24 + 70, exe.size());
  const uint16_t subsystem = uint16_t(uint8_t(exe[pe + 24 + 68]) | uint8_t(exe[pe + 24 + 69]) << 8);
  EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
  const std::string window = test::ReadFile(toWide(SV_SARVIK_BUILDER));
  const uint32_t wpe = uint8_t(window[0x3C]) | uint8_t(window[0x3D]) << 8;
  EXPECT_EQ(uint16_t(uint8_t(window[wpe + 24 + 68]) | uint8_t(window[wpe + 24 + 69]) << 8),
            IMAGE_SUBSYSTEM_WINDOWS_GUI);

  const std::wstring folder = test::ScratchFolder("headless_cli");
  const std::wstring out = joinPath(folder, L"cli.exe");
  DeleteFileW(out.c_str());
  const std::wstring session =
      test::WriteScratchFile(folder, L"s.ini", "skin=" + toUtf8(test::SampleSkin()) + "\r\ntitle=Konsol\r\n");
  const Headless run = RunHeadlessCaptured(session, out, CliPath());
  EXPECT_EQ(run.code, 0u) << toUtf8(run.output);
  EXPECT_TRUE(isFile(out));
  EXPECT_NE(run.output.find(L"sv_patcher_crc32="), std::wstring::npos) << toUtf8(run.output);
  EXPECT_EQ(RunHeadlessCaptured(joinPath(folder, L"yok.ini"), out, CliPath()).code, 2u);
}

TEST(HeadlessBuild, WritesThePatcherThePipelineWritesForTheSameRequest) {
  const std::wstring folder = test::ScratchFolder("headless_pipeline");
  const std::wstring builder = toWide(SV_SARVIK_BUILDER);
  const std::wstring headlessOut = joinPath(folder, L"headless.exe");
  const std::wstring pipelineOut = joinPath(folder, L"pipeline.exe");
  DeleteFileW(headlessOut.c_str());
  const std::string sessionText = "skin=" + toUtf8(test::SampleSkin()) +
                                  "\r\ntitle=Draskel Online\r\nconfig_url=http://127.0.0.1:1/c.xml\r\nconn=3\r\n"
                                  "link.0=https://site.example.com/\r\nv_version=4.2\r\nout_name=Ayni.exe\r\n";
  const std::wstring session = test::WriteScratchFile(folder, L"s.ini", sessionText);

  ASSERT_EQ(RunHeadless(session, headlessOut), 0u);

  BuilderSession values;
  values.values = ParseSessionText(sessionText);
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  BuildRequest request;
  request.templatePath = joinPath(parentPath(builder), kTemplateFileName);
  request.outputPath = pipelineOut;
  request.version = SessionVersion(values, pipelineOut);
  ASSERT_TRUE(BuildSkinPackage(skin, SessionFields(skin, values), request.packageBytes));
  const BuildResult result = BuildPatcher(request, nullptr, nullptr);
  ASSERT_TRUE(result.ok) << toUtf8(result.message);

  EXPECT_EQ(Resource(headlessOut, kResTypeRcData, kResSkinPackage), Resource(pipelineOut, kResTypeRcData, kResSkinPackage));
  EXPECT_EQ(Resource(headlessOut, kResTypeVersion, kResVersion), Resource(pipelineOut, kResTypeVersion, kResVersion));
  EXPECT_EQ(Resource(headlessOut, kResTypeGroupIcon, kResIconGroup), Resource(pipelineOut, kResTypeGroupIcon, kResIconGroup));
  EXPECT_EQ(Resource(headlessOut, kResTypeManifest, kResManifest), Resource(pipelineOut, kResTypeManifest, kResManifest));
  const std::string package = Resource(pipelineOut, kResTypeRcData, kResSkinPackage);
  EXPECT_NE(package.find("connections=3"), std::string::npos);
  EXPECT_NE(package.find("https://site.example.com/"), std::string::npos);
}

// The password opens the certificate inside the builder: signtool finds the key in a store made
// for the signature, and the password is in none of its arguments, nor in its environment, nor in
// anything the build printed.
TEST(HeadlessBuild, SignsWithoutThePasswordReachingTheTool) {
  const std::wstring folder = test::ScratchFolder("headless_sign");
  const std::wstring tools = joinPath(folder, L"pf\\Windows Kits\\10\\bin\\10.0.22621.0\\x86");
  createDirectories(tools);
  ASSERT_TRUE(CopyFileW(toWide(SV_FAKE_SIGNTOOL).c_str(), joinPath(tools, L"signtool.exe").c_str(), FALSE));
  DeleteFileW(joinPath(tools, L"calls.txt").c_str());
  test::WriteScratchFile(tools, L"behaviour.txt", "0 0");
  const std::wstring pfx = joinPath(folder, L"kod.pfx");
  ASSERT_TRUE(CopyFileW(test::SigningPfx().c_str(), pfx.c_str(), FALSE));
  const std::wstring session = test::WriteScratchFile(
      folder, L"s.ini", "skin=" + toUtf8(test::SampleSkin()) + "\r\nsign=1\r\nsign_pfx=" + toUtf8(pfx) + "\r\nsign_ts=\r\n");
  SetEnvironmentVariableW(L"ProgramFiles(x86)", joinPath(folder, L"pf").c_str());
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", test::kSigningPassword);
  const Headless run = RunHeadlessCaptured(session, joinPath(folder, L"imzali.exe"));
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr);
  ASSERT_EQ(run.code, 0u) << toUtf8(run.output);
  EXPECT_NE(run.output.find(L"Dijital imza eklendi."), std::wstring::npos);
  EXPECT_EQ(run.output.find(L"gizli"), std::wstring::npos);
  // The stand-in adds "<env SARVIK_SIGN_PASSWORD>" when the password is in its environment and
  // "<key ...>" when it found the certificate's key in the store it was named.
  const std::vector<test::Arguments> calls = test::SignToolCalls(tools);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(test::WithoutRunNames(calls[0]),
            (test::Arguments{L"sign", L"/fd", L"SHA256", L"/s", L"STORE", L"/sha1", test::kSigningThumbprint, L"/d",
                             L"Draskel", joinPath(folder, L"imzali.exe.building"), L"<key>"}));
  for (const std::wstring& argument : calls[0]) EXPECT_EQ(argument.find(L"gizli"), std::wstring::npos);
}

// The operator's "İptal": the build stops at its next step and leaves neither the output nor its
// work file (the signing tool's run is ended the same way, see the signing tests).
TEST(BuildPatcher, ACancelledBuildWritesNothing) {
  const std::wstring folder = test::ScratchFolder("cancelled_build");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  BuildRequest request;
  request.templatePath = joinPath(parentPath(toWide(SV_SARVIK_BUILDER)), kTemplateFileName);
  request.outputPath = joinPath(folder, L"iptal.exe");
  DeleteFileW(request.outputPath.c_str());
  ASSERT_TRUE(BuildSkinPackage(skin, skin.ImportedFields(), request.packageBytes));
  std::atomic<bool> cancel{true};
  request.cancel = &cancel;
  const BuildResult result = BuildPatcher(request, nullptr, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, kBuildCancelledText);
  EXPECT_FALSE(isFile(request.outputPath));
  EXPECT_FALSE(isFile(request.outputPath + L".building"));
}

// Same-length edits inside the package (one byte of the address, the connection count, a switch)
// must reach the file's CRC, or a deployed patcher takes the new one for itself.
TEST(BuildPatcher, PatchersDifferingByOneValueGetDifferentCrcsAndEqualInputsTheSameFile) {
  const std::wstring folder = test::ScratchFolder("patcher_crc");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  SkinFields base = skin.ImportedFields();
  base.configUrl = L"http://127.0.0.1:1/c.xml";
  base.settings.connections = 3;
  const std::map<std::string, std::function<void(SkinFields&)>> variants = {
      {"base", [](SkinFields&) {}},
      {"address", [](SkinFields& f) { f.configUrl = L"http://127.0.0.1:2/c.xml"; }},
      {"connections", [](SkinFields& f) { f.settings.connections = 4; }},
      {"close_on_start", [](SkinFields& f) { f.settings.closeOnStart = !f.settings.closeOnStart; }},
      {"auto_start", [](SkinFields& f) { f.settings.autoStart = !f.settings.autoStart; }},
      {"allow_error", [](SkinFields& f) { f.settings.allowStartOnError = !f.settings.allowStartOnError; }},
      {"browser_emu", [](SkinFields& f) { f.settings.browserEmulation = !f.settings.browserEmulation; }},
  };
  auto build = [&](const std::string& name, const SkinFields& fields) {
    BuildRequest request;
    request.templatePath = joinPath(parentPath(toWide(SV_SARVIK_BUILDER)), kTemplateFileName);
    request.outputPath = joinPath(folder, toWide(name) + L".exe");
    EXPECT_TRUE(BuildSkinPackage(skin, fields, request.packageBytes));
    const BuildResult result = BuildPatcher(request, nullptr, nullptr);
    EXPECT_TRUE(result.ok) << toUtf8(result.message);
    return std::make_pair(result.crc32, request.packageBytes.size());
  };
  std::map<uint32_t, std::string> byCrc;
  std::set<size_t> packageSizes;
  for (const auto& [name, change] : variants) {
    SkinFields fields = base;
    change(fields);
    const auto [crc, packageSize] = build(name, fields);
    packageSizes.insert(packageSize);
    EXPECT_TRUE(byCrc.emplace(crc, name).second) << name << " has the CRC of " << byCrc[crc];
  }
  EXPECT_EQ(packageSizes.size(), 1u) << "the edits must keep the package's length";
  build("base_again", base);
  EXPECT_EQ(test::ReadFile(joinPath(folder, L"base_again.exe")), test::ReadFile(joinPath(folder, L"base.exe")));
}

}  // namespace
}  // namespace sv
