#include "skin/locale_table.h"

#include <gtest/gtest.h>

#include <set>

namespace sv {
namespace {

TEST(LocaleTable, BuiltInTexts) {
  const LocaleTable table;
  EXPECT_EQ(builtInLocaleTexts().size(), 78u);
  EXPECT_EQ(table.entries.size(), 78u);
  EXPECT_EQ(table.text("sv_news"), L"Haberler");
  EXPECT_EQ(table.text("SV_NEWS"), L"Haberler");
  EXPECT_EQ(table.text("ERROR_NO_SKIN"), L"Düzenleme mevcut değil.");
  EXPECT_EQ(table.text("TORRENT_STATE_DOWNLOADING"), L"İndiriliyor...");
  EXPECT_EQ(table.text("TORRENT_SUB"), L"");
  EXPECT_TRUE(table.contains("launcher_iframe"));
  EXPECT_EQ(table.text("NO_SUCH_KEY"), L"");
  EXPECT_EQ(table.textOr("NO_SUCH_KEY", L"yedek"), L"yedek");
  EXPECT_EQ(table.textOr("SV_NEWS", L"yedek"), L"Haberler");
  EXPECT_EQ(table.format("NO_SUCH_KEY", {L"a"}), L"");
  EXPECT_EQ(table.format("SV_RETRY", {L"Bağlantı hatası"}),
            L"Güncelleme tamamlanamadı.\n\nBağlantı hatası\n\nTekrar denemek ister misiniz?");
  EXPECT_EQ(table.format("SV_VERIFYING", {L"%42"}), L"Dosyalar doğrulanıyor… %42");
  EXPECT_EQ(table.format("SV_PRELOADING", {L"%7"}), L"Sonraki güncelleme hazırlanıyor: %7");
  EXPECT_EQ(table.format("INTERNET_OPEN_ERROR", {L"12029"}),
            L"İnternet bağlantısı yok (ErrorCode 12029)");
  std::set<std::string> keys;
  for (const LocaleDefault& entry : builtInLocaleTexts()) keys.insert(entry.key);
  EXPECT_EQ(keys.size(), 78u);
}

TEST(LocaleTable, LanguageFileOverrides) {
  LocaleTable table;
  std::wstring error;
  ASSERT_TRUE(table.loadFile(
      "<?xml version=\"1.0\"?>\n<torrent_locale>\n"
      "  <string key=\" sv_news \">Duyurular</string>\n"
      "  <STRING key=\"SV_RETRY\">A\\nB</STRING>\n"
      "  <string key=\"PATH1\">C:\\\\oyun</string>\n"
      "  <string key=\"PATH2\">C:\\oyun \\' \\\" end\\</string>\n"
      "  <string key=\"\">ignored</string>\n"
      "  <other key=\"TORRENT_MAIN\">ignored</other>\n"
      "  <string key=\"custom_key\"> Merhaba &amp; <![CDATA[<b>]]></string>\n"
      "  <string key=\"SV_NEWS\">Son</string>\n"
      "</torrent_locale>",
      &error))
      << error;
  EXPECT_EQ(table.text("SV_NEWS"), L"Son");
  EXPECT_EQ(table.text("SV_RETRY"), L"A\nB");
  EXPECT_EQ(table.text("PATH1"), L"C:\\oyun");
  EXPECT_EQ(table.text("PATH2"), L"C:\\oyun ' \" end\\");
  EXPECT_EQ(table.text("TORRENT_MAIN"), L"Hazırlanıyor...");
  EXPECT_EQ(table.text("CUSTOM_KEY"), L" Merhaba & <b>");

  LocaleTable broken;
  EXPECT_FALSE(broken.loadFile("<torrent_locale><string key=\"SV_NEWS\">x</torrent_locale>",
                               &error));
  EXPECT_EQ(error, L"Kapanis etiketi uyusmuyor (satir 1)");
  EXPECT_EQ(broken.text("SV_NEWS"), L"Haberler");
}

TEST(LocaleTable, WriteLocaleFileKeepsEverythingElse) {
  const std::string existing =
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- dil -->\r\n<torrent_locale>\r\n"
      "\t<string key=\"launcher_new_url\"></string>\r\n"
      "\t<string  key='SV_NEWS' >Duyurular</string>\r\n"
      "\t<string key=\"LAUNCHER_IFRAME\"/>\r\n"
      "</torrent_locale>\r\n";
  const std::string written = writeLocaleFile(
      existing, {{"LAUNCHER_NEW_URL", L"http://a/?x=1&y=<2>"},
                 {"LAUNCHER_IFRAME", L"http://a/haber"},
                 {"SV_NEWS", L"C:\\yol"}});
  EXPECT_EQ(written,
            "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- dil -->\r\n<torrent_locale>\r\n"
            "\t<string key=\"launcher_new_url\">http://a/?x=1&amp;y=&lt;2&gt;</string>\r\n"
            "\t<string  key='SV_NEWS' >C:\\\\yol</string>\r\n"
            "\t<string key=\"LAUNCHER_IFRAME\"/>\r\n"
            "\t<string key=\"LAUNCHER_IFRAME\">http://a/haber</string>\r\n"
            "</torrent_locale>\r\n");
  LocaleTable table;
  ASSERT_TRUE(table.loadFile(written));
  EXPECT_EQ(table.text("LAUNCHER_NEW_URL"), L"http://a/?x=1&y=<2>");
  EXPECT_EQ(table.text("LAUNCHER_IFRAME"), L"http://a/haber");
  EXPECT_EQ(table.text("SV_NEWS"), L"C:\\yol");
}

TEST(LocaleTable, WriteLocaleFileWithoutUsableFile) {
  const std::map<std::string, std::wstring> overrides = {{"LAUNCHER_NEW_URL", L"http://b/"},
                                                         {"LAUNCHER_IFRAME", L""}};
  const std::string fresh = writeLocaleFile("", overrides);
  EXPECT_EQ(fresh,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<torrent_locale>\r\n"
            "\t<string key=\"LAUNCHER_IFRAME\"></string>\r\n"
            "\t<string key=\"LAUNCHER_NEW_URL\">http://b/</string>\r\n"
            "</torrent_locale>\r\n");
  EXPECT_EQ(writeLocaleFile(" \r\n", overrides), fresh);
  // Another root, or one in another letter case: the missing keys go in front of its own
  // closing tag, so that no value is lost.
  EXPECT_EQ(writeLocaleFile("<dil><string key=\"launcher_new_url\">x</string></dil>", overrides),
            "<dil><string key=\"launcher_new_url\">http://b/</string>"
            "\t<string key=\"LAUNCHER_IFRAME\"></string>\r\n</dil>");
  const std::string upperRoot =
      writeLocaleFile("<Torrent_Locale>\r\n</Torrent_Locale><!-- </torrent_locale> -->", overrides);
  EXPECT_EQ(upperRoot,
            "<Torrent_Locale>\r\n\t<string key=\"LAUNCHER_IFRAME\"></string>\r\n"
            "\t<string key=\"LAUNCHER_NEW_URL\">http://b/</string>\r\n"
            "</Torrent_Locale><!-- </torrent_locale> -->");
  // An empty root element is opened up to take the lines.
  const std::string opened = writeLocaleFile("<?xml version=\"1.0\"?>\r\n<dil a='1'/>\r\n", overrides);
  EXPECT_EQ(opened,
            "<?xml version=\"1.0\"?>\r\n<dil a='1'>\r\n\t<string key=\"LAUNCHER_IFRAME\"></string>\r\n"
            "\t<string key=\"LAUNCHER_NEW_URL\">http://b/</string>\r\n</dil>\r\n");
  for (const std::string& written : {upperRoot, opened}) {
    LocaleTable table;
    ASSERT_TRUE(table.loadFile(written)) << written;
    EXPECT_EQ(table.text("LAUNCHER_NEW_URL"), L"http://b/");
  }
  // Unreadable XML with the closing tag still gets the lines in front of the last one.
  EXPECT_EQ(writeLocaleFile("<torrent_locale></torrent_locale>x</torrent_locale>", {{"A", L"1"}}),
            "<torrent_locale></torrent_locale>x\t<string key=\"A\">1</string>\r\n"
            "</torrent_locale>");
}

}  // namespace
}  // namespace sv
