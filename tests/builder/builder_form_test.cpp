// The builder window's portable layer: the session file byte for byte and its restore rules, the
// values becoming the same session the headless build reads, the layout at the full and the
// minimum size, the outline icon paths, the log and the live preview's sample values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "builder/build_log.h"
#include "builder/form_fields.h"
#include "builder/form_values.h"
#include "builder/form_view.h"
#include "builder/outline_icons.h"
#include "builder/preview_model.h"
#include "builder/session_check.h"
#include "builder_test_util.h"

namespace sv {
namespace {

FormValues EditedValues() {
  FormValues v;
  v.set(kKeySkin, L"C:\\skins\\draskel.zip");
  v.setField(kFieldConfigUrl, L"https://oyun.example/draskeltorrent.config.xml");
  v.setField(kFieldNewsUrl, L"https://oyun.example/haberler");
  v.setField(kFieldFeedUrl, L"");
  v.setField(kFieldTitle, L"Draskel Çevrimiçi");
  v.setField(kFieldOutName, L"Oyun.exe");
  v.setField(kFieldOutPath, L"D:\\Oyun\\Oyun.exe");
  v.set(kKeyIcon, L"D:\\simge.ico");
  v.set(kKeyConnections, L"6");
  v.setField(kFieldSegment, L"8");
  v.setField(kFieldMaxKbps, L"2048");
  v.setFlag(kKeyCloseOnStart, false);
  v.setFlag(kKeyAutoStart, true);
  v.setFlag(kKeyAllowError, false);
  v.setFlag(kKeyBrowserEmu, true);
  v.setField(kFieldRunArgs, L"--lang tr");
  v.setField(kFieldProduct, L"Draskel");
  v.setField(kFieldCompany, L"Şirket");
  v.setField(kFieldVersion, L"2.1");
  v.setField(kFieldCopyright, L"© 2026");
  v.setFlag(kKeySign, true);
  v.setField(kFieldPfx, L"D:\\imza.pfx");
  v.setField(kFieldPassword, L"gizli-parola");
  v.setField(kFieldTimestamp, L"http://ts.example");
  v.setField(kFieldReleaseKey, L"D:\\anahtar\\KEY.pub");
  v.set("link.WEBSITE", L"https://oyun.example/");
  v.set("lang.LAUNCHER_NEW_URL", L"https://oyun.example/kayit");
  return v;
}

TEST(BuilderSession, WritesEveryKeyInOrderWithCrLfAndNoPassword) {
  const std::string expected =
      "; Sarvik Olusturucu - son oturum (parola kaydedilmez)\r\n"
      "skin=C:\\skins\\draskel.zip\r\n"
      "config_url=https://oyun.example/draskeltorrent.config.xml\r\n"
      "iframe_url=https://oyun.example/haberler\r\n"
      "feed_url=\r\n"
      "title=Draskel \xC3\x87" "evrimi\xC3\xA7i\r\n"
      "out_name=Oyun.exe\r\n"
      "out_path=D:\\Oyun\\Oyun.exe\r\n"
      "icon=D:\\simge.ico\r\n"
      "conn=6\r\n"
      "seg=8\r\n"
      "max_kbps=2048\r\n"
      "close_on_start=0\r\n"
      "auto_start=1\r\n"
      "allow_error=0\r\n"
      "browser_emu=1\r\n"
      "run_args=--lang tr\r\n"
      "v_product=Draskel\r\n"
      "v_company=\xC5\x9Eirket\r\n"
      "v_version=2.1\r\n"
      "v_copyright=\xC2\xA9 2026\r\n"
      "sign=1\r\n"
      "sign_pfx=D:\\imza.pfx\r\n"
      "sign_ts=http://ts.example\r\n"
      "release_key=D:\\anahtar\\KEY.pub\r\n"
      "lang.LAUNCHER_NEW_URL=https://oyun.example/kayit\r\n"
      "link.WEBSITE=https://oyun.example/\r\n";
  const std::string text = SessionText(EditedValues());
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.find("gizli"), std::string::npos);
  EXPECT_EQ(ToSession(EditedValues()).values, ParseSessionText(text));
}

TEST(BuilderSession, PastedLineBreaksStayInsideTheirLine) {
  FormValues v;
  v.setField(kFieldTitle, L"bir\r\niki");
  v.setField(kFieldRunArgs, L"a\nsign=1");
  const auto parsed = ParseSessionText(SessionText(v));
  EXPECT_EQ(parsed.at("title"), "bir  iki");
  EXPECT_EQ(parsed.at("sign"), "0");
}

ButtonLink Link(int index, const char* id, const char* key, const wchar_t* url) {
  ButtonLink l;
  l.controlIndex = index;
  l.id = id;
  l.key = key;
  l.url = url;
  return l;
}

struct FakeSkin {
  bool exists = true;
  int loads = 0;
  SkinImport skin;
  FakeSkin() {
    skin.loaded = true;
    skin.links = {Link(7, "WEBSITE", "link.WEBSITE", L"http://skin/"),
                  Link(12, "URL_NEW", "lang.LAUNCHER_NEW_URL", L"http://skin/kayit")};
  }
};

RestoreHooks Hooks(FakeSkin& skin, FormValues& values) {
  RestoreHooks hooks;
  hooks.iconUsable = [](const std::wstring& path) { return path == L"D:\\simge.ico"; };
  hooks.skinExists = [&skin](const std::wstring&) { return skin.exists; };
  // A load pre-fills as the skin would: its own addresses, title, behaviour and links.
  hooks.loadSkin = [&skin, &values](const std::wstring&) -> const SkinImport* {
    ++skin.loads;
    values.setField(kFieldConfigUrl, L"http://skin/config.xml");
    values.setField(kFieldTitle, L"Skin Başlığı");
    values.set(kKeyConnections, L"3");
    values.setFlag(kKeyAutoStart, false);
    values.set("link.WEBSITE", L"http://skin/");
    values.set("lang.LAUNCHER_NEW_URL", L"http://skin/kayit");
    return &skin.skin;
  };
  return hooks;
}

TEST(BuilderSession, RestoreGivesBackTheSavedFields) {
  const FormValues saved = EditedValues();
  BuilderSession session;
  session.values = ParseSessionText(SessionText(saved));
  FormValues restored;
  FakeSkin skin;
  EXPECT_TRUE(ApplySession(restored, session, Hooks(skin, restored)));
  EXPECT_EQ(skin.loads, 1);
  for (const FormField& f : kFormFields) {
    if (f.id == kFieldPassword) continue;
    EXPECT_EQ(restored.field(f.id), saved.field(f.id)) << f.sessionKey;
  }
  EXPECT_EQ(restored.field(kFieldPassword), L"");
  EXPECT_EQ(restored.get(kKeyIcon), saved.get(kKeyIcon));
  EXPECT_EQ(restored.connections(), 6);
  EXPECT_TRUE(restored.flag(kKeyAutoStart));
  EXPECT_FALSE(restored.flag(kKeyCloseOnStart));
  EXPECT_TRUE(restored.flag(kKeySign));
  EXPECT_EQ(restored.get("link.WEBSITE"), L"https://oyun.example/");
  EXPECT_EQ(restored.get("lang.LAUNCHER_NEW_URL"), L"https://oyun.example/kayit");
  // Saving again writes the same file.
  FormValues again = restored;
  again.password = L"x";
  again.set(kKeySkin, saved.get(kKeySkin));
  EXPECT_EQ(SessionText(again), SessionText(saved));
}

// A session of an earlier builder names links by control index: each value goes to the link of
// that index, under the link's own key.
TEST(BuilderSession, IndexKeyedLinksOfAnOlderSessionFindTheirButtons) {
  BuilderSession session;
  session.values = {{"skin", "C:\\s.zip"}, {"link.7", "http://eski/site"}, {"link.12", "http://eski/kayit"},
                    {"link.99", "http://yok/"}};
  FormValues v;
  FakeSkin skin;
  EXPECT_TRUE(ApplySession(v, session, Hooks(skin, v)));
  EXPECT_EQ(v.get("link.WEBSITE"), L"http://eski/site");
  EXPECT_EQ(v.get("lang.LAUNCHER_NEW_URL"), L"http://eski/kayit");
  EXPECT_EQ(SessionText(v).find("link.7="), std::string::npos);
  EXPECT_EQ(SessionText(v).find("link.99="), std::string::npos);
}

TEST(BuilderSession, OnlyTheExactValueOneSwitchesSigningOn) {
  for (const char* value : {"true", "yes", "01", " 1", "1 "}) {
    BuilderSession session;
    session.values = {{"sign", value}};
    FormValues v;
    v.setFlag(kKeySign, true);
    FakeSkin skin;
    ApplySession(v, session, Hooks(skin, v));
    EXPECT_FALSE(v.flag(kKeySign)) << value;
  }
  BuilderSession on;
  on.values = {{"sign", "1"}};
  FormValues v;
  FakeSkin skin;
  ApplySession(v, on, Hooks(skin, v));
  EXPECT_TRUE(v.flag(kKeySign));
}

TEST(BuilderSession, ConnectionCountOutsideOneToEightKeepsThePreviousValue) {
  for (const char* value : {"9", "0", "-1", "x", ""}) {
    BuilderSession session;
    session.values = {{"skin", "C:\\s.zip"}, {"conn", value}};
    FormValues v;
    FakeSkin skin;
    ApplySession(v, session, Hooks(skin, v));
    EXPECT_EQ(v.connections(), 3) << value;  // what the skin pre-filled
  }
  BuilderSession eight;
  eight.values = {{"skin", "C:\\s.zip"}, {"conn", "8"}};
  FormValues v;
  FakeSkin skin;
  ApplySession(v, eight, Hooks(skin, v));
  EXPECT_EQ(v.connections(), 8);
}

// An unmounted skin at start must not cost the operator the values given for it.
TEST(BuilderSession, MissingSkinKeepsEveryValueForTheNextSave) {
  const FormValues saved = EditedValues();
  BuilderSession session;
  session.values = ParseSessionText(SessionText(saved));
  FormValues v;
  FakeSkin skin;
  skin.exists = false;
  EXPECT_FALSE(ApplySession(v, session, Hooks(skin, v)));
  EXPECT_EQ(skin.loads, 0);
  EXPECT_EQ(SessionText(v), SessionText(saved));
}

// Files dropped onto a loaded skin may reorder, add and remove buttons: each edited address stays
// with its button (by control id or language key), untouched ones take the new skin's addresses,
// and so does every other value the skin gives.
TEST(BuilderLinks, DroppedFilesKeepEachEditedValueWithItsKey) {
  FormValues v;
  const std::map<std::string, std::wstring> before = {{"link.WEBSITE", L"https://a/"},
                                                      {"link.REGISTER", L"https://r/"},
                                                      {"link.#4", L"https://b/"},
                                                      {"title", L"Eski"},
                                                      {"config_url", L"http://eski/c.xml"}};
  for (const auto& [key, value] : before) v.set(key, value);
  v.set("link.WEBSITE", L"https://duzenlendi/");
  v.set("title", L"Operatörün");
  CarrySkinValuesOver(v, before,
                      {{"link.FORUM", L"https://f/"}, {"link.REGISTER", L"https://r2/"}, {"link.WEBSITE", L"https://a/"},
                       {"link.#6", L"https://b/"}, {"title", L"Yeni"}, {"config_url", L"http://yeni/c.xml"}});
  std::map<std::string, std::wstring> links;
  for (const auto& [key, value] : v.values) {
    if (IsLinkKey(key)) links[key] = value;
  }
  EXPECT_EQ(links, (std::map<std::string, std::wstring>{{"link.#6", L"https://b/"},
                                                        {"link.FORUM", L"https://f/"},
                                                        {"link.REGISTER", L"https://r2/"},
                                                        {"link.WEBSITE", L"https://duzenlendi/"}}));
  EXPECT_EQ(v.get("title"), L"Operatörün");
  EXPECT_EQ(v.get("config_url"), L"http://yeni/c.xml");
}

TEST(BuilderSession, EmptyOutputNameAndIconThatIsGoneAreNotRestored) {
  BuilderSession session;
  session.values = {{"out_name", ""}, {"icon", "D:\\yok.ico"}, {"out_path", ""}};
  FormValues v;
  FakeSkin skin;
  ApplySession(v, session, Hooks(skin, v));
  EXPECT_EQ(v.field(kFieldOutName), L"Draskel.exe");
  EXPECT_EQ(v.get(kKeyIcon), L"");
  EXPECT_EQ(v.field(kFieldOutPath), L"");
}

TEST(BuilderSession, ValuesGiveTheHeadlessBuildsFieldsAndVersion) {
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  FormValues v;
  PrefillFromSkin(v, skin, false);
  EXPECT_EQ(v.field(kFieldTitle), L"Draskel Online");
  EXPECT_EQ(v.field(kFieldProduct), L"Draskel Online");
  EXPECT_EQ(v.field(kFieldOutPath), joinPath(test::SampleSkin(), L"Draskel.exe"));
  EXPECT_EQ(v.get("link.WEBSITE"), L"https://draskel.example.com/");
  EXPECT_EQ(v.get("lang.LAUNCHER_NEW_URL"), L"https://draskel.example.com/kayit");
  EXPECT_EQ(v.field(kFieldNewsUrl), L"http://127.0.0.1:8080/launcher/haberler.html");
  v.setField(kFieldTitle, L"  Yeni Başlık ");
  v.setField(kFieldConfigUrl, L"http://yeni/config.xml");
  v.set(kKeyConnections, L"7");
  v.set("link.WEBSITE", L"http://yeni/site");
  const BuilderSession session = ToSession(v);
  const SkinFields fields = SessionFields(skin, session);
  EXPECT_EQ(fields.settings.title, L"Yeni Başlık");
  EXPECT_EQ(fields.configUrl, L"http://yeni/config.xml");
  EXPECT_EQ(fields.settings.connections, 7);
  EXPECT_EQ(fields.linkUrls.at("link.WEBSITE"), L"http://yeni/site");
  const VersionFields version = SessionVersion(session, v.field(kFieldOutPath));
  EXPECT_EQ(version.fileDescription, L"Yeni Başlık");
  EXPECT_EQ(version.originalFileName, L"Draskel.exe");
}

// An operator's slips in a session file fail the headless build with the line that names the fix.
TEST(SessionCheck, TyposUnknownButtonsAndBareAddressesAreRefusedByName) {
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  auto keys = [&skin](std::map<std::string, std::string> values) {
    BuilderSession session;
    session.values = std::move(values);
    return CheckSessionKeys(session, skin);
  };
  EXPECT_EQ(keys({{"config_ulr", "http://x/c.xml"}}),
            L"Bilinmeyen oturum anahtarı: config_ulr (config_url mi demek istediniz?)");
  EXPECT_EQ(keys({{"link.WEBSIET", "http://x/"}}),
            L"Oturumdaki link.WEBSIET bu skindeki hiçbir butona ait değil; skindeki butonlar: "
            L"link.WEBSITE, lang.LAUNCHER_NEW_URL");
  EXPECT_EQ(keys({{"tamamen_baska", "1"}}),
            L"Bilinmeyen oturum anahtarı: tamamen_baska (SarvikBuilderCli.exe --help anahtarları listeler)");
  // Every key the builder window saves, the index form of older sessions and the named keys pass.
  FormValues v;
  PrefillFromSkin(v, skin, false);
  BuilderSession saved = ToSession(v);
  saved.values["link.0"] = "http://eski/";
  saved.values["news_url"] = "http://x/haber";
  saved.values["register_url"] = "http://x/kayit";
  std::wstring error;
  ASSERT_TRUE(ResolveKeyAliases(saved, skin, &error));
  EXPECT_EQ(CheckSessionKeys(saved, skin), L"");

  BuilderSession bare;
  bare.values = {{"config_url", "127.0.0.1/draskeltorrent.config.xml"}};
  EXPECT_EQ(CheckAddresses(EffectiveAddresses(skin, bare)),
            L"config_url geçerli bir adres değil: \"127.0.0.1/draskeltorrent.config.xml\" — adres http:// ya "
            L"da https:// ile başlamalı (ör. https://127.0.0.1/draskeltorrent.config.xml).");
  bare.values = {{"link.WEBSITE", "ftp://x/"}};
  EXPECT_NE(CheckAddresses(EffectiveAddresses(skin, bare)).find(L"link.WEBSITE geçerli bir adres değil"),
            std::wstring::npos);
  bare.values = {{"config_url", "HTTPS://x/c.xml"}, {"iframe_url", ""}};
  EXPECT_EQ(CheckAddresses(EffectiveAddresses(skin, bare)), L"");
}

// The news and register pages are reached by what they are, whatever the skin calls them; what
// the patcher will use is listed with the values the session left to the skin marked.
TEST(SessionCheck, NamedPageKeysReachTheirValuesAndEffectiveAddressesSayWhereEachCameFrom) {
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  BuilderSession session;
  session.values = {{"news_url", "https://oyun/haber"}, {"register_url", "https://oyun/kayit"},
                    {"config_url", "https://oyun/c.xml"}};
  std::wstring error;
  ASSERT_TRUE(ResolveKeyAliases(session, skin, &error));
  const SkinFields fields = SessionFields(skin, session);
  EXPECT_EQ(fields.newsUrl, L"https://oyun/haber");
  EXPECT_EQ(fields.linkUrls.at("lang.LAUNCHER_NEW_URL"), L"https://oyun/kayit");
  std::map<std::string, std::pair<std::wstring, bool>> seen;
  for (const EffectiveAddress& a : EffectiveAddresses(skin, session)) seen[a.key] = {a.url, a.fromSkin};
  EXPECT_EQ(seen.at("config_url"), std::make_pair(std::wstring(L"https://oyun/c.xml"), false));
  EXPECT_EQ(seen.at("iframe_url"), std::make_pair(std::wstring(L"https://oyun/haber"), false));
  EXPECT_EQ(seen.at("lang.LAUNCHER_NEW_URL"), std::make_pair(std::wstring(L"https://oyun/kayit"), false));
  EXPECT_EQ(seen.at("link.WEBSITE"), std::make_pair(std::wstring(L"https://draskel.example.com/"), true));
  EXPECT_EQ(seen.at("feed_url"), std::make_pair(std::wstring(L"http://127.0.0.1:8080/launcher/feed.xml"), true));

  // A skin without a register button cannot take register_url.
  SkinImport plain = skin;
  plain.links.erase(std::remove_if(plain.links.begin(), plain.links.end(),
                                   [](const ButtonLink& l) { return l.id == "URL_NEW"; }),
                    plain.links.end());
  BuilderSession orphan;
  orphan.values = {{"register_url", "https://oyun/kayit"}};
  EXPECT_FALSE(ResolveKeyAliases(orphan, plain, &error));
  EXPECT_EQ(error, L"register_url: bu skinde kayıt butonu (id=\"URL_NEW\") yok.");
}

// ----------------------------------------------------------------------------- layout

ViewState LoadedState(int section) {
  ViewState s;
  s.section = section;
  s.skinLoaded = true;
  s.skinName = L"draskel.zip";
  s.skinWidth = 920;
  s.skinHeight = 580;
  s.warnings = {L"Görsel bulunamadı: a.png", L"Görsel bulunamadı: b.png", L"Görsel bulunamadı: c.png",
                L"Görsel bulunamadı: d.png"};
  for (int i = 0; i < 44; ++i) s.entryNames.push_back(L"image_" + std::to_wstring(i) + L".png");
  s.links = {{1, L"WEBSITE", false, false}, {3, L"URL_NEW", true, false}, {9, L"WEB", true, true}};
  s.iconPath = L"D:\\simge.ico";
  s.sign = true;
  s.hasResult = true;
  s.resultOk = true;
  s.resultCrc = 0x9F19D585;
  s.preview = ViewState::Preview::Ready;
  s.previewWidth = 920;
  s.previewHeight = 580;
  return s;
}

bool IsText(ItemKind k) {
  switch (k) {
    case ItemKind::SectionTitle: case ItemKind::Heading: case ItemKind::Help: case ItemKind::Label:
    case ItemKind::Text: case ItemKind::Muted: case ItemKind::Caps: case ItemKind::TileValue: case ItemKind::Mono:
    case ItemKind::Button: case ItemKind::PrimaryButton: case ItemKind::Chip: case ItemKind::Switch:
    case ItemKind::Edit: case ItemKind::Badge: case ItemKind::CheckRow: case ItemKind::NavEntry:
    case ItemKind::LogView: case ItemKind::Preview: case ItemKind::PreviewPlaceholder: case ItemKind::Icon:
      return true;
    default: return false;
  }
}

void CheckLayout(const ViewState& state, int32_t width, int32_t height, int32_t dpi) {
  const auto items = LayoutWindow(state, width, height, dpi);
  const ViewRect client{0, 0, width, height};
  std::vector<const ViewItem*> texts, cards;
  for (const ViewItem& item : items) {
    EXPECT_TRUE(item.rect.inside(client)) << int(item.kind) << " " << toUtf8(item.text) << " at " << item.rect.x
                                          << "," << item.rect.y << " " << item.rect.w << "x" << item.rect.h;
    EXPECT_GT(item.rect.w, 0);
    EXPECT_GT(item.rect.h, 0) << int(item.kind) << " " << toUtf8(item.text);
    if (IsText(item.kind)) texts.push_back(&item);
    if (item.kind == ItemKind::Card) cards.push_back(&item);
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    for (size_t j = i + 1; j < texts.size(); ++j) {
      EXPECT_FALSE(texts[i]->rect.intersects(texts[j]->rect))
          << "overlap: '" << toUtf8(texts[i]->text) << "' (" << int(texts[i]->kind) << ") and '"
          << toUtf8(texts[j]->text) << "' (" << int(texts[j]->kind) << ") in section " << state.section;
    }
  }
  for (size_t i = 0; i < cards.size(); ++i) {
    for (size_t j = i + 1; j < cards.size(); ++j)
      EXPECT_FALSE(cards[i]->rect.intersects(cards[j]->rect)) << "cards overlap in section " << state.section;
  }
}

TEST(BuilderLayout, NothingOverlapsOrLeavesTheWindowAtFullAndMinimumSize) {
  for (int dpi : {96, 144}) {
    for (int section = 0; section < kSectionCount; ++section) {
      ViewState loaded = LoadedState(section);
      ViewState empty;
      empty.section = section;
      ViewState failed = LoadedState(section);
      failed.hasResult = true;
      failed.resultOk = false;
      failed.resultMessage = L"Çıktı dosyası kullanımda (patcher açık olabilir): D:\\Oyun\\Oyun.exe";
      failed.preview = ViewState::Preview::Failed;
      failed.busy = true;
      for (const ViewState* s : {&loaded, &empty, &failed}) {
        CheckLayout(*s, kClientWidth * dpi / 96, kClientHeight * dpi / 96, dpi);
        CheckLayout(*s, kMinClientWidth * dpi / 96, kMinClientHeight * dpi / 96, dpi);
      }
    }
  }
}

TEST(BuilderLayout, EachSectionShowsItsOwnFieldsAndTheLinkFields) {
  for (int section = 0; section < kSectionCount; ++section) {
    const auto items = LayoutWindow(LoadedState(section), kMinClientWidth, kMinClientHeight, 96);
    std::set<int> edits;
    for (const ViewItem& item : items) {
      if (item.kind == ItemKind::Edit) edits.insert(item.field);
    }
    std::set<int> expected;
    for (const FormField& f : kFormFields) {
      if (f.section == section) expected.insert(f.id);
    }
    if (section == kSectionLinks) expected.insert({kLinkFieldBase, kLinkFieldBase + 1, kLinkFieldBase + 2});
    EXPECT_EQ(edits, expected) << section;
  }
}

TEST(BuilderLayout, BusyDisablesEveryCommandButTheSectionList) {
  ViewState s = LoadedState(kSectionBuild);
  s.busy = true;
  int cancels = 0;
  for (int section = 0; section < kSectionCount; ++section) {
    s.section = section;
    for (const ViewItem& item : LayoutWindow(s, kClientWidth, kClientHeight, 96)) {
      const bool safe = (item.command >= kCmdSection && item.command < kCmdSection + kSectionCount) ||
                        item.command == kCmdCopyCrc || item.command == kCmdCopyCrcLine || item.command == kCmdCopyLog;
      if (item.command != kCmdNone && !safe && item.command != kCmdCancel) {
        EXPECT_FALSE(item.enabled) << item.command;
      }
      // The operator can always stop what runs.
      if (item.command == kCmdCancel) {
        EXPECT_TRUE(item.enabled);
        ++cancels;
      }
      if (item.kind == ItemKind::Edit) {
        EXPECT_FALSE(item.enabled) << item.field;
      }
      if (item.kind == ItemKind::StatusBar) {
        EXPECT_EQ(item.text.rfind(L"Oluşturuluyor…", 0), 0u);
      }
    }
  }
  EXPECT_EQ(cancels, kSectionCount);
  s.busyText = L"Skin yükleniyor… a.zip";
  for (const ViewItem& item : LayoutWindow(s, kClientWidth, kClientHeight, 96)) {
    if (item.kind == ItemKind::StatusBar) {
      EXPECT_EQ(item.text.rfind(L"Skin yükleniyor… a.zip", 0), 0u);
    }
  }
}

TEST(BuilderLayout, CertificateFieldsFollowTheSigningSwitch) {
  for (bool sign : {false, true}) {
    ViewState s = LoadedState(kSectionOutput);
    s.sign = sign;
    for (const ViewItem& item : LayoutWindow(s, kClientWidth, kClientHeight, 96)) {
      if (item.kind == ItemKind::Edit && item.field != kFieldOutPath && item.field != kFieldReleaseKey) {
        EXPECT_EQ(item.enabled, sign) << item.field;
      }
      if (item.command == kCmdSwitchSign) {
        EXPECT_EQ(item.on, sign);
      }
    }
  }
}

TEST(BuilderLayout, HitTestFindsTheButtonUnderThePoint) {
  const auto items = LayoutWindow(LoadedState(kSectionBuild), kClientWidth, kClientHeight, 96);
  for (const ViewItem& item : items) {
    if (item.command == kCmdNone || !item.enabled) continue;
    const ViewItem* hit = HitItem(items, item.rect.x + item.rect.w / 2, item.rect.y + item.rect.h / 2);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->command, item.command);
  }
  EXPECT_EQ(HitItem(items, 0, kClientHeight - 1), nullptr);
}

TEST(BuilderLayout, ResultTexts) {
  EXPECT_EQ(ElapsedText(999), L"< 1 sn");
  EXPECT_EQ(ElapsedText(1000), L"1 sn");
  EXPECT_EQ(ElapsedText(12500), L"12 sn");
  EXPECT_EQ(Hex8Text(0x0000ABCD), L"0000ABCD");
}

// ----------------------------------------------------------------------------- icons

TEST(OutlineIcons, EveryIconParsesInsideItsSquare) {
  for (int icon = 0; icon < kIconCount; ++icon) {
    const auto ops = ParseIconPath(IconPath(icon));
    ASSERT_FALSE(ops.empty()) << icon;
    EXPECT_EQ(ops.front().kind, PathOp::Move) << icon;
    for (const PathOp& op : ops) {
      if (op.kind == PathOp::Close) continue;
      EXPECT_GE(op.x, 0.f) << icon;
      EXPECT_LE(op.x, 24.f) << icon;
      EXPECT_GE(op.y, 0.f) << icon;
      EXPECT_LE(op.y, 24.f) << icon;
    }
  }
  EXPECT_TRUE(IconPath(kIconCount).empty());
}

TEST(OutlineIcons, CommandsRelativeAbsoluteSmoothAndArcs) {
  // After a move, further pairs are line-tos; h/v are relative to the current point.
  auto ops = ParseIconPath("m1 2 3 4h5v-1Z");
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[1].kind, PathOp::Line);
  EXPECT_FLOAT_EQ(ops[1].x, 4);
  EXPECT_FLOAT_EQ(ops[1].y, 6);
  EXPECT_FLOAT_EQ(ops[2].x, 9);
  EXPECT_FLOAT_EQ(ops[3].y, 5);
  EXPECT_EQ(ops[4].kind, PathOp::Close);

  // S mirrors the previous cubic's second control point around the current point.
  ops = ParseIconPath("M0 0C1 1 2 1 3 0S5-1 6 0");
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_FLOAT_EQ(ops[2].x1, 4);
  EXPECT_FLOAT_EQ(ops[2].y1, -1);
  EXPECT_FLOAT_EQ(ops[2].x, 6);

  // "1.5.5" is two numbers; "-" starts a new one.
  ops = ParseIconPath("M1.5.5L2-3");
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_FLOAT_EQ(ops[0].x, 1.5f);
  EXPECT_FLOAT_EQ(ops[0].y, 0.5f);
  EXPECT_FLOAT_EQ(ops[1].y, -3);

  // A half circle of radius 5 becomes two quarter cubics ending exactly at the end point, their
  // middle on the circle.
  ops = ParseIconPath("M0 5A5 5 0 0 1 10 5");
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[1].kind, PathOp::Cubic);
  EXPECT_NEAR(ops[1].x, 5, 1e-4);
  EXPECT_NEAR(ops[1].y, 0, 1e-4);
  EXPECT_FLOAT_EQ(ops[2].x, 10);
  EXPECT_FLOAT_EQ(ops[2].y, 5);
  // Quarter-circle control points sit 0.5523 r along the tangents.
  EXPECT_NEAR(ops[1].x1, 0, 1e-4);
  EXPECT_NEAR(ops[1].y1, 5 - 5 * 0.55228f, 1e-3);

  // Flags without separators, radii too small scaled up to reach the end point.
  ops = ParseIconPath("M0 0a1 1 0 1010 0");
  ASSERT_GE(ops.size(), 2u);
  EXPECT_NEAR(ops.back().x, 10, 1e-4);

  // An unknown letter ends the path; what came before stays.
  ops = ParseIconPath("M0 0L1 1Q2 2 3 3");
  EXPECT_EQ(ops.size(), 2u);
}

// ----------------------------------------------------------------------------- log

TEST(BuilderLogEntries, LinesSplitWithTheTimeOnTheFirstOnly) {
  BuildLog log;
  log.Append(L"İmzalama başarısız: hata\r\nikinci satır\r\n", kLogError, L"10:11:12");
  log.Append(L"tek", kLogSuccess, L"10:11:13");
  ASSERT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(log.entries[0].time, L"10:11:12");
  EXPECT_EQ(log.entries[0].text, L"İmzalama başarısız: hata");
  EXPECT_EQ(log.entries[1].time, L"");
  EXPECT_EQ(log.entries[1].text, L"ikinci satır");
  EXPECT_EQ(log.entries[1].level, kLogError);
  EXPECT_EQ(log.entries[2].level, kLogSuccess);
  EXPECT_EQ(log.CopyText(), L"10:11:12  İmzalama başarısız: hata\r\n          ikinci satır\r\n10:11:13  tek\r\n");
  log.Append(L"a\n\nb", kLogPlain, L"t");
  EXPECT_EQ(log.entries.size(), 6u);  // an empty line inside a message stays
  EXPECT_EQ(LogTimeText(5, 7, 9), L"05:07:09");
}

// ----------------------------------------------------------------------------- preview

TEST(LivePreview, BrokenSkinXmlAfterAnEditGivesTheReadersMessage) {
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  skin.entries.put("skin.xml", "<skin background_image=\"main\"><control type=\"button\" id=\"A\"</skin>");
  PreviewModel model;
  std::wstring error;
  EXPECT_FALSE(BuildPreviewModel(skin, skin.ImportedFields(), model, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(model.width, 0);
}

}  // namespace
}  // namespace sv
