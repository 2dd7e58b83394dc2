#include "skin/skin_package.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/crc32.h"
#include "skin_test_util.h"

namespace sv {
namespace {

using test::PutU16;
using test::PutU32;

// Header with any version and count, then `body`, then a correct CRC.
std::string Package(uint32_t version, uint32_t count, const std::string& body) {
  std::string out = "SVSK";
  PutU32(out, version);
  PutU32(out, count);
  out += body;
  PutU32(out, Crc32(out.data(), out.size()));
  return out;
}

std::string Entry(const std::string& name, const std::string& data) {
  std::string out;
  PutU16(out, uint16_t(name.size()));
  out += name;
  PutU32(out, uint32_t(data.size()));
  return out + data;
}

// Parses from a heap block of exactly the package's size, so that a read past it is caught by
// AddressSanitizer.
bool ParseExact(const std::string& bytes, SkinPackage& package, std::wstring& error) {
  std::unique_ptr<char[]> copy(new char[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return package.parse(copy.get(), bytes.size(), &error);
}

TEST(SkinPackage, SmallestPackageIsEmpty) {
  const std::string bytes = Package(1, 0, "");
  ASSERT_EQ(bytes.size(), 16u);
  SkinPackage package;
  package.entries.push_back({"stale", "x"});
  std::wstring error;
  EXPECT_TRUE(ParseExact(bytes, package, error));
  EXPECT_TRUE(package.entries.empty());
}

TEST(SkinPackage, CrcIsCheckedBeforeVersionAndCount) {
  const std::string good = Package(1, 1, Entry("a.png", "abc"));
  for (size_t i = 4; i + 4 < good.size(); ++i) {
    std::string bad = good;
    bad[i] = char(bad[i] ^ 0x40);
    SkinPackage package;
    std::wstring error;
    EXPECT_FALSE(ParseExact(bad, package, error)) << i;
    EXPECT_EQ(error, L"Skin paketi bozuk (CRC).") << i;
  }
  std::string badMagic = good;
  badMagic[0] = 'X';
  SkinPackage package;
  std::wstring error;
  EXPECT_FALSE(ParseExact(badMagic, package, error));
  EXPECT_EQ(error, L"Skin paketi bulunamadi ya da bozuk.");
  EXPECT_FALSE(ParseExact(good.substr(0, 15), package, error));
  EXPECT_EQ(error, L"Skin paketi bulunamadi ya da bozuk.");
  EXPECT_FALSE(package.parse(nullptr, 0, &error));
}

TEST(SkinPackage, VersionAndCountLimits) {
  SkinPackage package;
  std::wstring error;
  EXPECT_FALSE(ParseExact(Package(2, 0, ""), package, error));
  EXPECT_EQ(error, L"Skin paketi surumu desteklenmiyor.");
  EXPECT_FALSE(ParseExact(Package(1, 4097, ""), package, error));
  EXPECT_EQ(error, L"Skin paketi bozuk (adet).");

  std::string body;
  for (int i = 0; i < 4096; ++i) body += Entry("f" + std::to_string(i) + ".txt", "");
  ASSERT_TRUE(ParseExact(Package(1, 4096, body), package, error)) << error;
  EXPECT_EQ(package.entries.size(), 4096u);
  EXPECT_EQ(package.entries.back().name, "f4095.txt");
}

TEST(SkinPackage, LengthsThatRunPastTheCrcFail) {
  SkinPackage package;
  std::wstring error;
  // More entries announced than present.
  EXPECT_FALSE(ParseExact(Package(1, 2, Entry("a.png", "abc")), package, error));
  EXPECT_EQ(error, L"Skin paketi bozuk.");
  // A data length reaching one byte into the CRC, and one near 4 GiB that must not wrap.
  std::string body = Entry("a.png", "abc");
  body[2 + 5] = 4;
  EXPECT_FALSE(ParseExact(Package(1, 1, body), package, error));
  EXPECT_EQ(error, L"Skin paketi bozuk.");
  body[2 + 5] = char(0xFF), body[2 + 6] = char(0xFF), body[2 + 7] = char(0xFF),
  body[2 + 8] = char(0xFF);
  EXPECT_FALSE(ParseExact(Package(1, 1, body), package, error));
  EXPECT_EQ(error, L"Skin paketi bozuk.");
  // A name length past the end.
  std::string longName;
  PutU16(longName, 0xFFFF);
  EXPECT_FALSE(ParseExact(Package(1, 1, longName), package, error));
  EXPECT_EQ(error, L"Skin paketi bozuk.");

  // Every cut through the entries, with the CRC made right again, is refused cleanly.
  const std::string full = Entry("skin.xml", "<skin/>") + Entry("b.png", "0123456789");
  for (size_t cut = 0; cut < full.size(); ++cut) {
    EXPECT_FALSE(ParseExact(Package(1, 2, full.substr(0, cut)), package, error)) << cut;
    EXPECT_EQ(error, L"Skin paketi bozuk.") << cut;
  }
  // Bytes between the last entry and the CRC are not read.
  EXPECT_TRUE(ParseExact(Package(1, 2, full + "junk"), package, error));
}

TEST(SkinPackage, BuilderRoundTripAndLookup) {
  SkinPackageBuilder builder;
  builder.put("Skin.XML", "<skin/>");
  builder.put("b.png", std::string("\0\x01\x02", 3));
  builder.put("a.txt", "");
  builder.put("B.PNG", "second");
  EXPECT_EQ(builder.totalDataSize(), 7u + 6u);

  SkinPackage package;
  std::wstring error;
  ASSERT_TRUE(ParseExact(builder.serialize(), package, error)) << error;
  ASSERT_EQ(package.entries.size(), 3u);
  EXPECT_EQ(package.entries[0].name, "skin.xml");
  EXPECT_EQ(package.entries[1].name, "b.png");
  EXPECT_EQ(package.entries[1].data, "second");
  EXPECT_EQ(package.entries[2].name, "a.txt");
  ASSERT_NE(package.find("Skin.XML"), nullptr);
  EXPECT_EQ(*package.find("Skin.XML"), "<skin/>");
  EXPECT_EQ(package.find("skin"), nullptr);
}

TEST(SkinPackage, EntryNames) {
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\Logo.PNG"), "logo.png");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:/skin/TorrentPatch.url.xml"),
            "torrentpatch.url.xml");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"a.JPEG"), "a.jpeg");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"sarvik.ini"), "sarvik.ini");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\Thumbs.db"), "");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\.DS_Store"), "");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\.hidden.png"), "");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\readme.md"), "");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\Desktop.INI"), "");
  EXPECT_EQ(SkinPackageBuilder::entryNameFor(L"C:\\skin\\"), "");
}

TEST(SkinPackage, AddFileAndFolder) {
  const std::wstring folder = test::ScratchFolder("package-folder");
  test::WriteScratchFile(folder, L"Logo.PNG", "first");
  test::WriteScratchFile(folder, L"Thumbs.db", "x");
  test::WriteScratchFile(folder, L".DS_Store", "x");
  test::WriteScratchFile(folder, L"readme.md", "x");
  test::WriteScratchFile(folder, L"skin.xml", "<skin/>");
  createDirectories(joinPath(folder, L"sub.png"));

  SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  ASSERT_TRUE(builder.addFolder(folder, added, &error));
  EXPECT_EQ(added, 2);
  EXPECT_EQ(error, L"");
  EXPECT_EQ(builder.package.entries.size(), 2u);
  ASSERT_NE(builder.package.find("logo.png"), nullptr);

  // The same name again keeps one entry with the newer data.
  const std::wstring other = test::ScratchFolder("package-folder-2");
  const std::wstring second = test::WriteScratchFile(other, L"logo.png", "second");
  EXPECT_TRUE(builder.addFile(second, &error));
  EXPECT_EQ(builder.package.entries.size(), 2u);
  EXPECT_EQ(*builder.package.find("logo.png"), "second");

  EXPECT_FALSE(builder.addFile(joinPath(folder, L"readme.md"), &error));
  EXPECT_EQ(error, L"Desteklenmeyen dosya: readme.md");
  const std::wstring missing = joinPath(folder, L"missing.png");
  EXPECT_FALSE(builder.addFile(missing, &error));
  EXPECT_EQ(error, L"Okunamadi: " + missing);
  EXPECT_FALSE(builder.addFolder(joinPath(folder, L"no-such-folder"), added, &error));
  EXPECT_EQ(error, L"Klasor okunamadi: " + joinPath(folder, L"no-such-folder"));
}

TEST(SkinPackage, SixtyFourMegabyteLimit) {
  const std::wstring folder = test::ScratchFolder("package-limit");
  const std::wstring oneByte = test::WriteScratchFile(folder, L"one.txt", "1");
  const std::wstring other = test::WriteScratchFile(folder, L"two.txt", "2");

  SkinPackageBuilder builder;
  builder.put("big.png", std::string(size_t(kSkinPackageMaxData - 1), 'x'));
  std::wstring error;
  EXPECT_TRUE(builder.addFile(oneByte, &error)) << error;
  EXPECT_EQ(builder.totalDataSize(), 67108864u);
  EXPECT_FALSE(builder.addFile(other, &error));
  EXPECT_EQ(error, L"Skin paketi 64 MB sinirini asiyor.");
  EXPECT_EQ(builder.package.find("two.txt"), nullptr);
}

}  // namespace
}  // namespace sv
