// The headless build and the pipeline called directly with the same request write patchers whose
// resources are the same; patchers that differ by one value get different file CRCs.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <set>

#include "builder/build_request.h"
#include "builder/session.h"
#include "builder/skin_import.h"
#include "builder_test_util.h"
#include "pe_resource_win.h"
#include "patcher/app/resource_ids.h"

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

// The password reaches signtool as its one /p argument, and never through the tool's environment.
TEST(HeadlessBuild, SignsWithThePasswordAsOneArgumentAndNotInTheToolsEnvironment) {
  const std::wstring folder = test::ScratchFolder("headless_sign");
  const std::wstring tools = joinPath(folder, L"pf\\Windows Kits\\10\\bin\\10.0.22621.0\\x86");
  createDirectories(tools);
  ASSERT_TRUE(CopyFileW(toWide(SV_FAKE_SIGNTOOL).c_str(), joinPath(tools, L"signtool.exe").c_str(), FALSE));
  DeleteFileW(joinPath(tools, L"calls.txt").c_str());
  test::WriteScratchFile(tools, L"behaviour.txt", "0 0");
  const std::wstring pfx = test::WriteScratchFile(folder, L"kod.pfx", "pfx");
  const std::wstring session = test::WriteScratchFile(
      folder, L"s.ini", "skin=" + toUtf8(test::SampleSkin()) + "\r\nsign=1\r\nsign_pfx=" + toUtf8(pfx) + "\r\nsign_ts=\r\n");
  const std::wstring password = L"gizli\" /fd SHA1 \\";
  SetEnvironmentVariableW(L"ProgramFiles(x86)", joinPath(folder, L"pf").c_str());
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", password.c_str());
  const DWORD code = RunHeadless(session, joinPath(folder, L"imzali.exe"));
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr);
  ASSERT_EQ(code, 0u);
  // The stand-in adds "<env SARVIK_SIGN_PASSWORD>" when the password is in its environment.
  EXPECT_EQ(test::SignToolCalls(tools),
            (std::vector<test::Arguments>{{L"sign", L"/fd", L"SHA256", L"/f", pfx, L"/p", password, L"/d", L"Draskel",
                                          joinPath(folder, L"imzali.exe.building")}}));
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
