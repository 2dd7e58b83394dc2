// The in-use dialog's body text: files, programs, the extra message and the closing line.
#include <gtest/gtest.h>

#include "patcher/app/inuse_dialog_text.h"
#include "patcher/engine/update_engine.h"
#include "skin/locale_table.h"

namespace {

sv::LockingProcess Program(uint32_t pid, const wchar_t* name, bool closable, const wchar_t* path = L"") {
  sv::LockingProcess p;
  p.pid = pid;
  p.name = name;
  p.closable = closable;
  p.path = path;
  return p;
}

class InUseText : public ::testing::Test {
 protected:
  InUseText() {
    locale.set("SV_INUSE_HEAD", L"HEAD");
    locale.set("SV_INUSE_FILES", L"FILES");
    locale.set("SV_INUSE_PROGRAMS", L"PROGRAMS");
    locale.set("SV_INUSE_MORE", L"+%s");
    locale.set("SV_INUSE_SYSTEM_TAG", L"SYS");
    locale.set("SV_INUSE_QUESTION", L"QUESTION");
    locale.set("SV_INUSE_SYSTEM", L"SYSTEM");
    locale.set("SV_INUSE_UNKNOWN", L"UNKNOWN");
  }
  sv::LocaleTable locale;
  sv::InUseList list;
};

TEST_F(InUseText, SixFilesAndNoKnownHolder) {
  list.names = {L"a.dat", L"b.dat", L"c.dat", L"d.dat", L"e.dat", L"f.dat"};
  EXPECT_FALSE(sv::InUseCanClose(list));
  EXPECT_EQ(sv::BuildInUseText(list, false, locale),
            L"HEAD\n\nFILES\n    a.dat\n    b.dat\n    c.dat\n    d.dat\n    +2\n\nUNKNOWN");
}

TEST_F(InUseText, ProgramsWithPathsTagsAndTheExtraMessage) {
  list.names = {L"data\\game.dat"};
  list.processes = {Program(4242, L"game.exe", true, L"C:\\Oyun\\game.exe"),
                    Program(8, L"svchost.exe", false)};
  list.message = L"EXTRA";
  ASSERT_TRUE(sv::InUseCanClose(list));
  EXPECT_EQ(sv::BuildInUseText(list, true, locale),
            L"HEAD\n\nFILES\n    data\\game.dat\n\nPROGRAMS\n    game.exe (PID 4242)\n"
            L"    C:\\Oyun\\game.exe\n    svchost.exe (PID 8) - SYS\n\nEXTRA\n\nQUESTION");
}

TEST_F(InUseText, OnlySystemProgramsAndMoreThanFive) {
  for (uint32_t i = 1; i <= 7; ++i) list.processes.push_back(Program(i, L"sys.exe", false));
  list.names = {L"x"};
  EXPECT_FALSE(sv::InUseCanClose(list));
  const std::wstring text = sv::BuildInUseText(list, false, locale);
  EXPECT_NE(text.find(L"    sys.exe (PID 5) - SYS\n    +2\n\nSYSTEM"), std::wstring::npos) << text;
  EXPECT_EQ(text.find(L"(PID 6)"), std::wstring::npos);
}

TEST_F(InUseText, BuiltInTurkishTexts) {
  sv::LocaleTable builtIn;
  list.names = {L"a", L"b", L"c", L"d", L"e"};
  const std::wstring text = sv::BuildInUseText(list, false, builtIn);
  EXPECT_EQ(text.rfind(builtIn.text("SV_INUSE_HEAD"), 0), 0u);
  EXPECT_NE(text.find(L"    ve 1 tane daha\n"), std::wstring::npos) << text;
  EXPECT_NE(text.find(builtIn.text("SV_INUSE_UNKNOWN")), std::wstring::npos);
}

}  // namespace

#include "patcher/app/inuse_dialog_layout.h"

namespace {

TEST(DialogPlacement, CentredOverTheOwnerAndKeptInTheWorkArea) {
  const sv::DialogRect owner{100, 100, 900, 700};
  const sv::DialogRect centred = sv::CenterOver(owner, 560, 300);
  EXPECT_EQ(centred.left, 220);
  EXPECT_EQ(centred.top, 250);
  EXPECT_EQ(centred.width(), 560);
  const sv::DialogRect work{0, 0, 1024, 740};
  EXPECT_EQ(sv::KeepInside(centred, work).left, 220);  // inside already: unchanged
  // An owner dragged off the right and bottom edges: the dialog comes back in.
  const sv::DialogRect off = sv::KeepInside(sv::CenterOver({800, 600, 1600, 1200}, 560, 300), work);
  EXPECT_EQ(off.right, 1024);
  EXPECT_EQ(off.bottom, 740);
  EXPECT_EQ(off.height(), 300);
  // Larger than the work area: its top-left corner stays visible.
  const sv::DialogRect big = sv::KeepInside({-50, -60, 1150, 840}, work);
  EXPECT_EQ(big.left, 0);
  EXPECT_EQ(big.top, 0);
  EXPECT_EQ(big.width(), 1200);
}

TEST(InUseLayout, TextsThenButtons) {
  const sv::InUseLayout l = sv::LayOutInUse(20, 130);
  EXPECT_EQ(l.bodyTop, 44);
  EXPECT_EQ(l.buttonTop, 201);
  EXPECT_EQ(l.clientHeight, 242);
  EXPECT_EQ(l.bodyHeight, 130);
  EXPECT_LE(l.buttonTop + sv::InUseLayout::kButtonHeight, l.clientHeight);
}

}  // namespace

TEST_F(InUseText, AHolderWithoutAKnownStartTimeIsNotCalledAWindowsComponent) {
  locale.set("SV_INUSE_UNKNOWN_TAG", L"UNVERIFIED");
  list.names = {L"x"};
  sv::LockingProcess p = Program(77, L"PID 77", false);
  p.identityUnknown = true;
  list.processes = {p};
  const std::wstring text = sv::BuildInUseText(list, false, locale);
  EXPECT_NE(text.find(L"PID 77 (PID 77) - UNVERIFIED\n"), std::wstring::npos) << text;
  EXPECT_EQ(text.find(L"SYS\n"), std::wstring::npos) << text;
}
