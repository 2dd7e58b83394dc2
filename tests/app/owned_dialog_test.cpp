// Where the owned dialogs go (over the owner, wholly inside the work area, shrunk when the area
// cannot hold them) and how the notice and in-use dialogs lay themselves out in what they get.
#include <gtest/gtest.h>

#include "patcher/app/inuse_dialog_layout.h"
#include "patcher/app/notice_dialog_layout.h"
#include "patcher/app/owned_dialog.h"

namespace {

using sv::DialogRect;
using sv::DialogSize;

// A 1366 x 768 screen with a 40-pixel taskbar, and the frame of a captioned dialog.
constexpr DialogRect kWork{0, 0, 1366, 728};
constexpr DialogSize kFrame{16, 39};

bool Inside(const DialogRect& r, const DialogRect& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
}

sv::OwnedDialogPlacement Notice(const DialogRect& owner, int32_t width, int32_t height,
                                const DialogRect& work = kWork) {
  sv::OwnedDialogRequest r;
  r.owner = owner;
  r.work = work;
  r.client = sv::NoticeClientSize(width, height);
  r.minClient = sv::NoticeMinClient();
  r.frame = kFrame;
  return sv::PlaceOwnedDialog(r);
}

TEST(OwnedDialog, CentredOverTheOwnerWhenItFits) {
  const auto p = Notice({100, 100, 900, 700}, 520, 300);
  EXPECT_FALSE(p.shrunk);
  EXPECT_EQ(p.client.width, 520);
  EXPECT_EQ(p.client.height, 352);
  EXPECT_EQ(p.window.width(), 536);
  EXPECT_EQ(p.window.height(), 391);
  EXPECT_EQ(p.window.left, 100 + (800 - 536) / 2);
  EXPECT_EQ(p.window.top, 100 + (600 - 391) / 2);
}

TEST(OwnedDialog, AMinimisedOwnerGivesTheWorkAreaNotMinus32000) {
  // Where Windows keeps a minimised window: relative to it the dialog was off every screen.
  const auto p = Notice({-32000, -32000, -31840, -31973}, 680, 500);
  EXPECT_TRUE(Inside(p.window, kWork)) << p.window.left << "," << p.window.top;
  EXPECT_EQ(p.window.left, (1366 - p.window.width()) / 2);
  EXPECT_EQ(p.window.top, (728 - p.window.height()) / 2);
  // No owner rectangle at all (an owner that stayed minimised) is the same.
  const auto q = Notice({}, 680, 500);
  EXPECT_EQ(q.window.left, p.window.left);
  EXPECT_EQ(q.window.top, p.window.top);
}

TEST(OwnedDialog, ATallNoticeShrinksIntoTheWorkAreaWithItsButtons) {
  // notice_height=800 on 1366 x 768: title bar and buttons were off the screen.
  const auto p = Notice({283, 84, 1083, 684}, 680, 800);
  EXPECT_TRUE(p.shrunk);
  EXPECT_TRUE(Inside(p.window, kWork));
  EXPECT_EQ(p.window.top, 0);
  EXPECT_EQ(p.window.height(), 728);
  EXPECT_EQ(p.client.height, 728 - kFrame.height);
  EXPECT_EQ(p.client.width, 680);  // the width fitted: unchanged
  const sv::NoticeLayout l = sv::LayOutNotice(p.client);
  EXPECT_EQ(l.page.height(), p.client.height - sv::NoticeLayout::kButtonBand);
  EXPECT_LE(l.accept.bottom, p.client.height);
  EXPECT_LE(l.refuse.bottom, p.client.height);
  EXPECT_GT(l.accept.top, l.page.bottom);
}

TEST(OwnedDialog, AWideNoticeShrinksToTheWorkAreaWidth) {
  const auto p = Notice({0, 0, 1366, 728}, 4000, 3000);
  EXPECT_TRUE(p.shrunk);
  EXPECT_EQ(p.window.left, 0);
  EXPECT_EQ(p.window.top, 0);
  EXPECT_EQ(p.window.right, 1366);
  EXPECT_EQ(p.window.bottom, 728);
}

TEST(OwnedDialog, AnOwnerHalfOffTheScreenKeepsTheDialogOn) {
  const auto p = Notice({1000, 500, 1800, 1100}, 520, 300);
  EXPECT_FALSE(p.shrunk);
  EXPECT_TRUE(Inside(p.window, kWork));
  EXPECT_EQ(p.window.right, 1366);
  EXPECT_EQ(p.window.bottom, 728);
  // A work area that does not start at 0 (a second monitor on the left, a taskbar on top).
  const DialogRect left{-1280, 30, 0, 1024};
  const auto q = Notice({-1500, -20, -700, 580}, 520, 300, left);
  EXPECT_TRUE(Inside(q.window, left));
}

TEST(OwnedDialog, NeverBelowTheMinimumTheTitleBarStaysVisible) {
  const DialogRect tiny{0, 0, 200, 100};
  const auto p = Notice({0, 0, 200, 100}, 680, 500, tiny);
  EXPECT_TRUE(p.shrunk);
  EXPECT_EQ(p.client.width, sv::NoticeMinClient().width);
  EXPECT_EQ(p.client.height, sv::NoticeMinClient().height);
  EXPECT_EQ(p.window.left, 0);
  EXPECT_EQ(p.window.top, 0);
}

TEST(NoticeLayout, TheNarrowestNoticeShowsBothButtonsWhole) {
  // 200 is the narrowest width the configuration takes: the accept button began at -64.
  const DialogSize client = sv::NoticeClientSize(200, 150);
  EXPECT_EQ(client.width, sv::NoticeLayout::kMinClientWidth);
  const sv::NoticeLayout l = sv::LayOutNotice(client);
  EXPECT_GE(l.accept.left, sv::NoticeLayout::kMargin);
  EXPECT_EQ(l.accept.width(), sv::NoticeLayout::kButtonWidth);
  EXPECT_LT(l.accept.right, l.refuse.left);
  EXPECT_LE(l.refuse.right, client.width - sv::NoticeLayout::kMargin);
  EXPECT_EQ(l.page.width(), client.width);
  EXPECT_EQ(l.page.height(), 150);
}

TEST(NoticeLayout, AnOrdinaryNoticeKeepsItsPlaces) {
  const sv::NoticeLayout l = sv::LayOutNotice(sv::NoticeClientSize(680, 500));
  EXPECT_EQ(l.page.width(), 680);
  EXPECT_EQ(l.page.height(), 500);
  EXPECT_EQ(l.accept.left, 680 - 264);
  EXPECT_EQ(l.refuse.left, 680 - 132);
  EXPECT_EQ(l.accept.top, 511);
}

TEST(InUseLayout, AShrunkClientCutsTheBodyAndKeepsTheButtonsInside) {
  const sv::InUseLayout full = sv::LayOutInUse(20, 900);
  EXPECT_EQ(full.bodyHeight, 900);
  EXPECT_EQ(full.clientHeight, 20 + 24 + 900 + 68);
  const sv::InUseLayout cut = sv::LayOutInUse(20, 900, 500);
  EXPECT_EQ(cut.clientHeight, 500);
  EXPECT_EQ(cut.bodyHeight, 500 - 44 - 68);
  EXPECT_LE(cut.buttonTop + sv::InUseLayout::kButtonHeight, cut.clientHeight);
  // A limit the texts do not reach changes nothing.
  const sv::InUseLayout roomy = sv::LayOutInUse(20, 130, 700);
  EXPECT_EQ(roomy.clientHeight, 242);
  EXPECT_EQ(roomy.buttonTop, 201);
}

TEST(InUseLayout, PlacedOverAMinimisedOwnerAndShrunkOnASmallScreen) {
  sv::OwnedDialogRequest r;
  r.owner = {-32000, -32000, -31840, -31973};
  r.work = {0, 0, 1024, 600};
  r.client = {sv::InUseLayout::kClientWidth, sv::LayOutInUse(20, 900).clientHeight};
  r.minClient = sv::InUseMinClient(20, 16);
  r.frame = kFrame;
  const auto p = sv::PlaceOwnedDialog(r);
  EXPECT_TRUE(p.shrunk);
  EXPECT_TRUE(Inside(p.window, r.work));
  EXPECT_EQ(p.client.width, sv::InUseLayout::kClientWidth);
  const sv::InUseLayout l = sv::LayOutInUse(20, 900, p.client.height);
  EXPECT_LE(l.buttonTop + sv::InUseLayout::kButtonHeight, p.client.height);
}

}  // namespace
