// The file classes on the real file system (Win32 under Wine in the Windows build).
#include <gtest/gtest.h>

#include <algorithm>

#include "lz_test_util.h"
#include "common/crc32.h"
#include "release/lz_decode.h"

namespace {

std::wstring Scratch(const wchar_t* name) {
  const std::wstring folder = sv::joinPath(sv::toWide(SV_BINARY_DIR), L"test-tmp\\lz");
  sv::createDirectories(folder);
  return sv::joinPath(folder, name);
}

}  // namespace

TEST(FileStreams, WriteThenReadBack) {
  const std::wstring path = Scratch(L"roundtrip.bin");
  const std::vector<uint8_t> data = sv::test::RandomBytes(300000, 99);
  sv::FileWriter writer;
  ASSERT_TRUE(writer.OpenWrite(path));
  EXPECT_TRUE(writer.Write(data.data(), 1000));
  EXPECT_TRUE(writer.Write(nullptr, 0));
  EXPECT_TRUE(writer.Write(data.data() + 1000, data.size() - 1000));
  EXPECT_TRUE(writer.Close());
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Write(data.data(), 1));

  sv::FileReader reader;
  ASSERT_TRUE(reader.OpenRead(path));
  std::vector<uint8_t> back(data.size() + 10);
  uint32_t got = 0, n;
  while ((n = reader.Read(back.data() + got, std::min(65536u, uint32_t(back.size() - got)))) > 0)
    got += n;
  EXPECT_EQ(got, data.size());
  back.resize(got);
  EXPECT_EQ(back, data);
  reader.Close();
  EXPECT_EQ(reader.Read(back.data(), 1), 0u);

  EXPECT_FALSE(reader.OpenRead(Scratch(L"missing.bin")));
  uint32_t error = 0;
  EXPECT_FALSE(writer.OpenWrite(Scratch(L"no-such-folder\\x.bin"), &error));
  EXPECT_NE(error, 0u);
}

TEST(LzDecode, FileToFile) {
  const std::wstring folder = sv::test::GoldenLzFolder();
  for (const auto& sample : sv::test::ReadManifest(folder)) {
    sv::FileReader reader;
    ASSERT_TRUE(reader.OpenRead(sv::joinPath(folder, sv::toWide(sample.file))));
    const std::wstring outPath = Scratch(L"decoded.out");
    sv::FileWriter writer;
    ASSERT_TRUE(writer.OpenWrite(outPath));
    const sv::LzResult r = sv::LzDecode(reader, &writer, nullptr, nullptr);
    EXPECT_TRUE(writer.Close());
    ASSERT_TRUE(r.ok) << sample.file;
    uint32_t crc = 0;
    uint64_t size = 0;
    ASSERT_TRUE(sv::Crc32File(outPath, crc, size));
    EXPECT_EQ(size, sample.size) << sample.file;
    EXPECT_EQ(crc, sample.crc) << sample.file;
  }
}
