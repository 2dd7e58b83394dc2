// Crc32File on the real file system (Win32 under Wine in the Windows build).
#include <gtest/gtest.h>

#include <vector>

#include "common/crc32.h"
#include "tests/support/test_files.h"

namespace {

std::wstring Scratch(const wchar_t* name) {
  return sv::joinPath(sv::test::ScratchFolder("common", "crc32_file"), name);
}

}  // namespace

TEST(Crc32File, WholeFileInPieces) {
  const std::wstring path = Scratch(L"crc.bin");
  const std::vector<uint8_t> data = sv::test::RandomBytes((1u << 20) * 2 + 12345, 99);
  ASSERT_TRUE(sv::writeFileAtomic(path, data.data(), data.size()));
  uint32_t crc = 0;
  uint64_t size = 0;
  ASSERT_TRUE(sv::Crc32File(path, crc, size));
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(crc, sv::Crc32(data.data(), data.size()));

  const std::wstring empty = Scratch(L"empty.bin");
  ASSERT_TRUE(sv::writeFileAtomic(empty, "", 0));
  crc = 1;
  ASSERT_TRUE(sv::Crc32File(empty, crc, size));
  EXPECT_EQ(crc, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(sv::Crc32File(Scratch(L"missing.bin"), crc, size));
  EXPECT_FALSE(sv::Crc32File(sv::test::ScratchFolder("common", "crc32_file"), crc, size));
}

TEST(Crc32File, ReadsIntoTheCallersBufferAndReportsEveryPiece) {
  const std::wstring path = Scratch(L"pieces.bin");
  const std::vector<uint8_t> data = sv::test::RandomBytes(100000, 7);
  ASSERT_TRUE(sv::writeFileAtomic(path, data.data(), data.size()));
  std::vector<uint8_t> buffer(4096);
  std::vector<uint32_t> pieces;
  uint32_t crc = 0;
  uint64_t size = 0;
  ASSERT_TRUE(sv::Crc32File(path, buffer.data(), uint32_t(buffer.size()), crc, size,
                            [&](uint32_t length) {
                              pieces.push_back(length);
                              return true;
                            }));
  EXPECT_EQ(crc, sv::Crc32(data.data(), data.size()));
  EXPECT_EQ(size, data.size());
  uint64_t total = 0;
  for (uint32_t length : pieces) {
    EXPECT_GT(length, 0u);
    EXPECT_LE(length, buffer.size());
    total += length;
  }
  EXPECT_EQ(total, data.size());
  EXPECT_GE(pieces.size(), (data.size() + buffer.size() - 1) / buffer.size());
}

TEST(Crc32File, ProgressThatSaysStopEndsTheReadingAsAFailure) {
  const std::wstring path = Scratch(L"stopped.bin");
  const std::vector<uint8_t> data = sv::test::RandomBytes(50000, 8);
  ASSERT_TRUE(sv::writeFileAtomic(path, data.data(), data.size()));
  std::vector<uint8_t> buffer(1000);
  int calls = 0;
  uint32_t crc = 0;
  uint64_t size = 0;
  EXPECT_FALSE(sv::Crc32File(path, buffer.data(), uint32_t(buffer.size()), crc, size,
                             [&](uint32_t) { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}
