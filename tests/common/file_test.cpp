#include "common/file.h"

#include <filesystem>

#include "common/path.h"
#include "common/text.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

namespace {

using FileTest = ScratchDirTest;

std::string readBack(const std::wstring& p) {
  std::string out = "not read";
  EXPECT_TRUE(sv::readWholeFile(p, 1 << 30, out));
  return out;
}

}  // namespace

TEST_F(FileTest, CreateDirectoriesMakesMissingParents) {
  const std::wstring deep = path(L"a\\b/c\\d");
  EXPECT_FALSE(sv::isDirectory(deep));
  ASSERT_TRUE(sv::createDirectories(deep));
  EXPECT_TRUE(sv::isDirectory(deep));
  EXPECT_TRUE(sv::isDirectory(path(L"a\\b")));
  EXPECT_FALSE(sv::isFile(deep));
  EXPECT_TRUE(sv::createDirectories(deep));  // already there
  EXPECT_TRUE(sv::createDirectories(path(L"a\\b\\")));
  EXPECT_TRUE(sv::createDirectories(L""));
}

TEST_F(FileTest, CreateDirectoriesFailsWhereAFileStands) {
  const std::wstring file = path(L"plain");
  ASSERT_TRUE(sv::writeFileAtomic(file, "x", 1));
  EXPECT_TRUE(sv::isFile(file));
  EXPECT_FALSE(sv::createDirectories(file));
  EXPECT_FALSE(sv::createDirectories(sv::joinPath(file, L"sub\\deeper")));
  EXPECT_TRUE(sv::isFile(file));
}

TEST_F(FileTest, ReadWholeFileHonoursLimit) {
  const std::wstring p = path(L"data.bin");
  std::string content(70000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7);
  ASSERT_TRUE(sv::writeFileAtomic(p, content.data(), content.size()));

  std::string out = "old";
  EXPECT_TRUE(sv::readWholeFile(p, content.size(), out));
  EXPECT_EQ(out, content);
  out = "old";
  EXPECT_FALSE(sv::readWholeFile(p, content.size() - 1, out));
  EXPECT_FALSE(sv::readWholeFile(path(L"missing"), 100, out));
  EXPECT_FALSE(sv::readWholeFile(root_.wstring(), 100, out));  // a folder is not a file
  EXPECT_NE(out, content);

  const std::wstring empty = path(L"empty");
  ASSERT_TRUE(sv::writeFileAtomic(empty, nullptr, 0));
  out = "old";
  EXPECT_TRUE(sv::readWholeFile(empty, 0, out));
  EXPECT_EQ(out, "");
}

TEST_F(FileTest, WriteFileAtomicReplacesAndLeavesNoTemporary) {
  // A Turkish file name checks that names reach the file system intact.
  const std::wstring p = path(L"\u015Fark\u0131 \u00FC.ini");
  ASSERT_TRUE(sv::writeFileAtomic(p, "first version", 13));
  ASSERT_TRUE(sv::writeFileAtomic(p, "second", 6));
  EXPECT_EQ(readBack(p), "second");
  // Left in the system's cache, the replacement is still whole and under the name.
  ASSERT_TRUE(sv::writeFileAtomic(p, "third!", 6, sv::WriteDurability::kCached));
  EXPECT_EQ(readBack(p), "third!");
  EXPECT_FALSE(sv::isFile(p + L".svtmp"));
  const std::string name = sv::toUtf8(sv::fileName(p));
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    ++entries;
    EXPECT_EQ(entry.path().filename().u8string(), std::u8string(name.begin(), name.end()));
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(FileTest, WriteFileAtomicFailureLeavesDestinationAlone) {
  // A folder cannot be replaced by a file; the folder and its content survive.
  const std::wstring dir = path(L"target");
  ASSERT_TRUE(sv::createDirectories(dir));
  ASSERT_TRUE(sv::writeFileAtomic(sv::joinPath(dir, L"inside"), "keep", 4));
  EXPECT_FALSE(sv::writeFileAtomic(dir, "new", 3));
  EXPECT_TRUE(sv::isDirectory(dir));
  EXPECT_EQ(readBack(sv::joinPath(dir, L"inside")), "keep");
  EXPECT_FALSE(sv::isFile(dir + L".svtmp"));
  // No folder to write into: nothing is created.
  EXPECT_FALSE(sv::writeFileAtomic(path(L"nofolder\\x"), "x", 1));
  EXPECT_FALSE(sv::isDirectory(path(L"nofolder")));
}

TEST_F(FileTest, WriteFileAtomicInPiecesKeepsTheOldFileWhenTheProducerGivesUp) {
  const std::wstring p = path(L"cache");
  ASSERT_TRUE(sv::writeFileAtomic(p, [](const sv::PieceWriter& write) {
    return write("one ", 4) && write("two", 3);
  }));
  EXPECT_EQ(readBack(p), "one two");
  // Half written, then given up: the file holds what it held, and no temporary is left.
  EXPECT_FALSE(sv::writeFileAtomic(p, [](const sv::PieceWriter& write) {
    return write("half", 4) && false;
  }));
  EXPECT_EQ(readBack(p), "one two");
  EXPECT_FALSE(sv::isFile(p + L".svtmp"));
}
