#include "patcher/engine/object_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "common/file.h"
#include "tests/support/scratch_dir.h"

namespace sv {
namespace {

using ObjectHash = ScratchDirTest;

// Segments finish in any order; the hash moves only through the finished run at its front, and
// Finish takes the rest: the digest is the whole file's, whatever the order.
TEST_F(ObjectHash, SegmentsInAnyOrderGiveTheWholeFilesDigest) {
  std::string bytes(10 * 1000 + 7, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 131 + i / 7);
  const std::wstring part = path(L"object.part");
  ASSERT_TRUE(writeFileAtomic(part, bytes.data(), bytes.size()));

  ObjectHashCursor cursor;
  cursor.Advance(part, {0, 1, 1, 0}, 1000, bytes.size());  // nothing at the front yet
  cursor.Advance(part, {1, 1, 1, 0, 0, 1}, 1000, bytes.size());
  cursor.Advance(part, {1, 1, 1, 1, 0, 1}, 1000, bytes.size());
  Sha256Digest digest{};
  uint64_t size = 0;
  ASSERT_TRUE(cursor.Finish(part, digest, size));
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(digest, Sha256Of(bytes));
  EXPECT_FALSE(cursor.Finish(part, digest, size)) << "a spent hash passed again";

  // A file shorter than the segments said it held never gives a digest.
  ObjectHashCursor shortFile;
  shortFile.Advance(part, std::vector<uint8_t>(12, 1), 1000, 12000);
  EXPECT_FALSE(shortFile.Finish(part, digest, size));
}

}  // namespace
}  // namespace sv
