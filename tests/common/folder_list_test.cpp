// Listing one folder on the real file system (FindFirstFileW under Wine in the Windows build).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/folder_list.h"
#include "tests/support/scratch_dir.h"

namespace {

using FolderListTest = ScratchDirTest;

std::vector<std::wstring> Sorted(const std::vector<sv::FolderItem>& items, bool directories) {
  std::vector<std::wstring> names;
  for (const sv::FolderItem& item : items) {
    if (item.directory == directories) names.push_back(item.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(FolderListTest, ItemsWithTheirKindWithoutDotEntries) {
  ASSERT_TRUE(sv::writeFileAtomic(path(L"a.txt"), "a", 1));
  ASSERT_TRUE(sv::writeFileAtomic(path(L"Sv_Part.bin"), "", 0));
  ASSERT_TRUE(sv::createDirectories(path(L"sub")));
  ASSERT_TRUE(sv::writeFileAtomic(path(L"sub\\deeper.txt"), "d", 1));

  std::vector<sv::FolderItem> items;
  ASSERT_TRUE(sv::listFolder(root_.wstring(), L"*", items));
  EXPECT_EQ(Sorted(items, false), (std::vector<std::wstring>{L"Sv_Part.bin", L"a.txt"}));
  EXPECT_EQ(Sorted(items, true), std::vector<std::wstring>{L"sub"});

  std::vector<std::wstring> files;
  ASSERT_TRUE(sv::listFolderFiles(root_.wstring(), files));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::wstring>{L"Sv_Part.bin", L"a.txt"}));
}

TEST_F(FolderListTest, BeginningPatternIgnoresCase) {
  ASSERT_TRUE(sv::writeFileAtomic(path(L"Sv_one.part"), "1", 1));
  ASSERT_TRUE(sv::writeFileAtomic(path(L"sv_two.part"), "2", 1));
  ASSERT_TRUE(sv::writeFileAtomic(path(L"game.sv_"), "3", 1));
  std::vector<sv::FolderItem> items;
  ASSERT_TRUE(sv::listFolder(root_.wstring(), L"sv_*", items));
  EXPECT_EQ(Sorted(items, false), (std::vector<std::wstring>{L"Sv_one.part", L"sv_two.part"}));
}

TEST_F(FolderListTest, NoMatchIsAnEmptyListAndAMissingFolderAFailure) {
  ASSERT_TRUE(sv::writeFileAtomic(path(L"game.exe"), "x", 1));
  std::vector<sv::FolderItem> items{{L"stale", false}};
  EXPECT_TRUE(sv::listFolder(root_.wstring(), L"sv_*", items));
  EXPECT_TRUE(items.empty());

  EXPECT_FALSE(sv::listFolder(path(L"missing"), L"*", items));
  EXPECT_FALSE(sv::listFolder(path(L"missing"), L"sv_*", items));
  std::vector<std::wstring> files{L"stale"};
  EXPECT_FALSE(sv::listFolderFiles(path(L"missing"), files));
  EXPECT_TRUE(files.empty());
}
