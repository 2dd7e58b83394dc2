#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "skin/renderer.h"
#include "skin_test_util.h"

namespace sv {
namespace {

const auto Solid = test::SolidImage;

SkinControl Button(int32_t x, int32_t y, const SkinImage* normal) {
  SkinControl c;
  c.kind = ControlKind::Button;
  c.x = x;
  c.y = y;
  c.normal = c.hover = c.pressed = c.disabled = normal;
  if (normal) c.boxWidth = normal->width, c.boxHeight = normal->height;
  return c;
}

TEST(Compose, ButtonLookFollowsState) {
  const SkinImage up = Solid(1, 1, 1), on = Solid(1, 1, 2), dn = Solid(1, 1, 3);
  const SkinImage ds = Solid(1, 1, 4);
  SkinControl c = Button(0, 0, &up);
  c.hover = &on;
  c.pressed = &dn;
  ControlState s;
  EXPECT_EQ(buttonLook(c, s).image, &up);
  s.pressed = true;  // pressed but the mouse left: normal
  EXPECT_EQ(buttonLook(c, s).image, &up);
  s.hovered = true;
  EXPECT_EQ(buttonLook(c, s).image, &dn);
  s.pressed = false;
  EXPECT_EQ(buttonLook(c, s).image, &on);
  s.enabled = false;
  EXPECT_EQ(buttonLook(c, s).image, &up);
  EXPECT_EQ(buttonLook(c, s).opacity, 150);
  c.disabled = &ds;
  c.hasDisabledImage = true;
  EXPECT_EQ(buttonLook(c, s).image, &ds);
  EXPECT_EQ(buttonLook(c, s).opacity, 255);
  EXPECT_EQ(buttonLook(Button(0, 0, nullptr), ControlState()).image, nullptr);
}

TEST(Compose, HitTestEdges) {
  const SkinImage image = Solid(100, 40, 0);  // fully transparent still counts
  const SkinControl c = Button(10, 10, &image);
  EXPECT_TRUE(hitTest(c, 10, 10));
  EXPECT_TRUE(hitTest(c, 109, 49));
  EXPECT_FALSE(hitTest(c, 110, 10));
  EXPECT_FALSE(hitTest(c, 10, 50));
  EXPECT_FALSE(hitTest(c, 9, 10));
  EXPECT_FALSE(hitTest(c, -2147483647 - 1, 10));
  SkinControl textButton = Button(10, 10, nullptr);
  textButton.boxWidth = 100;
  textButton.boxHeight = 40;
  EXPECT_FALSE(hitTest(textButton, 20, 20));
  SkinControl picture = c;
  picture.kind = ControlKind::Picture;
  EXPECT_FALSE(hitTest(picture, 20, 20));
}

class ComposeFrame : public ::testing::Test {
protected:
  void SetUp() override {
    background = Solid(300, 60, 0xFF000000);
    skin.background = &background;
    skin.width = 300;
    skin.height = 60;
  }
  uint32_t At(int32_t x, int32_t y) const { return target[size_t(y * 300 + x)]; }

  SkinImage background;
  SkinDefinition skin;
  std::vector<uint32_t> target = std::vector<uint32_t>(300 * 60, 0x12345678);
};

TEST_F(ComposeFrame, GaugeShowsRoundedColumns) {
  const SkinImage full = Solid(201, 4, 0xFFFFFFFF), empty = Solid(201, 4, 0xFF202020);
  SkinControl gauge;
  gauge.kind = ControlKind::Gauge;
  gauge.x = 10;
  gauge.y = 5;
  gauge.full = &full;
  gauge.empty = &empty;
  skin.controls.push_back(gauge);
  std::vector<ControlState> states(1);
  states[0].progress = 0.5f;
  composeImages(target.data(), skin, states, false);
  EXPECT_EQ(At(0, 0), 0xFF000000u);  // the background replaced the old contents
  EXPECT_EQ(At(10 + 100, 5), 0xFFFFFFFFu);
  EXPECT_EQ(At(10 + 101, 5), 0xFF202020u);
  EXPECT_EQ(At(10 + 200, 8), 0xFF202020u);
  EXPECT_EQ(At(10 + 201, 8), 0xFF000000u);
  states[0].progress = 1.7f;
  composeImages(target.data(), skin, states, false);
  EXPECT_EQ(At(10 + 200, 8), 0xFFFFFFFFu);
  states[0].progress = -1;
  composeImages(target.data(), skin, states, false);
  EXPECT_EQ(At(10, 5), 0xFF202020u);
  states[0].visible = false;
  composeImages(target.data(), skin, states, false);
  EXPECT_EQ(At(10, 5), 0xFF000000u);
}

TEST_F(ComposeFrame, DisabledButtonAndMissingStates) {
  const SkinImage white = Solid(2, 2, 0xFFFFFFFF);
  skin.controls.push_back(Button(0, 0, &white));
  skin.controls.push_back(Button(4, 0, &white));
  std::vector<ControlState> states(1);
  states[0].enabled = false;  // the second control has no state: defaults
  composeImages(target.data(), skin, states, false);
  EXPECT_EQ(At(0, 0), 0xFF969696u);  // 255 * 150 / 255 over black
  EXPECT_EQ(At(4, 0), 0xFFFFFFFFu);
}

TEST_F(ComposeFrame, FramePlaceholderOnlyWhenAsked) {
  SkinControl frame;
  frame.kind = ControlKind::Frame;
  frame.x = 20;
  frame.y = 10;
  frame.boxWidth = 100;
  frame.boxHeight = 40;
  frame.link = L"https://example.invalid/haber";
  skin.controls.push_back(frame);
  composeImages(target.data(), skin, {}, false);
  EXPECT_EQ(At(20, 10), 0xFF000000u);
  EXPECT_TRUE(layoutTexts(skin, {}, false).empty());

  composeImages(target.data(), skin, {}, true);
  // Fill 0x8C101010 over black gives 9; the border 0xC0FFFFFF over that 0xC0 + 9 * 63 / 255;
  // corners get the border twice (row and column).
  EXPECT_EQ(At(21, 11), 0xFF090909u);
  EXPECT_EQ(At(50, 10), 0xFFC2C2C2u);
  EXPECT_EQ(At(119, 30), 0xFFC2C2C2u);
  EXPECT_EQ(At(20, 10), 0xFFF0F0F0u);
  EXPECT_EQ(At(119, 49), 0xFFF0F0F0u);
  EXPECT_EQ(At(120, 11), 0xFF000000u);
  const std::vector<TextItem> texts = layoutTexts(skin, {}, true);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, L"Haberler");
  EXPECT_EQ(texts[0].y, 10 + 20 - 16);
  EXPECT_TRUE(texts[0].bold);
  EXPECT_EQ(texts[1].text, frame.link);
  EXPECT_EQ(texts[1].x, 28);
  EXPECT_EQ(texts[1].y, 34);
  EXPECT_EQ(texts[1].width, 84);
  EXPECT_EQ(texts[1].color, 0xFFBFBFBFu);
  skin.controls[0].boxHeight = 30;
  EXPECT_TRUE(layoutTexts(skin, {}, true).empty());
}

// Coordinates come from skin.xml as any int: placeholders and their texts at the far ends of the
// range stay outside the window instead of wrapping into it.
TEST_F(ComposeFrame, FramesAtTheEndsOfTheIntRange) {
  const int32_t kMax = 2147483647, kMin = -kMax - 1;
  for (const auto& [x, y] : {std::pair{kMax, kMax}, std::pair{kMin, kMin}, std::pair{kMax, 0},
                             std::pair{0, kMax}, std::pair{kMax - 8, kMin}}) {
    SkinControl frame;
    frame.kind = ControlKind::Frame;
    frame.x = x;
    frame.y = y;
    frame.boxWidth = kMax;
    frame.boxHeight = kMax;
    frame.link = L"https://example.invalid/haber";
    skin.controls.push_back(frame);
  }
  composeImages(target.data(), skin, {}, true);
  EXPECT_EQ(std::count(target.begin(), target.end(), 0xFF000000u), 300 * 60);
  const std::vector<TextItem> texts = layoutTexts(skin, {}, true);
  ASSERT_EQ(texts.size(), 2 * skin.controls.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    const SkinControl& c = skin.controls[i / 2];
    // Far right or far down stays there; nothing moves from one end to the other.
    if (c.x == kMax) {
      EXPECT_GT(texts[i].x, 1000000000) << i;
    }
    if (c.y == kMax) {
      EXPECT_GT(texts[i].y, 1000000000) << i;
    } else if (c.y == kMin) {
      EXPECT_LT(texts[i].y, -1000000000) << i;
    }
  }
}

TEST_F(ComposeFrame, TextPassUsesOverrides) {
  SkinControl text;
  text.kind = ControlKind::Text;
  text.text = L"skin";
  text.width = 120;
  text.align = TextAlign::Right;
  text.color = 0xFF112233;
  skin.controls.push_back(text);
  SkinControl textButton = Button(5, 6, nullptr);
  textButton.text = L"Başla";
  textButton.boxWidth = 80;
  textButton.boxHeight = 24;
  textButton.color = 0xFFFFFFFF;
  skin.controls.push_back(textButton);
  SkinControl empty;
  empty.kind = ControlKind::Text;
  skin.controls.push_back(empty);

  std::vector<ControlState> states(3);
  states[0].hasTextOverride = true;
  states[0].textOverride = L"%45";
  states[0].hasColorOverride = true;
  states[0].colorOverride = 0xFFE8C878;
  states[1].enabled = false;
  std::vector<TextItem> texts = layoutTexts(skin, states, false);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, L"%45");
  EXPECT_EQ(texts[0].color, 0xFFE8C878u);
  EXPECT_EQ(texts[0].width, 120);
  EXPECT_EQ(texts[0].height, 0);
  EXPECT_EQ(texts[0].align, TextAlign::Right);
  EXPECT_FALSE(texts[0].verticalCenter);
  EXPECT_EQ(texts[1].text, L"Başla");
  EXPECT_EQ(texts[1].color, 0x80FFFFFFu);
  EXPECT_EQ(texts[1].align, TextAlign::Center);
  EXPECT_TRUE(texts[1].verticalCenter);
  EXPECT_EQ(texts[1].width, 80);
  EXPECT_EQ(texts[1].height, 24);
  states[0].visible = false;
  EXPECT_EQ(layoutTexts(skin, states, false).size(), 1u);
}

}  // namespace
}  // namespace sv
