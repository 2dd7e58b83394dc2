// The main window's status table, lazy redraw, hit test and button order, on the portable mapping
// the window calls every tick.
#include <gtest/gtest.h>

#include "patcher/app/window_status.h"

namespace sv {
namespace {

class StatusTable : public ::testing::Test {
protected:
  SkinControl& Add(ControlKind kind, const std::string& id) {
    SkinControl c;
    c.kind = kind;
    c.id = id;
    c.text = L"skin text";
    skin.controls.push_back(c);
    return skin.controls.back();
  }
  void AddAll(bool withSub = true, bool withSpeed = true) {
    for (const char* id : {"TEXT_MAIN", "TEXT_TORRENT", "TEXT_PERCENT", "TEXT_TOTAL", "TEXT_SIZE",
                           "TEXT_SPEED", "TEXT_ETA", "TEXT_VERSION", "LABEL_OTHER"}) {
      Add(ControlKind::Text, id);
    }
    if (withSub) Add(ControlKind::Text, "TEXT_SUB");
    if (withSpeed) Add(ControlKind::Text, "TEXT_DNSPEED");
    Add(ControlKind::Gauge, "PROGRESS");
    Add(ControlKind::Gauge, "PROGRESS_SUB");
    Add(ControlKind::Gauge, "PROGRESS_OTHER");
    Add(ControlKind::Button, "START");
    Add(ControlKind::Button, "PLAY_TOO").enableOnComplete = true;
    Add(ControlKind::Button, "EXIT");
    Add(ControlKind::Text, "FEED_STATUS");
    Add(ControlKind::Picture, "FEED_DOT_ON");
    Add(ControlKind::Picture, "LOGO");
  }
  size_t Index(const std::string& id) const {
    for (size_t i = 0; i < skin.controls.size(); ++i) {
      if (skin.controls[i].id == id) return i;
    }
    ADD_FAILURE() << id;
    return 0;
  }
  // The text the renderer will draw for the control.
  std::wstring Shown(const std::string& id) const {
    const ControlState& s = states[Index(id)];
    return s.hasTextOverride ? s.textOverride : skin.controls[Index(id)].text;
  }
  const ControlState& State(const std::string& id) const { return states[Index(id)]; }

  StatusSnapshot Downloading() const {
    StatusSnapshot s;
    s.phase = kPhaseDownloading;
    s.statusText = L"İndiriliyor...";
    s.currentText = L"data\\maps\\vadi.pak";
    s.speedText = L"4,2 MB/sn";
    s.remainingText = L"1 dk 31 sn";
    s.amountText = L"312,5 MB / 694,4 MB";
    s.overall = 0.45f;
    s.current = 0.8f;
    s.changeCounter = 7;
    return s;
  }

  SkinDefinition skin;
  std::vector<ControlState> states;
};

TEST_F(StatusTable, DownloadPhaseFillsEveryRow) {
  AddAll();
  states = InitialControlStates(skin);
  EXPECT_TRUE(!ApplyStatus(skin, Downloading(), states));
  EXPECT_EQ(Shown("TEXT_MAIN"), L"İndiriliyor...  %45");
  EXPECT_EQ(Shown("TEXT_SUB"), L"data\\maps\\vadi.pak");
  EXPECT_EQ(Shown("TEXT_TORRENT"), L"");  // TEXT_SUB and TEXT_DNSPEED take its parts
  EXPECT_EQ(Shown("TEXT_DNSPEED"), L"İndirme Hızı: 4,2 MB/sn");
  EXPECT_EQ(Shown("TEXT_PERCENT"), L"%45");
  EXPECT_EQ(Shown("TEXT_TOTAL"), L"312,5 MB / 694,4 MB");
  EXPECT_EQ(Shown("TEXT_SIZE"), L"312,5 MB / 694,4 MB");
  EXPECT_EQ(Shown("TEXT_SPEED"), L"4,2 MB/sn");
  EXPECT_EQ(Shown("TEXT_ETA"), L"Kalan: 1 dk 31 sn");
  EXPECT_EQ(Shown("TEXT_VERSION"), L"v1.0.0");
  EXPECT_EQ(Shown("LABEL_OTHER"), L"skin text");  // not in the table: the skin's own text
  EXPECT_FLOAT_EQ(State("PROGRESS").progress, 0.45f);
  EXPECT_FLOAT_EQ(State("PROGRESS_SUB").progress, 0.8f);
  EXPECT_FLOAT_EQ(State("PROGRESS_OTHER").progress, 0.45f);
  EXPECT_FALSE(State("START").enabled);
  EXPECT_FALSE(State("PLAY_TOO").enabled);
  EXPECT_TRUE(State("EXIT").enabled);
}

TEST_F(StatusTable, PhaseThreeTextsGoAwayInOtherPhases) {
  AddAll();
  states = InitialControlStates(skin);
  StatusSnapshot s = Downloading();
  s.phase = kPhaseChecking;
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_MAIN"), L"İndiriliyor...  %45");  // busy: still the percent
  EXPECT_EQ(Shown("TEXT_PERCENT"), L"%45");
  for (const char* id : {"TEXT_DNSPEED", "TEXT_TOTAL", "TEXT_SIZE", "TEXT_SPEED", "TEXT_ETA"}) {
    EXPECT_EQ(Shown(id), L"") << id;
  }
  s.phase = kPhaseFinished;
  s.overall = 1.0f;
  s.statusText = L"Güncelleme tamamlandı!";
  EXPECT_TRUE(ApplyStatus(skin, s, states));
  EXPECT_EQ(Shown("TEXT_MAIN"), L"Güncelleme tamamlandı!");  // not busy: no percent
  EXPECT_EQ(Shown("TEXT_PERCENT"), L"%100");
  EXPECT_TRUE(State("START").enabled);
  EXPECT_TRUE(State("PLAY_TOO").enabled);
  s.phase = kPhaseFailed;
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_PERCENT"), L"");
  // Phase 3 without a remaining time: no ETA row.
  s = Downloading();
  s.remainingText.clear();
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_ETA"), L"");
}

TEST_F(StatusTable, SkinWithoutSubAndSpeedShowsThemInTorrentText) {
  AddAll(false, false);
  states = InitialControlStates(skin);
  ApplyStatus(skin, Downloading(), states);
  EXPECT_EQ(Shown("TEXT_TORRENT"),
            L"data\\maps\\vadi.pak  \u2022  4,2 MB/sn  \u2022  Kalan: 1 dk 31 sn");
  StatusSnapshot s = Downloading();
  s.currentText.clear();
  s.remainingText.clear();
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_TORRENT"), L"4,2 MB/sn");  // no separator in front of nothing
  s.phase = kPhaseChecking;
  s.currentText = L"kontrol";
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_TORRENT"), L"kontrol");
}

TEST_F(StatusTable, SkinWithoutSubButWithSpeedKeepsSpeedOutOfTorrentText) {
  AddAll(false, true);
  states = InitialControlStates(skin);
  ApplyStatus(skin, Downloading(), states);
  EXPECT_EQ(Shown("TEXT_TORRENT"), L"data\\maps\\vadi.pak");
}

TEST_F(StatusTable, StartAfterFailedRunFollowsTheSetting) {
  AddAll();
  states = InitialControlStates(skin);
  StatusSnapshot failed;
  failed.phase = kPhaseFailed;
  failed.statusText = L"Hata";
  skin.settings.allowStartOnError = false;
  EXPECT_FALSE(ApplyStatus(skin, failed, states));
  EXPECT_FALSE(State("START").enabled);
  skin.settings.allowStartOnError = true;
  EXPECT_TRUE(ApplyStatus(skin, failed, states));
  EXPECT_TRUE(State("START").enabled);
  EXPECT_TRUE(State("PLAY_TOO").enabled);
}

TEST_F(StatusTable, DisabledButtonLosesItsPress) {
  AddAll();
  states = InitialControlStates(skin);
  StatusSnapshot done;
  done.phase = kPhaseFinished;
  ApplyStatus(skin, done, states);
  states[Index("START")].pressed = true;
  ApplyStatus(skin, Downloading(), states);  // a retried run
  EXPECT_FALSE(State("START").enabled);
  EXPECT_FALSE(State("START").pressed);
}

TEST_F(StatusTable, RepairWaitsForTheRunAndItsCheckCarriesItsOwnPercent) {
  AddAll();
  Add(ControlKind::Button, "REPAIR");
  states = InitialControlStates(skin);
  EXPECT_FALSE(State("REPAIR").enabled);
  StatusSnapshot s;
  s.phase = kPhaseFailed;
  skin.settings.allowStartOnError = false;
  ApplyStatus(skin, s, states);
  EXPECT_TRUE(State("REPAIR").enabled);  // a failed run is what a repair is for
  EXPECT_FALSE(State("START").enabled);
  states[Index("REPAIR")].pressed = true;
  s.repair = true;
  s.phase = kPhaseChecking;
  s.statusText = L"Dosyalar doğrulanıyor… %42";
  s.overall = 0.42f;
  ApplyStatus(skin, s, states);
  EXPECT_FALSE(State("REPAIR").enabled);
  EXPECT_FALSE(State("REPAIR").pressed);
  EXPECT_EQ(Shown("TEXT_MAIN"), L"Dosyalar doğrulanıyor… %42");
  EXPECT_EQ(Shown("TEXT_PERCENT"), L"%42");
  s.phase = kPhaseDownloading;  // the repair's download shows its percent as any download does
  s.statusText = L"İndiriliyor...";
  ApplyStatus(skin, s, states);
  EXPECT_EQ(Shown("TEXT_MAIN"), L"İndiriliyor...  %42");
  s.phase = kPhaseFinished;
  ApplyStatus(skin, s, states);
  EXPECT_TRUE(State("REPAIR").enabled);
}

TEST_F(StatusTable, InitialStatesAndFeedTexts) {
  AddAll();
  states = InitialControlStates(skin);
  EXPECT_FALSE(State("START").enabled);
  EXPECT_FALSE(State("PLAY_TOO").enabled);
  EXPECT_TRUE(State("EXIT").enabled);
  EXPECT_FALSE(State("FEED_DOT_ON").visible);
  EXPECT_TRUE(State("LOGO").visible);
  EXPECT_FALSE(State("FEED_STATUS").visible);  // no text of its own yet
  EXPECT_EQ(Shown("TEXT_VERSION"), L"v1.0.0");
  states[Index("FEED_STATUS")].hasTextOverride = true;
  states[Index("FEED_STATUS")].textOverride = L"Sunucu Çevrimiçi";
  ApplyStatus(skin, Downloading(), states);
  EXPECT_TRUE(State("FEED_STATUS").visible);
  states[Index("FEED_STATUS")].textOverride.clear();
  ApplyFeedTextVisibility(skin, states);
  EXPECT_FALSE(State("FEED_STATUS").visible);
}

TEST(RedrawTracker, OnlyAChangedCounterIsApplied) {
  RedrawTracker tracker;
  EXPECT_TRUE(tracker.TakeDirty());  // the first frame
  EXPECT_FALSE(tracker.TakeDirty());
  StatusSnapshot s;
  s.changeCounter = 0;
  EXPECT_TRUE(tracker.Changed(s));  // the first snapshot counts, whatever its counter
  EXPECT_FALSE(tracker.Changed(s));
  s.statusText = L"not counted";  // the engine bumps the counter with every change it makes
  EXPECT_FALSE(tracker.Changed(s));
  EXPECT_FALSE(tracker.TakeDirty());  // nothing marked: no redraw at all
  s.changeCounter = 1;
  EXPECT_TRUE(tracker.Changed(s));
  tracker.MarkDirty();
  tracker.MarkDirty();
  EXPECT_TRUE(tracker.TakeDirty());  // one draw for any number of marks
  EXPECT_FALSE(tracker.TakeDirty());
}

class Buttons : public ::testing::Test {
protected:
  void SetUp() override { image = SolidImage(40, 20); }
  static SkinImage SolidImage(int w, int h) {
    SkinImage i;
    i.width = w;
    i.height = h;
    i.pixels.assign(size_t(w * h), 0xFF808080);
    return i;
  }
  SkinControl& Add(ControlKind kind, const std::string& id, int x, int y) {
    SkinControl c;
    c.kind = kind;
    c.id = id;
    c.x = x;
    c.y = y;
    c.normal = &image;
    c.boxWidth = image.width;
    c.boxHeight = image.height;
    skin.controls.push_back(c);
    return skin.controls.back();
  }
  SkinImage image;
  SkinDefinition skin;
};

TEST_F(Buttons, TopmostVisibleButtonIsHitAndPicturesNever) {
  Add(ControlKind::Button, "UNDER", 10, 10);
  Add(ControlKind::Button, "OVER", 30, 10);
  Add(ControlKind::Picture, "ART", 0, 0);
  std::vector<ControlState> states(3);
  EXPECT_EQ(HitButton(skin, states, 35, 15), 1);  // both cover it: the later one wins
  EXPECT_EQ(HitButton(skin, states, 15, 15), 0);
  EXPECT_EQ(HitButton(skin, states, 5, 5), -1);  // only the picture: a drag area
  states[1].visible = false;
  EXPECT_EQ(HitButton(skin, states, 35, 15), 0);
  states[1].enabled = false;  // disabled buttons are still buttons (no drag from them)
  states[1].visible = true;
  EXPECT_EQ(HitButton(skin, states, 35, 15), 1);
}

TEST_F(Buttons, ActionsInTheirOrder) {
  std::map<std::string, std::wstring> news;
  auto action = [&](SkinControl c) { return ChooseButtonAction(c, news); };
  SkinControl c;
  for (const char* id : {"EXIT", "QUIT", "CLOSE"}) {
    c.id = id;
    EXPECT_EQ(action(c).kind, ButtonActionKind::Close) << id;
  }
  c.id = "MINIMIZE";
  EXPECT_EQ(action(c).kind, ButtonActionKind::Minimize);
  c.id = "START";
  c.link = L"https://example.com/";
  c.execPath = L"x.exe";
  EXPECT_EQ(action(c).kind, ButtonActionKind::StartGame);  // before its own link or program
  c.id = "REPAIR";
  EXPECT_EQ(action(c).kind, ButtonActionKind::Repair);

  c.id = "NEWS_1_MORE";
  news["NEWS_1"] = L"https://news.example.com/1";
  news["NEWS_2"] = L"";  // a slot without a link does not take the click
  EXPECT_EQ(action(c).kind, ButtonActionKind::OpenNewsLink);
  EXPECT_EQ(action(c).argument, L"https://news.example.com/1");
  c.id = "NEWS_2";
  EXPECT_EQ(action(c).kind, ButtonActionKind::RunProgram);
  EXPECT_EQ(action(c).argument, L"x.exe");
  c.execPath.clear();
  c.id = "OPTION";
  EXPECT_EQ(action(c).kind, ButtonActionKind::RunOptions);
  EXPECT_EQ(action(c).argument, L"config.exe");
  c.id = "WEBSITE";
  EXPECT_EQ(action(c).kind, ButtonActionKind::OpenLink);
  EXPECT_EQ(action(c).argument, L"https://example.com/");
  c.link.clear();
  EXPECT_EQ(action(c).kind, ButtonActionKind::None);
}

TEST(OpenableLink, OnlyWebAddresses) {
  EXPECT_TRUE(IsOpenableLink(L"http://a/"));
  EXPECT_TRUE(IsOpenableLink(L"HTTPS://a/"));
  EXPECT_TRUE(IsOpenableLink(L"hTtP://"));
  EXPECT_FALSE(IsOpenableLink(L"ftp://files.example.com/x"));
  EXPECT_FALSE(IsOpenableLink(L"file:///c:/windows/system32/calc.exe"));
  EXPECT_FALSE(IsOpenableLink(L"C:\\Windows\\notepad.exe"));
  EXPECT_FALSE(IsOpenableLink(L" http://a/"));
  EXPECT_FALSE(IsOpenableLink(L"http:/a"));
  EXPECT_FALSE(IsOpenableLink(L""));
}

}  // namespace
}  // namespace sv
