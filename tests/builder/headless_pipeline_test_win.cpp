// The headless build and the pipeline called directly with the same request write patchers whose
// resources are the same.
#include <gtest/gtest.h>
#include <windows.h>

#include "builder/build_request.h"
#include "builder/session.h"
#include "builder/skin_import.h"
#include "builder_test_util.h"
#include "pe_resource_win.h"
#include "patcher/app/resource_ids.h"

namespace sv {
namespace {

using test::Resource;

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

  std::wstring command = L"\"" + builder + L"\" --build \"" + session + L"\" --out \"" + headlessOut + L"\"";
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u);

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

}  // namespace
}  // namespace sv
