// Loading a skin from a folder or a zip, loose files dropped onto it, what the analysis reads, and
// the operator's edits written back into the skin's files.
#include <gtest/gtest.h>

#include "builder/form_fields.h"
#include "builder/form_values.h"
#include "builder/skin_import.h"
#include "builder_test_util.h"

namespace sv {
namespace {

std::string Entry(const SkinPackageBuilder& b, std::string_view name) {
  const std::string* data = b.package.find(name);
  return data ? *data : std::string("<missing>");
}

TEST(SkinImport, FolderAndZipLoadTheSameSkinAndAnalyseIt) {
  SkinImport fromFolder, fromZip;
  std::wstring error;
  ASSERT_TRUE(fromFolder.LoadSkin(test::SampleSkin(), &error)) << toUtf8(error);
  ASSERT_TRUE(fromZip.LoadSkin(joinPath(test::ZipSamples(), L"infozip_folder.zip"), &error)) << toUtf8(error);
  for (const SkinImport* skin : {&fromFolder, &fromZip}) {
    EXPECT_TRUE(skin->loaded);
    EXPECT_EQ(skin->urlFileName, "torrentpatch.url.xml");
    EXPECT_EQ(skin->localeFileName, "torrentpatch.locale.xml");
    EXPECT_EQ(skin->importedConfigUrl, L"http://127.0.0.1:8080/draskeltorrent.config.xml");
    EXPECT_EQ(skin->importedNewsUrl, L"http://127.0.0.1:8080/launcher/haberler.html");
    EXPECT_EQ(skin->importedFeedUrl, L"http://127.0.0.1:8080/launcher/feed.xml");
    EXPECT_TRUE(skin->hasFeedArea);
    EXPECT_TRUE(skin->hasWebArea);
    ASSERT_GE(skin->links.size(), 2u);
    EXPECT_EQ(skin->links[0].controlIndex, 0);
    EXPECT_EQ(skin->links[0].id, "WEBSITE");
    EXPECT_FALSE(skin->links[0].fromLanguageFile);
    EXPECT_EQ(skin->links[0].url, L"https://draskel.example.com/");
    const ButtonLink* web = nullptr;
    for (const ButtonLink& link : skin->links) {
      if (link.id == "WEB") web = &link;
    }
    ASSERT_TRUE(web);
    EXPECT_TRUE(web->fromLanguageFile);
    EXPECT_EQ(web->languageKey, "LAUNCHER_IFRAME");
    EXPECT_EQ(web->url, L"http://127.0.0.1:8080/launcher/haberler.html");
  }
  EXPECT_EQ(fromZip.sourcePath, joinPath(test::ZipSamples(), L"infozip_folder.zip"));
  EXPECT_EQ(fromFolder.entries.package.entries.size(), fromZip.entries.package.entries.size());
}

TEST(SkinImport, RefusalsLeaveNothingLoaded) {
  const std::wstring folder = test::ScratchFolder("refusals");
  SkinImport skin;
  std::wstring error;
  EXPECT_FALSE(skin.LoadSkin(test::WriteScratchFile(folder, L"skin.rar", "x"), &error));
  EXPECT_EQ(error, L"Zip dosyası ya da klasör bırakın.");
  const std::wstring noSkin = joinPath(folder, L"noskin");
  createDirectories(noSkin);
  test::WriteScratchFile(noSkin, L"a.png", "x");
  EXPECT_FALSE(skin.LoadSkin(noSkin, &error));
  EXPECT_EQ(error, L"skin.xml bulunamadı (geçerli bir patcher skini değil).");
  EXPECT_FALSE(skin.loaded);
  EXPECT_TRUE(skin.entries.package.entries.empty());
  test::ZipItem spoiled = test::StoredItem("a.png", "x");
  spoiled.crc ^= 1;
  const std::string broken = test::MakeZip({test::StoredItem("skin.xml", "<skin/>"), spoiled}).bytes;
  EXPECT_FALSE(skin.LoadSkin(test::WriteScratchFile(folder, L"broken.ZIP", broken), &error));
  EXPECT_EQ(error, L"Zip CRC hatasi: a.png");
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(skin.loaded);
}

TEST(SkinImport, PackageOverTheEntryLimitIsNeverBuilt) {
  SkinImport skin;
  std::wstring error;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin(), &error)) << toUtf8(error);
  // Fill up to exactly the limit (the settings entry is already there): not refused for its
  // size. (The host build cannot decode the skin's images, so only Windows builds it in full.)
  for (size_t i = skin.entries.package.entries.size(); i < kSkinPackageMaxEntries; ++i)
    skin.entries.put("extra" + std::to_string(i) + ".txt", "x");
  std::string package;
  error.clear();
  if (BuildSkinPackage(skin, skin.ImportedFields(), package, &error)) {
    SkinPackage readBack;
    ASSERT_TRUE(readBack.parse(package, &error)) << toUtf8(error);
    EXPECT_EQ(readBack.entries.size(), size_t(kSkinPackageMaxEntries));
  }
  EXPECT_EQ(error.find(L"dosya içerebilir"), std::wstring::npos) << toUtf8(error);
  // One more and the patcher would refuse its own skin.
  skin.entries.put("one_too_many.txt", "x");
  package.clear();
  EXPECT_FALSE(BuildSkinPackage(skin, skin.ImportedFields(), package, &error));
  EXPECT_EQ(error, L"Skin en çok 4096 dosya içerebilir (4097 dosya var).");
  EXPECT_TRUE(package.empty());
}

TEST(SkinImport, LooseFilesDroppedOntoALoadedSkinReplaceSameNamedImages) {
  const std::wstring folder = test::ScratchFolder("dropped");
  SkinImport skin;
  ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
  const size_t before = skin.entries.package.entries.size();
  std::vector<std::wstring> files = {test::WriteScratchFile(folder, L"EXIT_UP.png", "new exit"),
                                     test::WriteScratchFile(folder, L"start_up.png", "new start"),
                                     test::WriteScratchFile(folder, L"extra.png", "extra")};
  std::wstring note;
  EXPECT_EQ(skin.AddDroppedItems(files, &note), 3);
  EXPECT_TRUE(note.empty());
  EXPECT_EQ(skin.entries.package.entries.size(), before + 1);
  EXPECT_EQ(Entry(skin.entries, "exit_up.png"), "new exit");
  EXPECT_EQ(Entry(skin.entries, "start_up.png"), "new start");
  EXPECT_EQ(skin.sourcePath, test::SampleSkin());

  // Files alone, with no skin.xml, are kept but load nothing; a note names the refused one.
  SkinImport loose;
  files.push_back(test::WriteScratchFile(folder, L"tool.exe", "MZ"));
  EXPECT_EQ(loose.AddDroppedItems(files, &note), 3);
  EXPECT_EQ(note, L"Desteklenmeyen dosya: tool.exe");
  EXPECT_FALSE(loose.loaded);
  files = {joinPath(test::SampleSkin(), L"skin.xml")};
  EXPECT_EQ(loose.AddDroppedItems(files, &note), 1);
  EXPECT_TRUE(loose.loaded);
  EXPECT_EQ(loose.sourcePath, L"(bırakılan dosyalar)");
}

// The configuration address must reach what the patcher reads: inserted when the URL file has no
// such attribute, and a URL file the editor cannot rewrite refuses the build.
TEST(SkinImport, ConfigAddressIsInsertedIntoTheUrlFileOrTheBuildIsRefused) {
  SkinImport skin;
  skin.entries.put("main.bmp", test::SolidBmp(4, 3, 0x102030));
  skin.entries.put("skin.xml", "<skin background_image=\"main\"/>");
  skin.entries.put("torrentpatch.url.xml", "<torrentpatch languagePath=\"TorrentPatch.locale.xml\"/>");
  skin.loaded = true;
  skin.AnalyseSkin();
  SkinFields fields = skin.ImportedFields();
  fields.configUrl = L" http://127.0.0.1:9/c.xml?a=1&b=2 ";
  std::string package;
  std::wstring error;
  ASSERT_TRUE(BuildSkinPackage(skin, fields, package, &error)) << toUtf8(error);
  SkinPackage built;
  ASSERT_TRUE(built.parse(package));
  EXPECT_EQ(*built.find("torrentpatch.url.xml"),
            "<torrentpatch remoteConfigPath=\"http://127.0.0.1:9/c.xml?a=1&amp;b=2\" "
            "languagePath=\"TorrentPatch.locale.xml\"/>");

  std::string utf16 = "\xFF\xFE";
  for (char c : std::string_view("<torrentpatch remoteConfigPath=\"http://eski.example/c.xml\"/>")) {
    utf16 += c;
    utf16 += '\0';
  }
  skin.entries.put("torrentpatch.url.xml", utf16);
  skin.AnalyseSkin();
  EXPECT_FALSE(BuildSkinPackage(skin, fields, package, &error));
  EXPECT_EQ(error, L"Yapılandırma adresi torrentpatch.url.xml dosyasına yazılamadı.");
}

class SkinEdits : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(skin.LoadSkin(test::SampleSkin()));
    fields = skin.ImportedFields();
  }
  SkinImport skin;
  SkinFields fields;
};

TEST_F(SkinEdits, NothingChangedLeavesEveryFileAsItWas) {
  const SkinPackageBuilder edited = ApplyEdits(skin, fields);
  for (const SkinPackageEntry& entry : skin.entries.package.entries) {
    if (entry.name == "sarvik.ini") continue;
    EXPECT_TRUE(Entry(edited, entry.name) == entry.data) << entry.name;
  }
  EXPECT_EQ(Entry(edited, "sarvik.ini"), skin.settings.toIni());
}

TEST_F(SkinEdits, ConfigUrlFeedUrlAndSkinLinkAreReplacedInPlace) {
  fields.configUrl = L"  https://yeni.example.com/a&b.xml ";
  fields.feedUrl = L"https://yeni.example.com/feed";
  fields.linkUrls["link.WEBSITE"] = L"https://site.example.com/\"q\"";
  fields.settings.title = L"Yeni Başlık";
  fields.settings.connections = 6;
  const SkinPackageBuilder edited = ApplyEdits(skin, fields);
  const std::string url = Entry(edited, "torrentpatch.url.xml");
  std::string expectedUrl = Entry(skin.entries, "torrentpatch.url.xml");
  expectedUrl.replace(expectedUrl.find("http://127.0.0.1:8080/draskeltorrent.config.xml"), 47,
                      "https://yeni.example.com/a&amp;b.xml");
  EXPECT_EQ(url, expectedUrl);
  const std::string skinXml = Entry(edited, "skin.xml");
  EXPECT_NE(skinXml.find("feed_url=\"https://yeni.example.com/feed\" feed_refresh"), std::string::npos);
  EXPECT_NE(skinXml.find("link_url=\"https://site.example.com/&quot;q&quot;\""), std::string::npos);
  const PatcherSettings settings = PatcherSettings::parse(Entry(edited, "sarvik.ini"));
  EXPECT_EQ(settings.title, L"Yeni Başlık");
  EXPECT_EQ(settings.connections, 6);
}

TEST_F(SkinEdits, NewsPageKeyGoesInFrontOfTheClosingTagWhenMissing) {
  std::string locale = Entry(skin.entries, "torrentpatch.locale.xml");
  const char* line = "\t<string key=\"LAUNCHER_IFRAME\">http://127.0.0.1:8080/launcher/haberler.html</string>\n";
  const size_t at = locale.find(line);
  ASSERT_NE(at, std::string::npos);
  locale.erase(at, std::string_view(line).size());
  skin.entries.put("torrentpatch.locale.xml", locale);
  skin.AnalyseSkin();
  // LAUNCHER_NEW_URL is the register button's address, never the news page's.
  EXPECT_EQ(skin.importedNewsUrl, L"");
  fields = skin.ImportedFields();
  fields.newsUrl = L"https://haber.example.com/";
  const std::string edited = Entry(ApplyEdits(skin, fields), "torrentpatch.locale.xml");
  const size_t close = locale.rfind("</torrent_locale>");
  const std::string added = edited.substr(close, edited.size() - locale.size());
  EXPECT_EQ(edited.substr(0, close), locale.substr(0, close));
  EXPECT_EQ(edited.substr(close + added.size()), locale.substr(close));
  EXPECT_EQ(added, "\t<string key=\"LAUNCHER_IFRAME\">https://haber.example.com/</string>\r\n");
}

// The news page field and the news area's link are one value, and the register button has its own:
// an edit of either reaches its own language string and no other.
TEST_F(SkinEdits, NewsPageEditReachesTheNewsAreaAndNeverTheRegisterButton) {
  auto analysed = [](const SkinPackageBuilder& entries) {
    SkinImport again;
    again.entries = entries;
    again.loaded = true;
    again.AnalyseSkin();
    std::map<std::string, std::wstring> urls;
    for (const ButtonLink& link : again.links) urls[link.id] = link.url;
    return urls;
  };
  const std::map<std::string, std::wstring> before = analysed(skin.entries);
  ASSERT_EQ(before.at("WEB"), L"http://127.0.0.1:8080/launcher/haberler.html");
  ASSERT_EQ(before.at("URL_NEW"), L"https://draskel.example.com/kayit");

  FormValues news;
  PrefillFromSkin(news, skin, false);
  news.setField(kFieldNewsUrl, L"https://yeni.example/haber");
  const std::map<std::string, std::wstring> afterNews =
      analysed(ApplyEdits(skin, SessionFields(skin, ToSession(news))));
  EXPECT_EQ(afterNews.at("WEB"), L"https://yeni.example/haber");
  EXPECT_EQ(afterNews.at("URL_NEW"), L"https://draskel.example.com/kayit");
  EXPECT_EQ(afterNews.at("WEBSITE"), L"https://draskel.example.com/");

  FormValues reg;
  PrefillFromSkin(reg, skin, false);
  reg.set("lang.LAUNCHER_NEW_URL", L"https://yeni.example/kayit");
  const std::map<std::string, std::wstring> afterRegister =
      analysed(ApplyEdits(skin, SessionFields(skin, ToSession(reg))));
  EXPECT_EQ(afterRegister.at("WEB"), L"http://127.0.0.1:8080/launcher/haberler.html");
  EXPECT_EQ(afterRegister.at("URL_NEW"), L"https://yeni.example/kayit");
}

// A news area without link_url shows nothing in the patcher: a changed news page binds it to its
// language string.
TEST_F(SkinEdits, NewsAreaWithoutAnAddressIsBoundToTheChangedNewsPage) {
  std::string xml = Entry(skin.entries, "skin.xml");
  const std::string attr = " link_url=\"LAUNCHER_IFRAME\"";
  xml.erase(xml.find(attr), attr.size());
  skin.entries.put("skin.xml", xml);
  skin.AnalyseSkin();
  fields = skin.ImportedFields();
  EXPECT_EQ(Entry(ApplyEdits(skin, fields), "skin.xml"), xml);
  fields.newsUrl = L"https://yeni.example/haber";
  const std::string edited = Entry(ApplyEdits(skin, fields), "skin.xml");
  EXPECT_NE(edited.find("<control link_url=\"LAUNCHER_IFRAME\" type=\"iframe\" id=\"WEB\""), std::string::npos);
}

TEST_F(SkinEdits, FeedUrlIsInsertedAfterTheRootNameWhenTheRootHasNone) {
  std::string xml = Entry(skin.entries, "skin.xml");
  const std::string attr = " feed_url=\"http://127.0.0.1:8080/launcher/feed.xml\"";
  xml.erase(xml.find(attr), attr.size());
  skin.entries.put("skin.xml", xml);
  skin.AnalyseSkin();
  ASSERT_TRUE(skin.hasFeedArea);
  fields = skin.ImportedFields();
  fields.feedUrl = L"https://f.example.com/x?a=1&b=2";
  const std::string edited = Entry(ApplyEdits(skin, fields), "skin.xml");
  std::string expected = xml;
  expected.insert(expected.find("<skin") + 5, " feed_url=\"https://f.example.com/x?a=1&amp;b=2\"");
  EXPECT_EQ(edited, expected);
}

}  // namespace
}  // namespace sv
