// The remote configuration document and the local notice file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/log.h"
#include "patcher/engine/remote_config.h"

namespace sv {
namespace {

const wchar_t kNoUrlText[] = L"Sunucu yapılandırmasında indirme adresi (crcpatch_url) yok.";
const wchar_t kConfigUrl[] = L"http://cdn.example.com/game/draskeltorrent.config.xml?t=77";

// A fresh folder per test below the working folder.
class RemoteConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::path("scratch") / (std::string("remote_config_") + info->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    folder = root_.wstring();
  }
  void TearDown() override {
    CloseLog();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  bool Parse(const std::string& doc, std::wstring_view configUrl = kConfigUrl) {
    error.clear();
    return ParseRemoteConfig(doc, configUrl, kNoUrlText, config, error);
  }
  std::string ReadFile(const std::wstring& name) const {
    std::ifstream in(root_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const std::wstring& name, const std::string& bytes) const {
    std::ofstream(root_ / name, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::wstring StartLog() {
    OpenLog((root_ / "test.log").wstring());
    return L"test.log";
  }

  std::filesystem::path root_;
  std::wstring folder;
  RemoteConfig config;
  std::wstring error;
};

TEST_F(RemoteConfigTest, TypicalDocumentFillsEveryField) {
  const std::wstring log = StartLog();
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<torrent_config run_path=' bin\\game.exe ' notice_ver='3' "
      "notice_url='http://cdn.example.com/duyuru.html' notice_width='800' notice_height='600' "
      "SV_PATCHER_URL='http://cdn.example.com/Sarvik.exe' sv_patcher_crc32=' 0x1A2b3C4d ' "
      "sv_connections='+6' sv_max_kbps=' 2048 ' unknown='x'>\r\n"
      "  <!-- main server -->\r\n"
      "  <foreground_patch crcpatch_url='http://cdn.example.com/patch' crcversion='v12'/>\r\n"
      "  <other crcpatch_url='http://ignored/'/>\r\n"
      "  <Foreground_Patch crcpatch_url=' http://mirror.example.com/patch/ ' crcversion=''/>\r\n"
      "</torrent_config>\r\n";
  ASSERT_TRUE(Parse(doc)) << error;
  EXPECT_TRUE(config.loaded);
  EXPECT_EQ(config.runPath, L"bin\\game.exe");
  EXPECT_EQ(config.noticeVersion, 3);
  EXPECT_EQ(config.noticeUrl, L"http://cdn.example.com/duyuru.html");
  EXPECT_EQ(config.noticeWidth, 800);
  EXPECT_EQ(config.noticeHeight, 600);
  EXPECT_EQ(config.patcherUrl, L"http://cdn.example.com/Sarvik.exe");
  EXPECT_TRUE(config.patcherCrcValid);
  EXPECT_EQ(config.patcherCrc, 0x1A2B3C4Du);
  EXPECT_EQ(config.connections, 6);
  EXPECT_EQ(config.maxKbps, 2048);
  EXPECT_EQ(config.primaryPatchUrl, L"http://cdn.example.com/patch");
  EXPECT_EQ(config.primaryPatchVersion, L"v12");
  ASSERT_EQ(config.sources.size(), 2u);
  EXPECT_EQ(config.sources[0], L"http://cdn.example.com/patch/v12/");
  EXPECT_EQ(config.sources[1], L"http://mirror.example.com/patch/");
  CloseLog();
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find("Config: 2 kaynak, run_path=bin\\game.exe notice_ver=3\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  kaynak 1: http://cdn.example.com/patch/v12/\r\n"), std::string::npos);
  EXPECT_NE(text.find("  kaynak 2: http://mirror.example.com/patch/\r\n"), std::string::npos);
}

TEST_F(RemoteConfigTest, SourcesFollowTheSlashVersionAndDuplicateRules) {
  const std::wstring log = StartLog();
  ASSERT_TRUE(Parse(
      "<torrent_config>"
      "<note/>"
      "<foreground_patch crcpatch_url='   ' crcversion='v1'/>"
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v1'/>"
      "<foreground_patch crcpatch_url='http://a.example/f/' crcversion='v1'/>"
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v2'/>"
      "<foreground_patch crcpatch_url='http://a.example/f'/>"
      "<foreground_patch crcpatch_url='http://a.example/f/' crcversion=''/>"
      "<foreground_patch crcpatch_url='http://a.example/g' crcversion='/v3/'/>"
      "<foreground_patch crcpatch_url='HTTP://A.example/f' crcversion='v1'/>"
      "</torrent_config>"))
      << error;
  EXPECT_EQ(config.primaryPatchUrl, L"http://a.example/f");
  EXPECT_EQ(config.primaryPatchVersion, L"v1");
  const std::vector<std::wstring> expected = {
      L"http://a.example/f/v1/", L"http://a.example/f/v2/", L"http://a.example/f/",
      L"http://a.example/g/v3/", L"HTTP://A.example/f/v1/"};
  EXPECT_EQ(config.sources, expected);
  CloseLog();
  // The running index counts every child element, whatever its name.
  EXPECT_NE(ReadFile(log).find("foreground_patch (2): crcpatch_url bos, atlandi"),
            std::string::npos);
}

// Only a named version folder can be left to caches: the configuration's own folder changes.
TEST_F(RemoteConfigTest, ImmutableMarkCountsOnlyOnAVersionFolder) {
  ASSERT_TRUE(Parse(
      "<torrent_config>"
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v1' "
      "sv_version_immutable='1'/>"
      "<foreground_patch crcpatch_url='http://b.example/f' sv_version_immutable='1'/>"
      "<foreground_patch crcpatch_url='http://c.example/f' crcversion='v1' "
      "sv_version_immutable='0'/>"
      "<foreground_patch crcpatch_url='http://d.example/f' crcversion='v1'/>"
      "</torrent_config>"))
      << error;
  EXPECT_EQ(config.sources.size(), 4u);
  EXPECT_EQ(config.immutableSources, std::vector<std::wstring>{L"http://a.example/f/v1/"});
}

// The next release is announced by its configuration's address and a UTC time; anything else
// in its place leaves the current release as it is, with no announcement.
TEST_F(RemoteConfigTest, NextReleaseNeedsAnAddressAndAnExactUtcTime) {
  const std::string source =
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v1'/>";
  ASSERT_TRUE(Parse("<torrent_config>" + source +
                    "<SV_NEXT config_url=' http://a.example/f/v2/draskeltorrent.config.xml ' "
                    "at='2026-12-24T18:00:00Z'/><sv_next config_url='http://b.example/x.xml' "
                    "at='2027-01-01T00:00:00Z'/></torrent_config>"))
      << error;
  ASSERT_TRUE(config.next.has_value());
  EXPECT_EQ(config.next->configUrl, L"http://a.example/f/v2/draskeltorrent.config.xml");
  EXPECT_EQ(config.next->at, 1798135200);
  const std::string bad[] = {
      "<sv_next config_url='ftp://a.example/c.xml' at='2026-12-24T18:00:00Z'/>",
      "<sv_next config_url='' at='2026-12-24T18:00:00Z'/>",
      "<sv_next config_url='http://a.example/c.xml' at='2026-12-24 18:00:00'/>",
      "<sv_next config_url='http://a.example/c.xml' at='2026-13-24T18:00:00Z'/>",
      "<sv_next config_url='http://a.example/c.xml'/>",
  };
  for (const std::string& next : bad) {
    ASSERT_TRUE(Parse("<torrent_config>" + source + next + "</torrent_config>")) << next;
    EXPECT_FALSE(config.next.has_value()) << next;
    EXPECT_EQ(config.sources.size(), 1u);
  }
}

TEST_F(RemoteConfigTest, MirrorsTakeTheSourcesVersionAndAreNoSources) {
  ASSERT_TRUE(Parse(
      "<torrent_config>"
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v1'>"
      "<sv_mirror url='http://m1.example/f/'/><sv_mirror url=''/>"
      "<sv_mirror url='http://a.example/f'/><sv_mirror url='http://m1.example/f'/>"
      "</foreground_patch>"
      "<foreground_patch crcpatch_url='http://b.example/'/>"
      "<foreground_patch crcpatch_url='http://a.example/f' crcversion='v1'>"
      "<SV_MIRROR url='http://m2.example/g'/></foreground_patch>"
      "</torrent_config>"))
      << error;
  EXPECT_EQ(config.sources,
            (std::vector<std::wstring>{L"http://a.example/f/v1/", L"http://b.example/"}));
  ASSERT_EQ(config.mirrors.size(), 1u);
  EXPECT_EQ(config.mirrors[L"http://a.example/f/v1/"],
            (std::vector<std::wstring>{L"http://m1.example/f/v1/", L"http://m2.example/g/v1/"}));
}

TEST_F(RemoteConfigTest, WithoutForegroundPatchTheConfigFolderIsTheSource) {
  const std::wstring log = StartLog();
  ASSERT_TRUE(Parse("<torrent_config run_path='game.exe'/>")) << error;
  EXPECT_EQ(config.primaryPatchUrl, L"http://cdn.example.com/game/");
  EXPECT_EQ(config.primaryPatchVersion, L"");
  EXPECT_EQ(config.sources, std::vector<std::wstring>{L"http://cdn.example.com/game/"});

  // Slashes inside the query do not count.
  ASSERT_TRUE(Parse("<torrent_config/>", L"https://h.example/c.xml?x=/a/b/")) << error;
  EXPECT_EQ(config.sources, std::vector<std::wstring>{L"https://h.example/"});

  // A URL whose only slashes are the scheme's (or that of a one-letter host) names no folder.
  RemoteConfig before = config;
  EXPECT_FALSE(Parse("<torrent_config/>", L"http://cdn.example.com"));
  EXPECT_EQ(error, kNoUrlText);
  EXPECT_FALSE(Parse("<torrent_config/>", L"http://a/x.xml"));
  EXPECT_FALSE(Parse("<torrent_config><foreground_patch crcpatch_url=''/></torrent_config>", L""));
  EXPECT_EQ(error, kNoUrlText);
  EXPECT_EQ(config.sources, before.sources);  // a failed parse leaves the record alone
  CloseLog();
  const std::string text = ReadFile(log);
  EXPECT_NE(
      text.find("foreground_patch yok; config klasoru kullaniliyor: http://cdn.example.com/game/"),
      std::string::npos);
  EXPECT_NE(text.find("foreground_patch yok; config klasoru kullaniliyor: \r\n"),
            std::string::npos);
}

TEST_F(RemoteConfigTest, NoticeSizesAreClamped) {
  const auto size = [&](const char* w, const char* h) {
    EXPECT_TRUE(Parse(std::string("<torrent_config notice_width='") + w + "' notice_height='" + h +
                      "'><foreground_patch crcpatch_url='http://a.example/'/></torrent_config>"));
    return std::make_pair(config.noticeWidth, config.noticeHeight);
  };
  EXPECT_EQ(size("100", "3001"), std::make_pair(680, 500));
  EXPECT_EQ(size("200", "150"), std::make_pair(200, 150));
  EXPECT_EQ(size("4000", "3000"), std::make_pair(4000, 3000));
  EXPECT_EQ(size("4001", "149"), std::make_pair(680, 500));
  EXPECT_EQ(size("wide", "2147483648"), std::make_pair(680, 500));
  EXPECT_EQ(size(" 1024 ", "-500"), std::make_pair(1024, 500));
}

TEST_F(RemoteConfigTest, PatcherCrcMustBeOneToEightHexDigits) {
  const auto crc = [&](const char* value) {
    EXPECT_TRUE(Parse(std::string("<torrent_config sv_patcher_crc32='") + value +
                      "'><foreground_patch crcpatch_url='http://a.example/'/></torrent_config>"));
    return config.patcherCrcValid ? int64_t(config.patcherCrc) : -1;
  };
  EXPECT_EQ(crc("0x"), -1);
  EXPECT_EQ(crc("123456789"), -1);
  EXPECT_EQ(crc("0x123456789"), -1);
  EXPECT_EQ(crc("12 34"), -1);
  EXPECT_EQ(crc(""), -1);
  EXPECT_EQ(crc("0XaBcD"), 0xABCD);
  EXPECT_EQ(crc(" deadBEEF\t"), 0xDEADBEEF);
  EXPECT_EQ(crc("0"), 0);
  ASSERT_TRUE(Parse("<torrent_config><foreground_patch crcpatch_url='http://a.example/'/>"
                    "</torrent_config>"));
  EXPECT_FALSE(config.patcherCrcValid);
  EXPECT_EQ(config.connections, 0);
  EXPECT_EQ(config.maxKbps, 0);
  EXPECT_EQ(config.noticeVersion, 0);
}

TEST_F(RemoteConfigTest, FailuresNameTheirCause) {
  config.runPath = L"kept";
  EXPECT_FALSE(Parse("<!DOCTYPE html>\n<html><body>404 Not Found</body></html>"));
  EXPECT_EQ(error, L"Sunucu XML yerine HTML sayfası döndürdü (dosya yolu yanlış olabilir).");
  EXPECT_FALSE(Parse("<!doctype html><p>x</p>"));
  EXPECT_EQ(error, L"Sunucu XML yerine HTML sayfası döndürdü (dosya yolu yanlış olabilir).");
  EXPECT_FALSE(Parse("<config><foreground_patch crcpatch_url='http://a/'/></config>"));
  EXPECT_EQ(error, L"draskeltorrent.config.xml beklenen biçimde değil.");
  EXPECT_FALSE(Parse(""));
  EXPECT_EQ(error, L"draskeltorrent.config.xml beklenen biçimde değil.");
  // An HTML page that happens to quote the root name is parsed as XML and fails as XML.
  EXPECT_FALSE(Parse("<torrent_config>\n<foreground_patch crcpatch_url='x'>\n</torrent_config>"));
  EXPECT_EQ(error, L"XML hatası: Kapanis etiketi uyusmuyor (satir 3)");
  EXPECT_FALSE(Parse("<torrent_config notice_ver=3/>"));
  EXPECT_EQ(error.rfind(L"XML hatası: Ozellik degeri tirnaksiz", 0), 0u) << error;
  EXPECT_EQ(config.runPath, L"kept");
  EXPECT_FALSE(config.loaded);
}

TEST_F(RemoteConfigTest, OtherEncodingsAreDecodedFirst) {
  // UTF-16LE with a byte-order mark, holding a Turkish run path.
  const std::wstring wide = L"<torrent_config run_path='oyun\u0131.exe'>"
                            L"<foreground_patch crcpatch_url='http://a.example/'/>"
                            L"</torrent_config>";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : wide) {
    bytes.push_back(char(c & 0xFF));
    bytes.push_back(char((c >> 8) & 0xFF));
  }
  ASSERT_TRUE(Parse(bytes)) << error;
  EXPECT_EQ(config.runPath, L"oyun\u0131.exe");
}

TEST_F(RemoteConfigTest, NoticeFileRoundTripAndPathCheck) {
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), 0);  // missing
  SaveNoticeVersion(folder, L"notice.xml", 7);
  EXPECT_EQ(ReadFile(L"notice.xml"), "<torrent_config notice_ver='7'/>");
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), 7);
  SaveNoticeVersion(folder, L"notice.xml", -2);
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), -2);

  // Names that would leave the game folder, and the empty name, use the default file.
  EXPECT_EQ(LocalNoticePath(folder, L"..\\outside.xml"),
            joinPath(folder, L"draskeltorrent.config.xml"));
  EXPECT_EQ(LocalNoticePath(folder, L"C:\\x.xml"), joinPath(folder, L"draskeltorrent.config.xml"));
  EXPECT_EQ(LocalNoticePath(folder, L""), joinPath(folder, L"draskeltorrent.config.xml"));
  EXPECT_EQ(LocalNoticePath(folder, L"sub//n.xml"), joinPath(folder, L"sub\\n.xml"));
  SaveNoticeVersion(folder, L"../outside.xml", 9);
  EXPECT_EQ(ReadFile(L"draskeltorrent.config.xml"), "<torrent_config notice_ver='9'/>");
  EXPECT_FALSE(std::filesystem::exists(root_.parent_path() / "outside.xml"));
  EXPECT_EQ(LocalNoticeVersion(folder, L""), 9);

  // A damaged or oversized file counts as no notice accepted.
  WriteFile(L"notice.xml", "<torrent_config notice_ver='5'");
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), 0);
  WriteFile(L"notice.xml", "<x notice_ver='4'/>" + std::string(1048576, ' '));
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), 0);
  WriteFile(L"notice.xml", "\xEF\xBB\xBF<torrent_config notice_ver=' 12 '/>");
  EXPECT_EQ(LocalNoticeVersion(folder, L"notice.xml"), 12);
}

}  // namespace
}  // namespace sv
