// Zips made by Info-ZIP's zip and Python's zipfile import the sample skin; every refusal of the
// reader is reached by a crafted zip; truncated zips never make it read outside its input; hostile
// zips cost a bounded amount of work.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "builder/zip_reader.h"
#include "builder_test_util.h"
#include "common/folder_list.h"
#include "tests/support/hostile_zips.h"

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

std::wstring ReadHostile(const std::string& zip, int* addedOut = nullptr) {
  SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  const bool ok = ReadZipBytes(zip, builder, added, &error);
  if (addedOut) *addedOut = added;
  return ok ? L"<ok>" : error;
}

// Records sharing one stream are refused before anything is inflated, whether named alike (each
// would replace the last, so the package limit never trips) or not.
TEST(ZipReader, RecordsSharingOneStreamAreRefusedBeforeDecoding) {
  namespace h = test::hostile;
  EXPECT_EQ(ReadHostile(h::SharedStream(65534, 32u << 20, true)), L"Zip kayitlari ayni veriyi paylasiyor: a.png");
  EXPECT_EQ(ReadHostile(h::SharedStream(3000, 32u << 20, false)), L"Zip kayitlari ayni veriyi paylasiyor: f1.png");
  // One record over the stream is an ordinary entry.
  int added = 0;
  EXPECT_EQ(ReadHostile(h::SharedStream(1, 1u << 20, true), &added), L"<ok>");
  EXPECT_EQ(added, 1);
}

// More records than a skin may hold are refused at the limit, without a look-up per record.
TEST(ZipReader, RecordsPastTheSkinEntryLimitAreRefused) {
  namespace h = test::hostile;
  EXPECT_EQ(ReadHostile(h::ManyEmpty(65534)), L"Zip icinde cok fazla dosya var (skin en cok 4096 dosya alir).");
  int added = 0;
  EXPECT_EQ(ReadHostile(h::ManyEmpty(kSkinPackageMaxEntries), &added), L"<ok>");
  EXPECT_EQ(added, int(kSkinPackageMaxEntries));
}

// Every decoded byte counts against the package's 64 MiB: sizes the directory declares are
// summed before decoding, and streams that declare nothing stop where the limit is reached.
TEST(ZipReader, DecodedBytesAreBoundedByThePackageLimit) {
  namespace h = test::hostile;
  EXPECT_EQ(ReadHostile(h::DeclaredHuge(3, 32u << 20)), L"Skin paketi 64 MB sinirini asiyor.");
  const std::wstring error = ReadHostile(h::UndeclaredSize(3, 32u << 20));
  EXPECT_EQ(error.rfind(L"f2.png: Deflate", 0), 0u) << toUtf8(error);
  int added = 0;
  EXPECT_EQ(ReadHostile(h::UndeclaredSize(2, 1u << 20), &added), L"<ok>");
  EXPECT_EQ(added, 2);
}

uint16_t Get16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
uint32_t Get32(std::string_view b, size_t at) { return Get16(b, at) | uint32_t(Get16(b, at + 2)) << 16; }

// The reader run on `bytes` placed at the very end of a heap block of their own size, so that
// AddressSanitizer reports a read one byte past them.
std::wstring ReadAtEndOfAllocation(std::string_view bytes) {
  std::unique_ptr<char[]> block(new char[bytes.size() ? bytes.size() : 1]);
  std::copy(bytes.begin(), bytes.end(), block.get());
  SkinPackageBuilder builder;
  int added = 0;
  std::wstring error;
  const bool ok = ReadZipBytes(std::string_view(block.get(), bytes.size()), builder, added, &error);
  return ok ? L"<ok>" : error;
}

// Truncation at every stage of the reader. A plain prefix loses the end record and stops at the
// first check, so the parts of a real zip (Info-ZIP, deflated) are laid out with the part under
// test last, behind the end record, which the reader finds within a comment's reach of the end:
// the central directory cut at every byte (the end record's directory size following the cut),
// then one entry's local header, name and data cut at every byte (its directory record claiming
// just the bytes that are left, so that the decoder and the CRC check see the cut too). Every
// input ends exactly at the end of its allocation, and every one fails with a message.
TEST(ZipReader, EveryTruncationAtEveryStageFailsCleanly) {
  const std::string zip = test::ReadFile(joinPath(test::ZipSamples(), L"infozip_l9.zip"));
  ASSERT_GT(zip.size(), 1000u);
  size_t end = zip.size() - 22;
  while (Get32(zip, end) != 0x06054B50) --end;
  const uint16_t count = Get16(zip, end + 10);
  const uint32_t dirSize = Get32(zip, end + 12), dirOffset = Get32(zip, end + 16);
  ASSERT_GT(count, 30);
  const std::string locals = zip.substr(0, dirOffset), directory = zip.substr(dirOffset, dirSize);
  std::string endRecord = zip.substr(end, 22);
  test::SetU16(endRecord, 20, 0);

  std::map<std::wstring, size_t> messages;
  // The directory last: records cut inside their headers, names and between records; every local
  // header before the cut is reached as well.
  std::string endDirLast = endRecord;
  test::SetU32(endDirLast, 16, uint32_t(locals.size() + 22));
  for (size_t cut = 0; cut < directory.size(); ++cut) {
    test::SetU32(endDirLast, 12, uint32_t(cut));
    const std::wstring error = ReadAtEndOfAllocation(locals + endDirLast + directory.substr(0, cut));
    EXPECT_NE(error, L"<ok>") << cut;
    ++messages[error];
  }
  EXPECT_EQ(messages.count(L"Zip dizini bozuk."), 1u);

  // One entry last, deflated (from this zip) and stored (from Info-ZIP's -0 zip): its directory
  // record first, then the end record, then the entry's local header, name and data.
  const std::string stored = test::ReadFile(joinPath(test::ZipSamples(), L"infozip_stored.zip"));
  for (const std::string* source : {&zip, &stored}) {
    const std::string& z = *source;
    size_t zEnd = z.size() - 22;
    while (Get32(z, zEnd) != 0x06054B50) --zEnd;
    size_t at = Get32(z, zEnd + 16);
    const unsigned zCount = Get16(z, zEnd + 10);
    const uint16_t wanted = source == &zip ? 8 : 0;
    bool found = false;
    for (unsigned i = 0; i < zCount && !found; ++i) {
      // Small enough that decoding every cut stays quick under the sanitizers.
      found = Get16(z, at + 10) == wanted && Get32(z, at + 20) > 200 && Get32(z, at + 20) < 3000;
      if (!found) at += 46 + Get16(z, at + 28) + Get16(z, at + 30) + Get16(z, at + 32);
    }
    ASSERT_TRUE(found) << wanted;
    const size_t nameLength = Get16(z, at + 28);
    std::string dirRecord = z.substr(at, 46 + nameLength);
    test::SetU16(dirRecord, 30, 0);
    test::SetU16(dirRecord, 32, 0);
    const uint32_t local = Get32(z, at + 42);
    const size_t header = 30 + Get16(z, local + 26) + Get16(z, local + 28);
    const std::string entry = z.substr(local, header + Get32(z, at + 20));
    test::SetU32(dirRecord, 42, uint32_t(dirRecord.size() + 22));
    std::string endEntryLast = endRecord;
    test::SetU16(endEntryLast, 8, 1);
    test::SetU16(endEntryLast, 10, 1);
    test::SetU32(endEntryLast, 12, uint32_t(dirRecord.size()));
    test::SetU32(endEntryLast, 16, 0);
    ASSERT_EQ(ReadAtEndOfAllocation(dirRecord + endEntryLast + entry), L"<ok>");
    for (size_t cut = 0; cut < entry.size(); ++cut) {
      std::string cutRecord = dirRecord;
      if (cut > header) {
        // The record claims what is left: the decoder and the CRC see the cut data.
        test::SetU32(cutRecord, 20, uint32_t(cut - header));
        if (wanted == 0) test::SetU32(cutRecord, 24, uint32_t(cut - header));
      }
      const std::wstring error = ReadAtEndOfAllocation(cutRecord + endEntryLast + entry.substr(0, cut));
      EXPECT_NE(error, L"<ok>") << cut;
      ++messages[error];
    }
  }
  EXPECT_EQ(messages.count(L"Zip yerel basligi bozuk."), 1u);
  EXPECT_EQ(messages.count(L"Zip verisi bozuk."), 1u);
  bool inflateReached = false, crcReached = false;
  for (const auto& [message, n] : messages) {
    inflateReached = inflateReached || message.find(L": Deflate") != std::wstring::npos;
    crcReached = crcReached || message.rfind(L"Zip CRC hatasi: ", 0) == 0;
  }
  EXPECT_TRUE(inflateReached);
  EXPECT_TRUE(crcReached);

  // Every prefix too (they stop at the end record), each at the end of its own allocation.
  for (size_t n = 0; n < zip.size(); n += (n < 200 || n + 200 > zip.size()) ? 1 : 97)
    EXPECT_NE(ReadAtEndOfAllocation(std::string_view(zip).substr(0, n)), L"<ok>") << n;
}

}  // namespace
}  // namespace sv
