// The feed document, the refresh interval and how a feed lands on the skin's controls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patcher/app/feed_client.h"
#include "patcher/app/feed_display.h"
#include "patcher/app/feed_document.h"
#include "skin/renderer.h"
#include "skin/skin_definition.h"

namespace {

using sv::ControlKind;
using sv::ControlState;
using sv::FeedData;

sv::FeedData Parsed(const std::string& xml) {
  FeedData feed;
  EXPECT_TRUE(sv::ParseFeed(xml, feed)) << xml;
  return feed;
}

TEST(FeedDocument, ReadsStatusPlayersBannerAndTheFirstThreeItems) {
  const FeedData feed = Parsed(
      "<?xml version='1.0' encoding='utf-8'?>\n"
      "<Patcher_Feed STATUS=' online ' Online=' 1234567 ' link='https://oyun.example/'>"
      "<banner type='duyuru' tag='Yeni' title='Eski afiş'/>"
      "<other title='ignored'/>"
      "<ITEM type=' etkinlik ' tag=' Etkinlik ' date='01.12' title=' Kış şenliği ' link=' https://a/1 '/>"
      "<item title='iki'/><item title='üç'/><item title='dört'/>"
      "<banner type='guncelleme' tag='Yama' date='02.12' title='Büyük yama' link='https://b/'/>"
      "</Patcher_Feed>");
  EXPECT_TRUE(feed.hasData);
  EXPECT_EQ(feed.status, L"online");
  EXPECT_EQ(feed.players, 1234567);
  EXPECT_EQ(feed.link, L"https://oyun.example/");
  ASSERT_TRUE(feed.hasBanner);
  EXPECT_EQ(feed.banner.title, L"B\u00FCy\u00FCk yama");  // the later banner wins
  EXPECT_EQ(feed.banner.link, L"https://b/");
  ASSERT_EQ(feed.items.size(), 3u);  // the fourth item is ignored
  EXPECT_EQ(feed.items[0].type, L"etkinlik");
  EXPECT_EQ(feed.items[0].tag, L"Etkinlik");
  EXPECT_EQ(feed.items[0].title, L"K\u0131\u015F \u015Fenli\u011Fi");
  EXPECT_EQ(feed.items[0].link, L"https://a/1");
  EXPECT_EQ(feed.items[2].title, L"\u00FC\u00E7");
}

TEST(FeedDocument, DefaultsAndInvalidPlayerCounts) {
  FeedData feed = Parsed("<patcher_feed/>");
  EXPECT_EQ(feed.status, L"offline");
  EXPECT_EQ(feed.players, -1);
  EXPECT_FALSE(feed.hasBanner);
  EXPECT_TRUE(feed.items.empty());
  for (const char* online : {"-5", "abc", "12x", "", " "}) {
    EXPECT_EQ(Parsed(std::string("<patcher_feed status='online' online='") + online + "'/>").players, -1)
        << online;
  }
  EXPECT_EQ(Parsed("<patcher_feed online='0'/>").players, 0);
  // A UTF-16 document with its byte-order mark is decoded first.
  const std::u16string utf16 = u"\uFEFF<patcher_feed status=\"maintenance\"/>";
  std::string bytes;
  for (char16_t c : utf16) {
    bytes.push_back(char(c & 0xFF));
    bytes.push_back(char(c >> 8));
  }
  EXPECT_EQ(Parsed(bytes).status, L"maintenance");
}

TEST(FeedDocument, RejectsEmptyMalformedAndForeignDocuments) {
  FeedData feed;
  feed.hasData = true;
  EXPECT_FALSE(sv::ParseFeed("", feed));
  EXPECT_FALSE(feed.hasData);
  EXPECT_FALSE(sv::ParseFeed("<patcher_feed status='online'>", feed));
  EXPECT_FALSE(sv::ParseFeed("<torrent_config status='online'/>", feed));
  EXPECT_FALSE(sv::ParseFeed("<html><body>502</body></html>", feed));
  // Every prefix of a good document is either refused or read without running off its end.
  const std::string good = "<patcher_feed status='online' online='12'><item title='x'/></patcher_feed>";
  for (size_t n = 0; n < good.size(); ++n) {
    FeedData part;
    sv::ParseFeed(std::string_view(good.data(), n), part);
  }
}

TEST(FeedInterval, AtLeastFifteenSeconds) {
  EXPECT_EQ(sv::FeedIntervalMs(5), 15000u);
  EXPECT_EQ(sv::FeedIntervalMs(-1), 15000u);
  EXPECT_EQ(sv::FeedIntervalMs(15), 15000u);
  EXPECT_EQ(sv::FeedIntervalMs(60), 60000u);
  // A huge setting must not wrap around into a short (or an endless) wait.
  EXPECT_EQ(sv::FeedIntervalMs(2147483647), 4294967000u);
}

TEST(FeedLog, OnlyChangesAreLogged) {
  EXPECT_FALSE(sv::FeedChangeLogLine(true, true, L""));  // a first success says nothing
  EXPECT_EQ(*sv::FeedChangeLogLine(true, false, L"Zaman a\u015F\u0131m\u0131"),
            L"Duyuru akisi alinamadi: Zaman a\u015F\u0131m\u0131");
  EXPECT_FALSE(sv::FeedChangeLogLine(false, false, L"x"));
  EXPECT_EQ(*sv::FeedChangeLogLine(false, true, L""), L"Duyuru akisi yeniden alindi.");
  EXPECT_EQ(*sv::FeedChangeLogLine(true, false, L""), L"Duyuru akisi alinamadi: ");
}

TEST(GroupThousands, DotsBetweenGroupsOfThree) {
  EXPECT_EQ(sv::GroupThousands(0), L"0");
  EXPECT_EQ(sv::GroupThousands(999), L"999");
  EXPECT_EQ(sv::GroupThousands(1000), L"1.000");
  EXPECT_EQ(sv::GroupThousands(12345), L"12.345");
  EXPECT_EQ(sv::GroupThousands(1234567), L"1.234.567");
  EXPECT_EQ(sv::GroupThousands(-1234), L"-1.234");
  EXPECT_EQ(sv::GroupThousands(INT64_MIN), L"-9.223.372.036.854.775.808");
}

// A skin with the feed's controls; the test reads the states back by name.
class FeedDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    Add(ControlKind::Text, "FEED_STATUS");
    Add(ControlKind::Text, "FEED_ONLINE");
    Add(ControlKind::Picture, "FEED_DOT_ON");
    Add(ControlKind::Picture, "FEED_DOT_BUSY");
    Add(ControlKind::Picture, "FEED_DOT_OFF");
    Add(ControlKind::Picture, "FEED_DOT_SPARE");
    Add(ControlKind::Text, "FEED_BANNER_TITLE");
    Add(ControlKind::Text, "FEED_BANNER_TAG");
    for (int n = 1; n <= 3; ++n) {
      const std::string p = "FEED_" + std::to_string(n);
      Add(ControlKind::Text, p + "_TAG");
      Add(ControlKind::Text, p + "_DATE");
      Add(ControlKind::Text, p + "_TITLE");
      Add(ControlKind::Button, "NEWS_" + std::to_string(n));
    }
    Add(ControlKind::Button, "BTN_NEWS_BANNER");
    states.resize(skin.controls.size());
  }
  void Add(ControlKind kind, const std::string& id) {
    sv::SkinControl c;
    c.kind = kind;
    c.id = id;
    skin.controls.push_back(c);
  }
  const ControlState& S(const std::string& id) const {
    for (size_t i = 0; i < skin.controls.size(); ++i) {
      if (skin.controls[i].id == id) return states[i];
    }
    ADD_FAILURE() << "no control " << id;
    static ControlState none;
    return none;
  }
  std::wstring Text(const std::string& id) const { return S(id).textOverride; }
  std::string VisibleDots() const {
    std::string out;
    for (const char* dot : {"FEED_DOT_ON", "FEED_DOT_BUSY", "FEED_DOT_OFF", "FEED_DOT_SPARE"}) {
      if (S(dot).visible) out += dot;
    }
    return out;
  }
  void Apply(const FeedData& feed) { sv::ApplyFeed(feed, skin, states, links); }

  sv::SkinDefinition skin;
  std::vector<ControlState> states;
  sv::FeedSlotLinks links;
};

TEST_F(FeedDisplay, NoDataYet) {
  Apply(FeedData());
  EXPECT_EQ(Text("FEED_STATUS"), L"Sunucu bilgisi al\u0131namad\u0131");
  EXPECT_EQ(VisibleDots(), "FEED_DOT_OFF");
  EXPECT_TRUE(S("FEED_STATUS").hasColorOverride);
  EXPECT_EQ(S("FEED_STATUS").colorOverride, sv::kFeedOffColor);
  EXPECT_EQ(Text("FEED_ONLINE"), L"");
  EXPECT_FALSE(S("FEED_ONLINE").visible);  // feed texts show only while they say something
  EXPECT_TRUE(links.empty());
}

TEST_F(FeedDisplay, OnlineWithPlayersKeepsTheSkinColour) {
  Apply(Parsed("<patcher_feed status='online' online='1234567'/>"));
  EXPECT_EQ(Text("FEED_STATUS"), L"Sunucu \u00C7evrimi\u00E7i");
  EXPECT_EQ(Text("FEED_ONLINE"), L"1.234.567 oyuncu");
  EXPECT_TRUE(S("FEED_ONLINE").visible);
  EXPECT_EQ(VisibleDots(), "FEED_DOT_ON");
  EXPECT_FALSE(S("FEED_STATUS").hasColorOverride);
}

TEST_F(FeedDisplay, StatusWordsAreExact) {
  Apply(Parsed("<patcher_feed status='maintenance' online='50'/>"));
  EXPECT_EQ(Text("FEED_STATUS"), L"Sunucu Bak\u0131mda");
  EXPECT_EQ(VisibleDots(), "FEED_DOT_BUSY");
  EXPECT_EQ(S("FEED_STATUS").colorOverride, sv::kFeedBusyColor);
  EXPECT_EQ(Text("FEED_ONLINE"), L"");  // players only while online

  Apply(Parsed("<patcher_feed status='Online' online='50'/>"));
  EXPECT_EQ(Text("FEED_STATUS"), L"Sunucu \u00C7evrimd\u0131\u015F\u0131");
  EXPECT_EQ(VisibleDots(), "FEED_DOT_OFF");
  EXPECT_EQ(S("FEED_STATUS").colorOverride, sv::kFeedOffColor);

  Apply(Parsed("<patcher_feed status='online' online='-5'/>"));
  EXPECT_EQ(Text("FEED_ONLINE"), L"");
  EXPECT_EQ(VisibleDots(), "FEED_DOT_ON");
}

TEST_F(FeedDisplay, SlotsTextsColoursVisibilityAndLinks) {
  Apply(Parsed("<patcher_feed status='online' link='https://genel/'>"
               "<banner tag='Afi\xC5\x9F' title='Afi\xC5\x9F ba\xC5\x9Fl\xC4\xB1\xC4\x9F\xC4\xB1' type='etkinlik'/>"
               "<item type='etkinlik' tag='Etkinlik' date='01.12' title='Bir' link='https://bir/'/>"
               "<item type='Etkinlik' tag='Etkinlik' title='Iki'/>"
               "</patcher_feed>"));
  EXPECT_EQ(Text("FEED_BANNER_TITLE"), L"Afi\u015F ba\u015Fl\u0131\u011F\u0131");
  EXPECT_FALSE(S("FEED_BANNER_TAG").hasColorOverride);  // the banner has no colour of its own
  EXPECT_EQ(Text("FEED_1_DATE"), L"01.12");
  EXPECT_TRUE(S("FEED_1_TAG").hasColorOverride);
  EXPECT_EQ(S("FEED_1_TAG").colorOverride, 0xFFF08A5Au);
  EXPECT_FALSE(S("FEED_2_TAG").hasColorOverride);  // type words are case-sensitive
  EXPECT_TRUE(S("NEWS_1").visible);
  EXPECT_TRUE(S("NEWS_2").visible);
  EXPECT_FALSE(S("NEWS_3").visible);
  EXPECT_EQ(Text("FEED_3_TITLE"), L"");
  EXPECT_FALSE(S("FEED_3_TITLE").visible);
  EXPECT_EQ(links.at("NEWS_1"), L"https://bir/");
  EXPECT_EQ(links.at("NEWS_2"), L"https://genel/");  // the feed's link stands in
  EXPECT_EQ(links.at("NEWS_BANNER"), L"https://genel/");
  EXPECT_EQ(links.count("NEWS_3"), 0u);

  // The next feed has one item: slot 2 empties, hides and loses its link.
  Apply(Parsed("<patcher_feed status='online'><item type='duyuru' tag='D' title='Tek'/></patcher_feed>"));
  EXPECT_EQ(S("FEED_1_TAG").colorOverride, 0xFFD4C08Au);
  EXPECT_EQ(links.count("NEWS_1"), 0u);  // neither the item nor the feed has a link now
  EXPECT_FALSE(S("NEWS_2").visible);
  EXPECT_EQ(Text("FEED_2_TITLE"), L"");
  EXPECT_EQ(Text("FEED_BANNER_TITLE"), L"");
  EXPECT_EQ(links.count("NEWS_BANNER"), 0u);
}

TEST(FeedTagColor, FourTypes) {
  EXPECT_EQ(sv::FeedTagColor(L"guncelleme"), 0xFFE8B460u);
  EXPECT_EQ(sv::FeedTagColor(L"duyuru"), 0xFFD4C08Au);
  EXPECT_EQ(sv::FeedTagColor(L"etkinlik"), 0xFFF08A5Au);
  EXPECT_EQ(sv::FeedTagColor(L"bilgilendirme"), 0xFF8FC4DCu);
  EXPECT_EQ(sv::FeedTagColor(L"Etkinlik"), 0u);
  EXPECT_EQ(sv::FeedTagColor(L""), 0u);
}

}  // namespace
