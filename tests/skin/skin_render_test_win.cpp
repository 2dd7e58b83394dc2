// Decoding, text and the embedded package on Windows itself (under Wine in the test runs).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "common/scoped_win.h"
#include "skin/renderer.h"
#include "skin_test_util.h"
#include "tests/support/gdiplus_environment_win.h"

namespace sv {
namespace {

[[maybe_unused]] ::testing::Environment* const kGdiplus =
    ::testing::AddGlobalTestEnvironment(new test::GdiplusEnvironment);

TEST(SkinImageWin, PngKeepsAlphaAndPremultiplies) {
  SkinImage image;
  image.width = 3;
  image.height = 2;
  // Opaque red, half-transparent white, fully transparent; then a premultiplied dark blue.
  image.pixels = {0xFFFF0000, 0x80808080, 0x00000000, 0xC0000060, 0xFF00FF00, 0xFF0000FF};
  const std::wstring path = joinPath(test::ScratchFolder("png"), L"alpha.png");
  std::wstring error;
  ASSERT_TRUE(saveImagePng(image, path, &error)) << error;
  std::string bytes;
  ASSERT_TRUE(readWholeFile(path, 1 << 20, bytes));
  EXPECT_EQ(bytes.substr(1, 3), "PNG");

  SkinImage decoded;
  ASSERT_TRUE(decodeImage(bytes, decoded, &error)) << error;
  EXPECT_EQ(decoded.width, 3);
  EXPECT_EQ(decoded.height, 2);
  EXPECT_TRUE(decoded.hasAlpha);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    for (int shift = 0; shift < 32; shift += 8) {
      const int want = int((image.pixels[i] >> shift) & 0xFF);
      const int got = int((decoded.pixels[i] >> shift) & 0xFF);
      EXPECT_NEAR(got, want, 1) << i << " " << shift;
    }
  }
}

// Four PNG files of a few KiB that each claim 8192 x 8192 pixels (256 MiB decoded): the first fits
// in what a skin may decode, the others are warned about and treated as missing, so such a skin
// cannot fill a 32-bit program's address space.
TEST(SkinImageWin, HugeImagesStopAtTheSkinPixelLimit) {
  const std::wstring folder = joinPath(toWide(SV_BINARY_DIR), L"skin-samples");
  SkinPackageBuilder builder;
  builder.put("torrentpatch.url.xml", "<torrentpatch remoteConfigPath='http://127.0.0.1/c.xml'/>");
  builder.put("main.bmp", test::SolidBmp(40, 20, 0x102030));
  std::string xml = "<skin background_image='main'>";
  for (int i = 1; i <= 4; ++i) {
    const std::wstring name = L"huge" + std::to_wstring(i) + L".png";
    std::string bytes;
    ASSERT_TRUE(readWholeFile(joinPath(folder, name), 1 << 20, bytes)) << toUtf8(name);
    EXPECT_LT(bytes.size(), 65536u);
    builder.put(toUtf8(name), std::move(bytes));
    xml += "<control type='image' id='P" + std::to_string(i) + "' image='huge" +
           std::to_string(i) + "'/>";
  }
  builder.put("skin.xml", xml + "</skin>");

  SkinDefinition skin;
  std::wstring error;
  ASSERT_TRUE(skin.load(builder.package, &error)) << toUtf8(error);
  ASSERT_EQ(skin.controls.size(), 4u);
  ASSERT_NE(skin.controls[0].normal, nullptr);
  EXPECT_EQ(skin.controls[0].boxWidth, 8192);
  EXPECT_EQ(skin.controls[0].normal->pixels[size_t(64) * 8192], 0xFFFFFFFFu);
  ASSERT_EQ(skin.warnings.size(), 3u);
  for (int i = 2; i <= 4; ++i) {
    const SkinControl& c = skin.controls[size_t(i - 1)];
    EXPECT_EQ(c.normal, nullptr) << i;
    EXPECT_EQ(c.boxWidth, 0) << i;
    EXPECT_EQ(skin.warnings[size_t(i - 2)],
              L"huge" + std::to_wstring(i) +
                  L".png: Skin gorselleri toplam 80 milyon piksel sinirini asiyor.");
  }
  // Small images still decode after the limit was reached by a large one.
  EXPECT_NE(skin.image("main"), nullptr);
}

// A 400 x 40 black skin with one control; renders it and returns the frame.
class TextFrame : public ::testing::Test {
protected:
  void SetUp() override {
    background.width = 400;
    background.height = 40;
    background.pixels.assign(400 * 40, 0xFF000000);
    skin.background = &background;
    skin.width = 400;
    skin.height = 40;
  }
  SkinControl& Add(ControlKind kind, std::wstring text) {
    SkinControl c;
    c.kind = kind;
    c.x = 10;
    c.y = 5;
    c.text = std::move(text);
    skin.controls.push_back(c);
    return skin.controls.back();
  }
  void Render(const std::vector<ControlState>& states = {}) {
    frame.assign(400 * 40, 0);
    renderer.render(frame.data(), skin, states, false);
  }
  // The leftmost and rightmost columns holding anything but black; -1 when none.
  std::pair<int, int> InkColumns() const {
    int first = -1, last = -1;
    for (int x = 0; x < 400; ++x) {
      for (int y = 0; y < 40; ++y) {
        if (frame[size_t(y * 400 + x)] != 0xFF000000) {
          if (first < 0) first = x;
          last = x;
          break;
        }
      }
    }
    return {first, last};
  }

  SkinImage background;
  SkinDefinition skin;
  Renderer renderer;
  std::vector<uint32_t> frame;
};

TEST_F(TextFrame, WidthCutsWithEllipsisAndZeroDoesNot) {
  const std::wstring longText = L"Güncel dosyalar indiriliyor, lütfen biraz daha bekleyin";
  Add(ControlKind::Text, longText).width = 100;
  Render();
  auto [first, last] = InkColumns();
  EXPECT_GE(first, 10);
  EXPECT_LE(last, 110);
  EXPECT_GT(last, 95);  // the ellipsis reaches the end of the box

  skin.controls[0].width = 0;
  Render();
  EXPECT_GT(InkColumns().second, 200);  // one line, not cut
}

TEST_F(TextFrame, AlignmentShadowAndOverrides) {
  SkinControl& c = Add(ControlKind::Text, L"Sağ");
  c.width = 300;
  c.align = TextAlign::Right;
  c.color = 0xFFFFFFFF;
  c.hasShadow = true;
  c.shadowColor = 0xFFFF0000;
  Render();
  auto [first, last] = InkColumns();
  EXPECT_GT(first, 250);
  EXPECT_LE(last, 311);
  const bool redShadow = std::any_of(frame.begin(), frame.end(), [](uint32_t p) {
    return ((p >> 16) & 0xFF) > 0x80 && ((p >> 8) & 0xFF) < 0x40;
  });
  EXPECT_TRUE(redShadow);

  std::vector<ControlState> states(1);
  states[0].hasColorOverride = true;
  states[0].colorOverride = 0xFF00FF00;
  states[0].hasTextOverride = true;
  states[0].textOverride = L"";
  Render(states);
  EXPECT_EQ(InkColumns().first, -1);  // an empty override hides the skin's text
}

TEST_F(TextFrame, TextButtonIsCentredAndFontsFallBack) {
  SkinControl& c = Add(ControlKind::Button, L"Tamam");
  c.boxWidth = 200;
  c.boxHeight = 30;
  c.fontName = L"Bu Yazi Tipi Yok";
  Render();
  auto [first, last] = InkColumns();
  ASSERT_GE(first, 0);
  EXPECT_NEAR((first + last) / 2.0, 110.0, 6.0);

  void* missing = renderer.font(L"Bu Yazi Tipi Yok", 12, false);
  EXPECT_NE(missing, nullptr);
  EXPECT_EQ(renderer.font(L"bu yazi tipi yok", 12, false), missing);  // one cache key
  EXPECT_NE(renderer.font(L"", 12, true), nullptr);
  EXPECT_NE(renderer.font(L"Tahoma", 30, true), renderer.font(L"Tahoma", 30, false));
}

// Writes `package` into RT_RCDATA 900 of a copy of this test program and loads it back.
bool LoadFromCopy(const std::string& package, const std::wstring& name, std::wstring& error) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring copy = joinPath(test::ScratchFolder("embedded"), name);
  if (!CopyFileW(self, copy.c_str(), FALSE)) return false;
  HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
  if (!update) return false;
  const BOOL written = UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(kSkinResourceId),
                                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                       const_cast<char*>(package.data()), DWORD(package.size()));
  if (!EndUpdateResourceW(update, !written) || !written) return false;
  ScopedModule module(LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return false;
  SkinPackage loaded;
  const bool ok = loaded.loadEmbedded(module.get(), &error);
  return ok && loaded.find("skin.xml") && *loaded.find("skin.xml") == "<skin/>";
}

TEST(SkinPackageWin, EmbeddedPackage) {
  SkinPackage none;
  std::wstring error;
  EXPECT_FALSE(none.loadEmbedded(GetModuleHandleW(nullptr), &error));
  EXPECT_EQ(error, L"Gomulu skin yok.");

  SkinPackageBuilder builder;
  builder.put("skin.xml", "<skin/>");
  std::string package = builder.serialize();
  EXPECT_TRUE(LoadFromCopy(package, L"with-skin.exe", error)) << error;
  package[5] ^= 1;
  EXPECT_FALSE(LoadFromCopy(package, L"broken-skin.exe", error));
  EXPECT_EQ(error, L"Skin paketi bozuk (CRC).");
}

// The project's own sample skin, loaded the way the builder reads a folder.
class SampleSkin : public ::testing::Test {
protected:
  void SetUp() override {
    SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    const std::wstring folder = joinPath(toWide(SV_SOURCE_DIR), L"samples\\skin");
    ASSERT_TRUE(builder.addFolder(folder, added, &error)) << error;
    ASSERT_EQ(error, L"");
    ASSERT_TRUE(package.parse(builder.serialize(), &error)) << error;
    ASSERT_TRUE(skin.load(package, &error)) << error;
  }
  ControlState& State(std::vector<ControlState>& states, const char* id) {
    for (size_t i = 0; i < skin.controls.size(); ++i) {
      if (skin.controls[i].id == id) return states[i];
    }
    ADD_FAILURE() << "no control " << id;
    static ControlState unused;
    return unused;
  }
  void Text(std::vector<ControlState>& states, const char* id, const wchar_t* text,
            uint32_t color = 0) {
    ControlState& s = State(states, id);
    s.hasTextOverride = true;
    s.textOverride = text;
    if (color) {
      s.hasColorOverride = true;
      s.colorOverride = color;
    }
  }

  SkinPackage package;
  SkinDefinition skin;
};

TEST_F(SampleSkin, LoadsWithoutWarnings) {
  for (const std::wstring& warning : skin.warnings) ADD_FAILURE() << toUtf8(warning);
  EXPECT_EQ(skin.width, 920);
  EXPECT_EQ(skin.height, 580);
  EXPECT_TRUE(skin.transparent);
  EXPECT_EQ(skin.settings.title, L"Draskel Online");
  EXPECT_EQ(skin.localeFileName, "torrentpatch.locale.xml");
  for (const char* id : {"TEXT_MAIN", "TEXT_SUB", "TEXT_PERCENT", "TEXT_DNSPEED", "TEXT_TOTAL",
                         "TEXT_ETA", "TEXT_VERSION", "FEED_STATUS", "FEED_ONLINE",
                         "FEED_BANNER_TITLE", "FEED_1_TITLE", "FEED_2_TITLE", "FEED_3_TITLE"})
    EXPECT_EQ(skin.findControl(id) ? int(skin.findControl(id)->kind) : -1, int(ControlKind::Text))
        << id;
  for (const char* id : {"START", "EXIT", "MINIMIZE", "OPTION", "WEBSITE", "URL_NEW",
                         "NEWS_BANNER", "NEWS_1", "NEWS_2", "NEWS_3"}) {
    const SkinControl* c = skin.findControl(id);
    ASSERT_NE(c, nullptr) << id;
    EXPECT_EQ(c->kind, ControlKind::Button) << id;
    EXPECT_NE(c->normal, nullptr) << id;
  }
  for (const char* id : {"FEED_DOT_ON", "FEED_DOT_BUSY", "FEED_DOT_OFF"})
    EXPECT_EQ(skin.findControl(id)->kind, ControlKind::Picture) << id;
  EXPECT_TRUE(skin.findControl("START")->hasDisabledImage);
  EXPECT_EQ(skin.findControl("URL_NEW")->link, L"https://draskel.example.com/kayit");
  EXPECT_EQ(skin.findControl("WEB")->kind, ControlKind::Frame);
  EXPECT_EQ(skin.findControl("WEB")->link, L"http://127.0.0.1:8080/launcher/haberler.html");
  EXPECT_EQ(skin.findControl("PROGRESS_SUB")->kind, ControlKind::Gauge);
  EXPECT_NE(skin.findControl("PROGRESS")->empty, nullptr);
}

TEST_F(SampleSkin, RendersADownload) {
  std::vector<ControlState> states(skin.controls.size());
  Text(states, "TEXT_MAIN", L"İndiriliyor...  %45");
  Text(states, "TEXT_PERCENT", L"%45");
  Text(states, "TEXT_SUB", L"data\\maps\\kuzey_vadisi.pak");
  Text(states, "TEXT_DNSPEED", L"İndirme Hızı: 4,2 MB/sn");
  Text(states, "TEXT_TOTAL", L"312,5 MB / 694,4 MB");
  Text(states, "TEXT_ETA", L"Kalan: 1 dk 31 sn");
  Text(states, "TEXT_VERSION", L"v1.0.0");
  State(states, "PROGRESS").progress = 0.45f;
  State(states, "PROGRESS_SUB").progress = 0.72f;
  State(states, "START").enabled = false;
  State(states, "REPAIR").enabled = false;  // as the window has it while a run goes on
  State(states, "FEED_DOT_BUSY").visible = false;
  State(states, "FEED_DOT_OFF").visible = false;
  Text(states, "FEED_STATUS", L"Sunucu Çevrimiçi");
  Text(states, "FEED_ONLINE", L"1.234 oyuncu");
  Text(states, "FEED_BANNER_TAG", L"ETKİNLİK");
  Text(states, "FEED_BANNER_TITLE", L"Kuzey Vadisi kuşatması bu hafta sonu!");
  Text(states, "FEED_BANNER_DATE", L"12 Aralık 2026, 20:00");
  Text(states, "FEED_1_TAG", L"GÜNCELLEME", 0xFFE8B460);
  Text(states, "FEED_1_DATE", L"10.12.2026");
  Text(states, "FEED_1_TITLE", L"Yeni zindan: Kül Mahzeni");
  Text(states, "FEED_2_TAG", L"DUYURU", 0xFFD4C08A);
  Text(states, "FEED_2_DATE", L"08.12.2026");
  Text(states, "FEED_2_TITLE", L"Bakım çalışması tamamlandı");
  Text(states, "FEED_3_TAG", L"ETKİNLİK", 0xFFF08A5A);
  Text(states, "FEED_3_DATE", L"05.12.2026");
  Text(states, "FEED_3_TITLE", L"Çifte tecrübe hafta sonu başlıyor");
  State(states, "NEWS_1").hovered = true;

  Renderer renderer;
  SkinImage frame;
  frame.width = skin.width;
  frame.height = skin.height;
  frame.pixels.assign(size_t(skin.width) * size_t(skin.height), 0);
  renderer.render(frame.pixels.data(), skin, states, true);

  const std::wstring artifacts = joinPath(toWide(SV_BINARY_DIR), L"artifacts");
  ASSERT_TRUE(createDirectories(artifacts));
  std::wstring error;
  ASSERT_TRUE(saveImagePng(frame, joinPath(artifacts, L"sample-skin.png"), &error)) << error;

  auto at = [&](int x, int y) { return frame.pixels[size_t(y) * size_t(skin.width) + size_t(x)]; };
  EXPECT_EQ(at(0, 0) >> 24, 0u);          // outside the rounded corner: transparent
  EXPECT_EQ(at(460, 290) >> 24, 0xFFu);   // inside the window: opaque
  // The overall gauge shows 270 of its 600 columns.
  const SkinControl& gauge = *skin.findControl("PROGRESS");
  const uint32_t filled = at(gauge.x + 265, gauge.y + 5), track = at(gauge.x + 275, gauge.y + 5);
  EXPECT_GT((filled >> 16) & 0xFF, 0xC0u);
  EXPECT_LT((track >> 16) & 0xFF, 0x40u);
  // The status line has ink where the background has none.
  std::vector<uint32_t> imagesOnly(frame.pixels.size());
  composeImages(imagesOnly.data(), skin, states, true);
  const SkinControl& main = *skin.findControl("TEXT_MAIN");
  int changed = 0;
  for (int y = main.y; y < main.y + 16; ++y)
    for (int x = main.x; x < main.x + 150; ++x)
      changed += at(x, y) != imagesOnly[size_t(y) * size_t(skin.width) + size_t(x)];
  EXPECT_GT(changed, 100);
}

}  // namespace
}  // namespace sv
