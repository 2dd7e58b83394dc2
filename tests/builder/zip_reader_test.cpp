// Zips made by Info-ZIP's zip and Python's zipfile import the sample skin; every refusal of the
// reader is reached by a crafted zip; truncated zips never make it read outside its input.
#include <gtest/gtest.h>

#include "builder/zip_reader.h"
#include "builder_test_util.h"
#include "common/folder_list.h"

namespace sv {
namespace {

using test::MakeZip;
using test::StoredItem;
using test::ZipItem;

// The sample skin as the folder reader sees it.
const SkinPackage& SampleEntries() {
  static SkinPackageBuilder builder = [] {
    SkinPackageBuilder b;
    int added = 0;
    b.addFolder(test::SampleSkin(), added);
    return b;
  }();
  return builder.package;
}

void ExpectSampleSkin(const SkinPackage& package, size_t extra = 0) {
  const SkinPackage& sample = SampleEntries();
  ASSERT_GT(sample.entries.size(), 30u);
  ASSERT_EQ(package.entries.size(), sample.entries.size() + extra);
  for (const SkinPackageEntry& entry : sample.entries) {
    const std::string* data = package.find(entry.name);
    ASSERT_TRUE(data) << entry.name;
    EXPECT_TRUE(*data == entry.data) << entry.name;
  }
}

TEST(ZipReader, ZipsOfOtherToolsImportTheSampleSkin) {
  const char* names[] = {"infozip_stored", "infozip_l1", "infozip_l2", "infozip_l3", "infozip_l4",
                         "infozip_l5", "infozip_l6", "infozip_l7", "infozip_l8", "infozip_l9",
                         "infozip_comment", "infozip_folder", "infozip_macosx",
                         "python_stored", "python_deflated"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    ASSERT_TRUE(ReadZipEntries(joinPath(test::ZipSamples(), toWide(name) + L".zip"), builder, added,
                               &error))
        << toUtf8(error);
    EXPECT_EQ(size_t(added), builder.package.entries.size());
    ExpectSampleSkin(builder.package);
  }
}

TEST(ZipReader, NamesWithAndWithoutTheUtf8Flag) {
  SkinPackageBuilder utf8;
  int added = 0;
  ASSERT_TRUE(ReadZipEntries(joinPath(test::ZipSamples(), L"python_utf8.zip"), utf8, added));
  ExpectSampleSkin(utf8.package, 1);
  const std::string* named = utf8.package.find(toUtf8(L"g\u00f6rsel_\u015fi.png"));
  ASSERT_TRUE(named);
  EXPECT_EQ(*named, "utf8-named");

  SkinPackageBuilder dos;
  ASSERT_TRUE(ReadZipEntries(joinPath(test::ZipSamples(), L"python_cp437.zip"), dos, added));
  ExpectSampleSkin(dos.package, 1);
  const std::string* dosNamed = dos.package.find(toUtf8(L"dos_\u00fcname.png"));
  ASSERT_TRUE(dosNamed);
  EXPECT_EQ(*dosNamed, "cp437-named");
}

std::wstring ErrorOf(const std::string& zip) {
  SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  EXPECT_FALSE(ReadZipBytes(zip, builder, added, &error));
  return error;
}

TEST(ZipReader, EndRecordBehindTheLongestCommentOnly) {
  const std::string comment(65535, 'c');
  SkinPackageBuilder builder;
  int added = 0;
  EXPECT_TRUE(ReadZipBytes(MakeZip({StoredItem("a.png", "x")}, comment).bytes, builder, added));
  EXPECT_EQ(added, 1);
  // One byte more behind the record (a comment longer than the format allows) hides it.
  std::string further = MakeZip({StoredItem("a.png", "x")}, comment).bytes + "c";
  EXPECT_EQ(ErrorOf(further), L"Gecersiz zip dosyasi (dizin sonu yok).");
}

TEST(ZipReader, EveryRefusal) {
  EXPECT_EQ(ErrorOf(std::string(21, '\0')), L"Gecersiz zip dosyasi.");
  EXPECT_EQ(ErrorOf(std::string(100, '\0')), L"Gecersiz zip dosyasi (dizin sonu yok).");
  {
    SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    EXPECT_FALSE(ReadZipEntries(L"no-such.zip", builder, added, &error));
    EXPECT_EQ(error, L"Zip okunamadi: no-such.zip");
  }
  const test::ZipImage good = MakeZip({StoredItem("a.png", "hello")});
  {
    std::string zip = good.bytes;
    test::SetU16(zip, good.endRecord + 10, 0xFFFF);
    EXPECT_EQ(ErrorOf(zip), L"Zip64 desteklenmiyor.");
    zip = good.bytes;
    test::SetU32(zip, good.endRecord + 16, 0xFFFFFFFF);
    EXPECT_EQ(ErrorOf(zip), L"Zip64 desteklenmiyor.");
  }
  {
    std::string zip = good.bytes;
    test::SetU32(zip, good.endRecord + 12, 0xFFFFFFF0);  // offset + size wraps on 32 bits
    EXPECT_EQ(ErrorOf(zip), L"Zip dizini bozuk.");
    zip = good.bytes;
    zip[good.dirRecords[0]] = 'X';
    EXPECT_EQ(ErrorOf(zip), L"Zip dizini bozuk.");
    zip = good.bytes;
    test::SetU16(zip, good.dirRecords[0] + 28, 60000);  // name past the end
    EXPECT_EQ(ErrorOf(zip), L"Zip dizini bozuk.");
    zip = good.bytes;
    test::SetU16(zip, good.endRecord + 10, 2);  // a second record that is not there
    EXPECT_EQ(ErrorOf(zip), L"Zip dizini bozuk.");
  }
  {
    ZipItem item = StoredItem("a.png", "hello");
    item.flags = 1;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"Sifreli zip desteklenmiyor.");
    item = StoredItem("dir/big.png", "");
    item.plainSize = 33554433;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"Zip icinde cok buyuk dosya: dir/big.png");
  }
  {
    std::string zip = good.bytes;
    zip[0] = 'X';
    EXPECT_EQ(ErrorOf(zip), L"Zip yerel basligi bozuk.");
    zip = good.bytes;
    test::SetU32(zip, good.dirRecords[0] + 42, uint32_t(zip.size() - 10));
    EXPECT_EQ(ErrorOf(zip), L"Zip yerel basligi bozuk.");
    zip = good.bytes;
    test::SetU16(zip, 28, 0xFFFF);  // local extra field past the end
    EXPECT_EQ(ErrorOf(zip), L"Zip verisi bozuk.");
    ZipItem item = StoredItem("a.png", "hello");
    item.plainSize = 4;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"Zip verisi bozuk.");
  }
  {
    ZipItem item = StoredItem("a.png", std::string("\x07", 1));
    item.method = 8;
    item.plainSize = 1;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"a.png: Gecersiz deflate blok turu.");
    item.method = 12;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"Desteklenmeyen zip sikistirma yontemi: a.png");
    item = StoredItem("a.png", "hello");
    item.crc ^= 1;
    EXPECT_EQ(ErrorOf(MakeZip({item}).bytes), L"Zip CRC hatasi: a.png");
  }
}

TEST(ZipReader, SkipsFoldersMacFilesAndUntakenNamesAndKeepsEntriesBeforeAnError) {
  ZipItem bad = StoredItem("z.png", "zz");
  bad.crc ^= 1;
  const std::string zip = MakeZip({StoredItem("skin/", ""), StoredItem("__MACOSX/skin/._a.png", "junk"),
                                   StoredItem("skin/A.PNG", "a"), StoredItem("skin/run.exe", "MZ"),
                                   StoredItem("skin\\thumbs.db", "t"), bad})
                              .bytes;
  SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  EXPECT_FALSE(ReadZipBytes(zip, builder, added, &error));
  EXPECT_EQ(error, L"Zip CRC hatasi: z.png");
  ASSERT_EQ(builder.package.entries.size(), 1u);
  EXPECT_EQ(builder.package.entries[0].name, "a.png");
  EXPECT_EQ(builder.package.entries[0].data, "a");
}

TEST(ZipReader, EmptyZipSucceedsWithNothing) {
  SkinPackageBuilder builder;
  int added = 5;
  EXPECT_TRUE(ReadZipBytes(MakeZip({}).bytes, builder, added));
  EXPECT_EQ(added, 0);
}

// Every prefix of a real zip (Info-ZIP, deflated), each in a buffer of exactly its size.
TEST(ZipReader, EveryTruncationFailsCleanly) {
  const std::string zip = test::ReadFile(joinPath(test::ZipSamples(), L"infozip_l9.zip"));
  ASSERT_GT(zip.size(), 1000u);
  // The directory and the end record, and the first entries' headers and data.
  std::vector<size_t> lengths;
  for (size_t n = 0; n < 3000; ++n) lengths.push_back(n);
  for (size_t n = zip.size() > 6000 ? zip.size() - 6000 : 0; n < zip.size(); ++n) lengths.push_back(n);
  for (size_t n : lengths) {
    const std::string prefix = zip.substr(0, n);
    SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    EXPECT_FALSE(ReadZipBytes(prefix, builder, added, &error)) << n;
    EXPECT_FALSE(error.empty());
  }
  // Cut inside one small entry's data while the directory stays whole.
  test::ZipImage image = MakeZip({StoredItem("a.png", "0123456789")});
  for (uint32_t cut = 0; cut < 10; ++cut) {
    std::string zip2 = image.bytes;
    zip2.erase(30 + 5 + cut, 10 - cut);
    // Directory offsets now point behind the data: every case must end in a message.
    SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    EXPECT_FALSE(ReadZipBytes(zip2, builder, added, &error)) << cut;
  }
}

}  // namespace
}  // namespace sv
