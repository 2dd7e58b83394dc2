#include "skin/skin_definition.h"

#include <gtest/gtest.h>

#include "skin_test_util.h"

namespace sv {
namespace {

using test::SolidBmp;

const char kUrlFile[] = "<torrentpatch remoteConfigPath=\" http://127.0.0.1/cfg.xml \"/>";

// A package with a URL file, a 40 x 30 background and the given skin.xml and extra entries.
SkinPackage MakePackage(const std::string& skinXml,
                        std::vector<std::pair<std::string, std::string>> extra = {}) {
  SkinPackageBuilder builder;
  builder.put("TorrentPatch.url.xml", kUrlFile);
  builder.put("main.bmp", SolidBmp(40, 30, 0x204060));
  if (!skinXml.empty()) builder.put("skin.xml", skinXml);
  for (auto& [name, data] : extra) builder.put(name, data);
  return builder.package;
}

std::string Skin(const std::string& controls, const std::string& rootAttributes = "") {
  return "<skin" + rootAttributes + ">\n" + controls + "\n</skin>";
}

TEST(SkinDefinition, LoadsTheBasics) {
  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(MakePackage(Skin("", " feed_url=' http://f/ ' feed_refresh='90'"),
                                    {{"sarvik.ini", "[patcher]\nconnections=2"}}),
                        &error))
      << error;
  EXPECT_EQ(skin.width, 40);
  EXPECT_EQ(skin.height, 30);
  EXPECT_FALSE(skin.transparent);
  EXPECT_EQ(skin.background->pixels[0], 0xFF204060u);
  EXPECT_EQ(skin.remoteConfigPath, L"http://127.0.0.1/cfg.xml");
  EXPECT_EQ(skin.localConfigPath, L"draskeltorrent.config.xml");
  EXPECT_EQ(skin.languagePath, L"TorrentPatch.locale.xml");
  EXPECT_EQ(skin.feedUrl, L"http://f/");
  EXPECT_EQ(skin.feedRefreshSeconds, 90);
  EXPECT_EQ(skin.settings.connections, 2);
  EXPECT_EQ(skin.urlFileName, "torrentpatch.url.xml");
  EXPECT_EQ(skin.skinFileName, "skin.xml");
  EXPECT_EQ(skin.localeFileName, "");
  EXPECT_TRUE(skin.warnings.empty());
  EXPECT_EQ(skin.text("sv_news"), L"Haberler");
}

TEST(SkinDefinition, EachLoadFailure) {
  SkinDefinition skin;
  std::wstring error;
  SkinPackageBuilder noUrl;
  noUrl.put("skin.xml", Skin(""));
  noUrl.put("main.bmp", SolidBmp(2, 2, 0));
  EXPECT_FALSE(skin.load(noUrl.package, &error));
  EXPECT_EQ(error, L"Skin içinde TorrentPatch.url.xml yok.");

  SkinPackageBuilder badUrl;
  badUrl.put("other.url.xml", "<a>");
  EXPECT_FALSE(skin.load(badUrl.package, &error));
  EXPECT_EQ(error, L"other.url.xml okunamadı: Eleman kapanmadi (satir 1)");

  EXPECT_FALSE(skin.load(MakePackage(""), &error));
  EXPECT_EQ(error, L"Düzenleme mevcut değil. (skin.xml yok)");

  EXPECT_FALSE(skin.load(MakePackage("<skin>\n<control></skin>"), &error));
  EXPECT_EQ(error, L"skin.xml okunamadı: Kapanis etiketi uyusmuyor (satir 2)");

  EXPECT_FALSE(skin.load(MakePackage(Skin("", " background_image='yok'")), &error));
  EXPECT_EQ(error, L"Düzenleme mevcut değil. (arka plan görseli yok: yok)");

  // An undecodable background fails; its decoder message is kept as a warning.
  EXPECT_FALSE(
      skin.load(MakePackage(Skin("", " background_image='bg'"), {{"bg.png", "not an image"}}),
                &error));
  EXPECT_EQ(error, L"Düzenleme mevcut değil. (arka plan görseli yok: bg)");
  ASSERT_EQ(skin.warnings.size(), 1u);
  EXPECT_EQ(skin.warnings[0], L"bg.png: Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).");
}

TEST(SkinDefinition, UrlAndLanguageFiles) {
  SkinPackageBuilder builder;
  builder.put("skin.xml", Skin(""));
  builder.put("main.bmp", SolidBmp(2, 2, 0));
  builder.put("a.url.xml",
              "<u localConfigPath=' yerel.xml ' languagePath='lang\\English.locale.xml'/>");
  builder.put("english.locale.xml", "<l><string key='SV_NEWS'>News</string></l>");
  builder.put("torrentpatch.locale.xml", "<l><string key='SV_NEWS'>Duyurular</string></l>");
  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(builder.package, &error)) << error;
  EXPECT_EQ(skin.urlFileName, "a.url.xml");
  EXPECT_EQ(skin.localConfigPath, L"yerel.xml");
  EXPECT_EQ(skin.localeFileName, "english.locale.xml");
  EXPECT_EQ(skin.text("SV_NEWS"), L"News");

  // The named file missing: the standard name, then any *.locale.xml.
  EXPECT_EQ(SkinDefinition::findLocaleFile(builder.package, L"yok.locale.xml"),
            "torrentpatch.locale.xml");
  SkinPackageBuilder other;
  other.put("tr.locale.xml", "");
  EXPECT_EQ(SkinDefinition::findLocaleFile(other.package, L"TorrentPatch.locale.xml"),
            "tr.locale.xml");
  EXPECT_EQ(SkinDefinition::findLocaleFile(SkinPackage(), L"x"), "");

  // Packages written by other tools may keep upper-case names; those found by their ending
  // are still read.
  SkinPackage mixedCase;
  mixedCase.entries = {{"Oyun_url.xml", "<u languagePath='yok'/>"},
                       {"TR.locale.xml", "<l><string key='SV_NEWS'>Haber</string></l>"},
                       {"skin.xml", Skin("")},
                       {"main.bmp", SolidBmp(2, 2, 0)}};
  ASSERT_TRUE(skin.load(mixedCase, &error)) << error;
  EXPECT_EQ(skin.urlFileName, "Oyun_url.xml");
  EXPECT_EQ(skin.text("SV_NEWS"), L"Haber");

  // An unreadable language file is a warning; the built-in texts stay.
  ASSERT_TRUE(skin.load(MakePackage(Skin(""), {{"TorrentPatch.locale.xml", "<l><string>"}}),
                        &error));
  ASSERT_EQ(skin.warnings.size(), 1u);
  EXPECT_EQ(skin.warnings[0], L"torrentpatch.locale.xml okunamadı: Eleman kapanmadi (satir 1)");
  EXPECT_EQ(skin.text("SV_NEWS"), L"Haberler");
}

TEST(SkinDefinition, ButtonImagesAndFallbacks) {
  const SkinPackage package = MakePackage(
      Skin("<control type=' Button ' id=' start ' image='Start.PNG' x='5' y='6'/>\n"
           "<CONTROL TYPE='button' id='exit' image='exit_up.bmp'/>\n"
           "<control type='button' id='plain' image='plain'/>\n"
           "<control type='button' id='text' w='80' h='20' text='TORRENT_START'/>"),
      {{"start_up.bmp", SolidBmp(10, 4, 0x010101)},
       {"exit_up.bmp", SolidBmp(6, 3, 0x020202)},
       {"exit_on.bmp", SolidBmp(6, 3, 0x030303)},
       {"exit_ds.bmp", SolidBmp(6, 3, 0x040404)},
       {"plain.bmp", SolidBmp(7, 2, 0x050505)}});
  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(package, &error)) << error;
  ASSERT_EQ(skin.controls.size(), 4u);
  const SkinControl& start = skin.controls[0];
  EXPECT_EQ(start.kind, ControlKind::Button);
  EXPECT_EQ(start.id, "START");
  EXPECT_EQ(start.image, "Start.PNG");
  ASSERT_NE(start.normal, nullptr);
  EXPECT_EQ(start.normal->width, 10);
  EXPECT_EQ(start.hover, start.normal);
  EXPECT_EQ(start.pressed, start.normal);
  EXPECT_EQ(start.disabled, start.normal);
  EXPECT_FALSE(start.hasDisabledImage);
  EXPECT_EQ(start.boxWidth, 10);
  EXPECT_EQ(start.boxHeight, 4);

  const SkinControl& exit = skin.controls[1];
  EXPECT_EQ(exit.normal->pixels[0], 0xFF020202u);
  EXPECT_EQ(exit.hover->pixels[0], 0xFF030303u);
  EXPECT_EQ(exit.pressed, exit.hover);
  EXPECT_EQ(exit.disabled->pixels[0], 0xFF040404u);
  EXPECT_TRUE(exit.hasDisabledImage);

  EXPECT_EQ(skin.controls[2].normal->width, 7);  // no _up file: the base name itself

  const SkinControl& text = skin.controls[3];
  EXPECT_EQ(text.normal, nullptr);
  EXPECT_EQ(text.boxWidth, 80);
  EXPECT_EQ(text.boxHeight, 20);
  EXPECT_EQ(text.text, L"Güncelleme başlıyor...");
  ASSERT_EQ(skin.warnings.size(), 1u);
  EXPECT_EQ(skin.warnings[0], L"Buton görseli yok: _up");

  // Images are decoded once and shared.
  EXPECT_EQ(skin.controls[0].normal, skin.image("start_up"));
}

TEST(SkinDefinition, CommonAttributes) {
  const SkinPackage package = MakePackage(Skin(
      "<control type='text' id='a' size='3' color='#FF0000' shadow='zzz' text='sv_news'/>\n"
      "<control type='text' id='b' size='200' color='80FF0000' shadow='000000' text=' Merhaba '/>\n"
      "<control type='text' id='c' size='x' color='red' bold='evet' font='Verdana' align=' RIGHT '"
      " width='120' w='5' link_url=' TORRENT_PATCH ' exec_path=' oyun.exe '/>\n"
      "<control type='slider' id='d' x='-4' y='abc' w='9' align='center' "
      " enable_on_complete='1'/>\n"
      "<control type='button' id='url_new' w='1' h='1' link_url=''/>\n"
      "<control type='iframe' id='web' width='300' h='100' height='120' link_url='http://n/'/>"));
  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(package, &error)) << error;
  ASSERT_EQ(skin.controls.size(), 6u);
  const SkinControl& a = skin.controls[0];
  EXPECT_EQ(a.fontSize, 6);
  EXPECT_EQ(a.color, 0xFFFF0000u);
  EXPECT_FALSE(a.hasShadow);
  EXPECT_EQ(a.shadowColor, 0xFF000000u);
  EXPECT_EQ(a.text, L"Haberler");
  EXPECT_EQ(a.fontName, L"Tahoma");
  EXPECT_FALSE(a.bold);
  const SkinControl& b = skin.controls[1];
  EXPECT_EQ(b.fontSize, 96);
  EXPECT_EQ(b.color, 0x80FF0000u);
  EXPECT_TRUE(b.hasShadow);
  EXPECT_EQ(b.shadowColor, 0xFF000000u);
  EXPECT_EQ(b.text, L" Merhaba ");
  const SkinControl& c = skin.controls[2];
  EXPECT_EQ(c.fontSize, 12);
  EXPECT_EQ(c.color, 0xFFFFFFFFu);
  EXPECT_TRUE(c.bold);
  EXPECT_EQ(c.fontName, L"Verdana");
  EXPECT_EQ(c.align, TextAlign::Right);
  EXPECT_EQ(c.width, 120);
  EXPECT_EQ(c.link, L"Draskel");
  EXPECT_EQ(c.execPath, L"oyun.exe");
  const SkinControl& d = skin.controls[3];
  EXPECT_EQ(d.kind, ControlKind::None);
  EXPECT_EQ(d.x, -4);
  EXPECT_EQ(d.y, 0);
  EXPECT_EQ(d.width, 9);
  EXPECT_EQ(d.align, TextAlign::Center);
  EXPECT_TRUE(d.enableOnComplete);
  EXPECT_EQ(skin.controls[4].link, L"");  // LAUNCHER_NEW_URL is empty by default
  const SkinControl& web = skin.controls[5];
  EXPECT_EQ(web.kind, ControlKind::Frame);
  EXPECT_EQ(web.boxWidth, 300);
  EXPECT_EQ(web.boxHeight, 120);
  EXPECT_EQ(web.link, L"http://n/");
  EXPECT_EQ(skin.findControl("WEB"), &skin.controls[5]);

  uint32_t color = 7;
  EXPECT_FALSE(parseSkinColor("#12345", color));
  EXPECT_FALSE(parseSkinColor("##123456", color));
  EXPECT_FALSE(parseSkinColor("12345G", color));
  EXPECT_EQ(color, 7u);
  EXPECT_TRUE(parseSkinColor(" #abcDEF ", color));
  EXPECT_EQ(color, 0xFFABCDEFu);
}

TEST(SkinDefinition, UrlNewTakesTheLocaleLink) {
  const SkinPackage package = MakePackage(
      Skin("<control type='button' id='URL_NEW' w='1' h='1'/>"
           "<control type='text' id='URL_NEW'/>"),
      {{"torrentpatch.locale.xml",
        "<l><string key='LAUNCHER_NEW_URL'> http://yeni/ </string></l>"}});
  SkinDefinition skin;
  ASSERT_TRUE(skin.load(package));
  EXPECT_EQ(skin.controls[0].link, L"http://yeni/");
  EXPECT_EQ(skin.controls[1].link, L"");
}

TEST(SkinDefinition, GaugesAndPictures) {
  const SkinPackage package = MakePackage(
      Skin("<control type='gauge' id='g1' image='bar_full' image_empty='bar_empty'/>\n"
           "<control type='gauge' id='g2' image='x' image_full='bar_full'"
           " image_empty='BAR_FULL.bmp'"
           " w='50' width='60' height='7'/>\n"
           "<control type='gauge' id='g3' image='nothing'/>\n"
           "<control type='image' id='p1' image='dot' width='99'/>\n"
           "<control type='image' id='p2' image='missing'/>\n"
           "<control type='image' id='p3' image='broken'/>\n"
           "<control type='gauge' id='g4' image='bar_full' image_full='gone'/>"),
      {{"bar_full.bmp", SolidBmp(201, 5, 0xFFFFFF)},
       {"bar_empty.bmp", SolidBmp(201, 5, 0x202020)},
       {"dot.bmp", SolidBmp(8, 8, 0x00FF00)},
       {"broken.gif", "GIF89a"}});
  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(package, &error)) << error;
  const SkinControl& g1 = skin.controls[0];
  ASSERT_NE(g1.full, nullptr);
  ASSERT_NE(g1.empty, nullptr);
  EXPECT_EQ(g1.empty->pixels[0], 0xFF202020u);
  EXPECT_EQ(g1.boxWidth, 201);
  EXPECT_EQ(g1.boxHeight, 5);
  const SkinControl& g2 = skin.controls[1];
  EXPECT_EQ(g2.full, g1.full);
  EXPECT_EQ(g2.empty, nullptr);  // the same file as the full image
  EXPECT_EQ(g2.boxWidth, 50);
  EXPECT_EQ(g2.boxHeight, 7);
  EXPECT_EQ(skin.controls[2].full, nullptr);
  EXPECT_EQ(skin.controls[2].boxWidth, 0);
  EXPECT_EQ(skin.controls[3].boxWidth, 8);
  EXPECT_EQ(skin.controls[4].normal, nullptr);
  EXPECT_EQ(skin.controls[4].boxWidth, 0);
  EXPECT_EQ(skin.controls[6].full, nullptr);  // image_full wins over image even when missing
  ASSERT_EQ(skin.warnings.size(), 3u);
  EXPECT_EQ(skin.warnings[0], L"Gauge görseli yok: nothing");
  EXPECT_EQ(skin.warnings[1], L"broken.gif: Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).");
  EXPECT_EQ(skin.warnings[2], L"Gauge görseli yok: gone");
}

TEST(SkinDefinition, ImageNames) {
  SkinPackageBuilder builder;
  builder.put("a.jpg", "");
  builder.put("a.gif", "");
  builder.put("b.png.bmp", "");
  builder.put("c.jpeg", "");
  const SkinPackage& p = builder.package;
  EXPECT_EQ(SkinDefinition::resolveImageName(p, " A "), "a.jpg");
  EXPECT_EQ(SkinDefinition::resolveImageName(p, "a.gif"), "a.gif");
  EXPECT_EQ(SkinDefinition::resolveImageName(p, "b.png"), "b.png.bmp");
  EXPECT_EQ(SkinDefinition::resolveImageName(p, "C"), "c.jpeg");
  EXPECT_EQ(SkinDefinition::resolveImageName(p, "a.png"), "");
  EXPECT_EQ(SkinDefinition::resolveImageName(p, "  "), "");
}

TEST(SkinDefinition, DecodeImageMessages) {
  SkinImage image;
  std::wstring error;
  EXPECT_FALSE(decodeImage("", image, &error));
  EXPECT_EQ(error, L"Bos gorsel.");
  EXPECT_FALSE(decodeImage("just some text", image, &error));
  EXPECT_EQ(error, L"Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).");
  // Every cut of a valid file is refused, never read past.
  const std::string bmp = SolidBmp(3, 2, 0x123456);
  for (size_t cut = 1; cut < bmp.size(); ++cut) {
    std::unique_ptr<char[]> copy(new char[cut]);
    std::copy_n(bmp.data(), cut, copy.get());
    EXPECT_FALSE(decodeImage(std::string_view(copy.get(), cut), image, &error)) << cut;
  }
  EXPECT_FALSE(decodeImage(SolidBmp(1, kMaxImageSide + 1, 0), image, &error));
  EXPECT_EQ(error, L"Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).");
  ASSERT_TRUE(decodeImage(SolidBmp(kMaxImageSide, 1, 0), image, &error));
  EXPECT_EQ(image.width, kMaxImageSide);
  ASSERT_TRUE(decodeImage(bmp, image, &error));
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.pixels[5], 0xFF123456u);
  EXPECT_FALSE(image.hasAlpha);
  // The pixel limit a skin still has left: exactly the image's size is enough.
  EXPECT_FALSE(decodeImage(bmp, image, &error, 5));
  EXPECT_EQ(error, kPixelLimitMessage);
  EXPECT_TRUE(image.pixels.empty());
  EXPECT_TRUE(decodeImage(bmp, image, &error, 6));
}

}  // namespace
}  // namespace sv
