// The start-up decisions: which role a start plays, what a preview leaves alone, and the skin
// that could not be built.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "patcher/app/startup_plan.h"
#include "patcher/app/startup_skin.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"
#include "skin/skin_package.h"
#include "tests/skin/skin_test_util.h"

namespace sv {
namespace {

using Args = std::vector<std::wstring>;

TEST(StartupPlan, SwitchesAreWholeArgumentsIgnoringCase) {
  EXPECT_TRUE(HasSwitch(Args{L"--preview"}, L"--preview"));
  EXPECT_TRUE(HasSwitch(Args{L"--PreView"}, L"--preview"));
  EXPECT_TRUE(HasSwitch(Args{L"x", L"y z", L"--sv-updated"}, L"--sv-updated"));
  EXPECT_FALSE(HasSwitch(Args{L"--preview2", L"-preview", L"--previe"}, L"--preview"));
  EXPECT_FALSE(HasSwitch(Args{L"--sv-run x"}, L"--sv-run"));
  EXPECT_FALSE(HasSwitch(Args{L"svrun", L"sv-run"}, L"--sv-run"));
  EXPECT_FALSE(HasSwitch(Args{}, L"--sv-close"));
}

TEST(StartupPlan, RolesAndWhatEachRunTouches) {
  const std::wstring folder = joinPath(L"C:", L"Oyun");
  const std::wstring temp = joinPath(folder, L"temp");

  StartupPlan player = PlanStartup({}, folder);
  EXPECT_EQ(player.role, ProcessRole::Patcher);
  EXPECT_FALSE(player.preview);
  EXPECT_FALSE(player.restarted);
  EXPECT_EQ(player.tempFolder, temp);
  EXPECT_EQ(player.logPath, joinPath(temp, L"Sarvik.log"));
  EXPECT_EQ(player.staleLogPath, joinPath(folder, L"Sarvik.log"));
  EXPECT_EQ(player.previousLogPath, joinPath(temp, L"Sarvik.log.1"));

  // A preview runs beside the real patcher: no log of its own, and the real one's stays.
  StartupPlan preview = PlanStartup({L"--PREVIEW"}, folder);
  EXPECT_EQ(preview.role, ProcessRole::Patcher);
  EXPECT_TRUE(preview.preview);
  EXPECT_EQ(preview.logPath, L"");
  EXPECT_EQ(preview.staleLogPath, L"");
  EXPECT_EQ(preview.previousLogPath, L"");

  EXPECT_TRUE(PlanStartup({L"--sv-updated"}, folder).restarted);
  EXPECT_TRUE(PlanStartup({L"--sv-elevated"}, folder).restarted);
  EXPECT_FALSE(PlanStartup({L"--sv-update"}, folder).restarted);
  // Only a self-update's start takes no other build; an elevated restart may.
  EXPECT_TRUE(PlanStartup({L"--sv-updated"}, folder).updated);
  EXPECT_FALSE(PlanStartup({L"--sv-elevated"}, folder).updated);
  EXPECT_FALSE(PlanStartup({}, folder).updated);
  EXPECT_TRUE(PlanStartup({L"--SV-REPAIR"}, folder).repair);
  EXPECT_FALSE(PlanStartup({L"--sv-updated"}, folder).repair);
  // An elevated restart goes on with what it restarts: a repair stays a repair.
  auto words = [](const std::wstring& line) {
    std::vector<std::wstring> out;
    for (size_t at = 0, end; at < line.size(); at = end + 1) {
      end = std::min(line.find(L' ', at), line.size());
      out.push_back(line.substr(at, end - at));
    }
    return out;
  };
  const StartupPlan elevatedRepair = PlanStartup(words(ElevatedArguments(true)), folder);
  EXPECT_TRUE(elevatedRepair.restarted && elevatedRepair.repair);
  const StartupPlan elevated = PlanStartup(words(ElevatedArguments(false)), folder);
  EXPECT_TRUE(elevated.restarted && !elevated.repair);
  EXPECT_EQ(PlanStartup({L"--sv-swap", L"C:\\Oyun\\Sarvik.exe", L"C:\\Oyun\\temp\\Sarvik.exe.new"},
                        folder).role,
            ProcessRole::SwapHelper);

  EXPECT_EQ(PlanStartup({L"--sv-close", L"12", L"345"}, folder).role, ProcessRole::CloseHelper);
  EXPECT_EQ(PlanStartup({L"--sv-run", L"bin\\game.exe"}, folder).role, ProcessRole::RunProgram);
  // The program a run starts may take any arguments, "--sv-close" among them.
  EXPECT_EQ(PlanStartup({L"--sv-run", L"tool.exe", L"--sv-close"}, folder).role,
            ProcessRole::RunProgram);
}

class StartupSkin : public ::testing::Test {
 protected:
  void SetUp() override {
    logPath_ = joinPath(test::ScratchFolder("startup_skin"), L"Sarvik.log");
    OpenLog(logPath_);
  }
  void TearDown() override { CloseLog(); }
  std::string LogText() {
    CloseLog();
    return test::ReadFile(logPath_);
  }

  std::wstring logPath_;
};

TEST_F(StartupSkin, AFailedReadNamesTheBuilderAndIsLogged) {
  SkinDefinition skin;
  std::wstring box;
  EXPECT_FALSE(BuildStartupSkin(
      [](SkinPackage&, std::wstring* error) {
        *error = L"Kaynak yok";
        return false;
      },
      skin, box));
  EXPECT_EQ(box, skin.text("ERROR_NO_SKIN") +
                     L"\n\nKaynak yok\n\nBu exe Sarvik Olu\u015Fturucu ile haz\u0131rlanmal\u0131d\u0131r.");
  EXPECT_NE(LogText().find("Skin yuklenemedi: Kaynak yok"), std::string::npos);
}

TEST_F(StartupSkin, APackageWithoutASkinAndOneTooLargeForMemoryFailWithAReason) {
  SkinDefinition skin;
  std::wstring box;
  // Read, but with nothing to build a skin from: the build's own reason reaches the box.
  EXPECT_FALSE(BuildStartupSkin([](SkinPackage&, std::wstring*) { return true; }, skin, box));
  EXPECT_NE(box.find(L"TorrentPatch.url.xml"), std::wstring::npos) << toUtf8(box);

  EXPECT_FALSE(BuildStartupSkin(
      [](SkinPackage&, std::wstring*) -> bool { throw std::bad_alloc(); }, skin, box));
  EXPECT_NE(box.find(L"\n\nBellek yetersiz.\n\n"), std::wstring::npos) << toUtf8(box);
  EXPECT_NE(LogText().find("Skin yuklenemedi: Bellek yetersiz."), std::string::npos);
}

TEST_F(StartupSkin, ABuiltSkinLogsItsWarnings) {
  SkinDefinition skin;
  std::wstring box;
  ASSERT_TRUE(BuildStartupSkin(
      [](SkinPackage& package, std::wstring*) {
        SkinPackageBuilder builder;
        builder.put("TorrentPatch.url.xml", "<u remoteConfigPath='http://127.0.0.1/c.xml'/>");
        builder.put("main.bmp", test::SolidBmp(4, 3, 0x102030));
        builder.put("skin.xml", "<skin></skin>");
        builder.put("TorrentPatch.locale.xml", "<l><string>");
        package = builder.package;
        return true;
      },
      skin, box));
  EXPECT_EQ(box, L"");
  EXPECT_EQ(skin.width, 4);
  EXPECT_NE(LogText().find("Skin uyarisi: torrentpatch.locale.xml okunam"), std::string::npos);
}

}  // namespace
}  // namespace sv
