// Sharing modes of the file classes, as another program holding the file sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include "lz_test_util.h"
#include "common/crc32.h"
#include "common/scoped_win.h"

namespace {

std::wstring SharingFile() {
  const std::wstring folder = sv::joinPath(sv::toWide(SV_BINARY_DIR), L"test-tmp\\lz");
  sv::createDirectories(folder);
  const std::wstring path = sv::joinPath(folder, L"shared.bin");
  sv::writeFileAtomic(path, "payload", 7);
  return path;
}

}  // namespace

TEST(FileSharing, Crc32FileReadsWhatAWriterHoldsOpen) {
  const std::wstring path = SharingFile();
  sv::ScopedHandle other(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
  ASSERT_TRUE(other);
  uint32_t crc = 0;
  uint64_t size = 0;
  EXPECT_TRUE(sv::Crc32File(path, crc, size));
  EXPECT_EQ(crc, sv::Crc32("payload", 7));
  // The decoder's reader lets nobody write under it, so it cannot open a file being written.
  sv::FileReader reader;
  EXPECT_FALSE(reader.OpenRead(path));
}

TEST(FileSharing, WriterExcludesEveryoneAndReportsTheError) {
  const std::wstring path = SharingFile();
  sv::FileWriter writer;
  ASSERT_TRUE(writer.OpenWrite(path));
  uint32_t crc = 0;
  uint64_t size = 0;
  EXPECT_FALSE(sv::Crc32File(path, crc, size));
  sv::FileWriter second;
  uint32_t error = 0;
  EXPECT_FALSE(second.OpenWrite(path, &error));
  EXPECT_EQ(error, uint32_t(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(writer.Close());

  sv::FileReader reader;
  ASSERT_TRUE(reader.OpenRead(path));
  EXPECT_FALSE(second.OpenWrite(path, &error));
  EXPECT_EQ(error, uint32_t(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(sv::Crc32File(path, crc, size));  // a reader sharing read admits another reader
  EXPECT_EQ(size, 0u);
}
