// The builder window's preview and build paths with real skin images and the real pipeline: the
// live preview draws what the built patcher's own skin draws with the same sample values, and a
// request assembled from the window's values writes the patcher the headless build writes.
#include <gtest/gtest.h>
#include <windows.h>

#include "builder/build_assembly.h"
#include "builder/form_fields.h"
#include "builder/form_values.h"
#include "builder/preview_model.h"
#include "builder_test_util.h"
#include "common/scoped_win.h"
#include "pe_resource_win.h"
#include "tests/support/gdiplus_environment_win.h"

namespace sv {
namespace {

[[maybe_unused]] ::testing::Environment* const kGdiplus =
    ::testing::AddGlobalTestEnvironment(new test::GdiplusEnvironment);

std::wstring TemplatePath() { return joinPath(parentPath(toWide(SV_SARVIK_BUILDER)), kTemplateFileName); }

FormValues EditedSampleValues(const SkinImport& skin, const std::wstring& outputPath) {
  FormValues v;
  PrefillFromSkin(v, skin, false);
  v.setField(kFieldTitle, L"Önizleme Sunucusu");
  v.setField(kFieldConfigUrl, L"http://127.0.0.1:9/yeni.config.xml");
  v.setField(kFieldVersion, L"3.1");
  v.setField(kFieldOutPath, outputPath);
  v.set(kKeyConnections, L"5");
  v.set(skin.links.front().key, L"https://yeni.example/");
  return v;
}

using test::Resource;

BuildResult BuildFromValues(const SkinImport& skin, const FormValues& v) {
  BuildRequest request;
  BuildResult result;
  if (!AssembleBuildRequest(ToSession(v), skin, TemplatePath(), v.field(kFieldOutPath), L"", request, &result.message))
    return result;
  return BuildPatcher(request, nullptr, nullptr);
}

TEST(LivePreview, SampleValuesOnTheEditedSkin) {
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  FormValues v;
  PrefillFromSkin(v, skin, false);
  v.setField(kFieldTitle, L"Önizleme Başlığı");
  PreviewModel model;
  std::wstring error;
  ASSERT_TRUE(BuildPreviewModel(skin, SessionFields(skin, ToSession(v)), model, &error)) << toUtf8(error);
  EXPECT_EQ(model.width, 920);
  EXPECT_EQ(model.height, 580);
  EXPECT_EQ(model.skin.settings.title, L"Önizleme Başlığı");
  EXPECT_EQ(model.linkCount, skin.links.size());
  ASSERT_EQ(model.states.size(), model.skin.controls.size());
  int gauges = 0;
  for (size_t i = 0; i < model.states.size(); ++i) {
    const SkinControl& c = model.skin.controls[i];
    const ControlState& s = model.states[i];
    if (c.kind == ControlKind::Gauge) {
      ++gauges;
      EXPECT_FLOAT_EQ(s.progress, c.id == "PROGRESS_SUB" ? 0.45f : 0.70f);
    } else if (c.id == "TEXT_MAIN") {
      EXPECT_EQ(s.textOverride, model.skin.text("TORRENT_STATE_DOWNLOADING") + L"  %45");
    } else if (c.id == "TEXT_SUB" || c.id == "TEXT_TORRENT") {
      EXPECT_EQ(s.textOverride, L"pack\\root.epk (%45)");
    } else {
      EXPECT_FALSE(s.hasTextOverride) << c.id;
      EXPECT_TRUE(s.visible && s.enabled) << c.id;
    }
  }
  EXPECT_GE(gauges, 2);
  EXPECT_EQ(PreviewSizeText(920, 580), L"920 × 580 px");
  EXPECT_EQ(PreviewWindowKindText(true), L"Saydam pencere");
  EXPECT_EQ(PreviewLinkText(2), L"2 bağlantı");
}

TEST(LivePreview, DrawsWhatTheBuiltPatchersOwnSkinDraws) {
  const std::wstring folder = test::ScratchFolder("live_preview");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  const FormValues v = EditedSampleValues(skin, joinPath(folder, L"Onizleme.exe"));
  const BuildResult built = BuildFromValues(skin, v);
  ASSERT_TRUE(built.ok) << toUtf8(built.message);

  PreviewModel model;
  std::wstring error;
  ASSERT_TRUE(BuildPreviewModel(skin, SessionFields(skin, ToSession(v)), model, &error)) << toUtf8(error);
  std::vector<uint32_t> preview(size_t(model.width) * size_t(model.height));
  Renderer previewRenderer;
  previewRenderer.render(preview.data(), model.skin, model.states, true);

  // The patcher's side: its embedded package, read as the patcher reads it at start-up.
  SkinPackage embedded;
  {
    ScopedModule module(LoadLibraryExW(v.field(kFieldOutPath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    ASSERT_TRUE(embedded.loadEmbedded(module.get(), &error)) << toUtf8(error);
  }
  SkinDefinition patcherSkin;
  ASSERT_TRUE(patcherSkin.load(embedded, &error)) << toUtf8(error);
  patcherSkin.setPackage(&embedded);
  EXPECT_EQ(patcherSkin.settings.title, L"Önizleme Sunucusu");
  ASSERT_EQ(patcherSkin.width, model.width);
  ASSERT_EQ(patcherSkin.height, model.height);
  std::vector<uint32_t> patcher(preview.size());
  Renderer patcherRenderer;
  patcherRenderer.render(patcher.data(), patcherSkin, PreviewStates(patcherSkin), true);
  size_t differing = 0;
  for (size_t i = 0; i < preview.size(); ++i) differing += preview[i] != patcher[i];
  EXPECT_EQ(differing, 0u);
  // The sample values are really drawn: a frame without them differs.
  std::vector<uint32_t> idle(preview.size());
  patcherRenderer.render(idle.data(), patcherSkin, std::vector<ControlState>(patcherSkin.controls.size()), true);
  EXPECT_NE(idle, patcher);
}

// On the sample skin, changing only the news page field changes the built patcher's news area and
// nothing else: the register button keeps its own address (it used to take the news page, while
// the news area kept the old one).
TEST(WindowBuild, NewsPageEditReachesTheNewsAreaAndNoOtherButton) {
  const std::wstring folder = test::ScratchFolder("news_page_edit");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  FormValues v;
  PrefillFromSkin(v, skin, false);
  v.setField(kFieldOutPath, joinPath(folder, L"Haber.exe"));
  v.setField(kFieldNewsUrl, L"https://yeni.example/haberler");
  const BuildResult built = BuildFromValues(skin, v);
  ASSERT_TRUE(built.ok) << toUtf8(built.message);
  SkinPackage embedded;
  std::wstring error;
  {
    ScopedModule module(LoadLibraryExW(v.field(kFieldOutPath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    ASSERT_TRUE(embedded.loadEmbedded(module.get(), &error)) << toUtf8(error);
  }
  SkinDefinition patcherSkin;
  ASSERT_TRUE(patcherSkin.load(embedded, &error)) << toUtf8(error);
  ASSERT_TRUE(patcherSkin.findControl("WEB") && patcherSkin.findControl("URL_NEW") && patcherSkin.findControl("WEBSITE"));
  EXPECT_EQ(patcherSkin.findControl("WEB")->link, L"https://yeni.example/haberler");
  EXPECT_EQ(patcherSkin.findControl("URL_NEW")->link, L"https://draskel.example.com/kayit");
  EXPECT_EQ(patcherSkin.findControl("WEBSITE")->link, L"https://draskel.example.com/");
}

TEST(WindowBuild, ValuesWriteThePatcherTheHeadlessBuildWritesFromTheirSession) {
  const std::wstring folder = test::ScratchFolder("window_build");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  const std::wstring windowOut = joinPath(folder, L"pencere\\Draskel.exe");
  const std::wstring headlessOut = joinPath(folder, L"headless\\Draskel.exe");
  createDirectories(parentPath(windowOut));
  createDirectories(parentPath(headlessOut));
  DeleteFileW(headlessOut.c_str());
  const FormValues v = EditedSampleValues(skin, windowOut);
  const BuildResult built = BuildFromValues(skin, v);
  ASSERT_TRUE(built.ok) << toUtf8(built.message);

  // The same values saved as the session file and built by the headless build.
  const std::string sessionText = SessionText(v);
  const std::wstring session = test::WriteScratchFile(folder, L"olusturucu.ini", sessionText);
  std::wstring command = L"\"" + toWide(SV_SARVIK_BUILDER) + L"\" --build \"" + session + L"\" --out \"" + headlessOut + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(code, 0u);
  for (WORD type : {WORD(10), WORD(16)}) {
    const WORD id = type == 10 ? 900 : 1;
    const std::string a = Resource(windowOut, type, id), b = Resource(headlessOut, type, id);
    EXPECT_GT(a.size(), 100u);
    EXPECT_EQ(a, b) << type;
  }
  EXPECT_EQ(test::ReadFile(windowOut), test::ReadFile(headlessOut));
}

}  // namespace
}  // namespace sv
