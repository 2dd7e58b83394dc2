// Under Windows the skin reader decodes PNG images (GDI+), so here every zip made by another
// tool must load the sample skin with no warning at all.
#include <gtest/gtest.h>

#include "builder/skin_import.h"
#include "builder_test_util.h"
#include "common/folder_list.h"

namespace sv {
namespace {

TEST(SampleZips, EveryZipOfOtherToolsLoadsTheSkinWithoutWarning) {
  std::vector<std::wstring> names;
  ASSERT_TRUE(listFolderFiles(test::ZipSamples(), names));
  int zips = 0;
  for (const std::wstring& name : names) {
    if (name.size() < 4 || name.substr(name.size() - 4) != L".zip") continue;
    ++zips;
    SkinImport skin;
    std::wstring error;
    ASSERT_TRUE(skin.LoadSkin(joinPath(test::ZipSamples(), name), &error)) << toUtf8(name) << ": " << toUtf8(error);
    EXPECT_TRUE(skin.definitionError.empty()) << toUtf8(name) << ": " << toUtf8(skin.definitionError);
    EXPECT_TRUE(skin.warnings.empty()) << toUtf8(name) << ": " << toUtf8(skin.warnings.empty() ? L"" : skin.warnings[0]);
    EXPECT_EQ(skin.width, 920);
    EXPECT_EQ(skin.height, 580);
  }
  EXPECT_EQ(zips, 17);
}

}  // namespace
}  // namespace sv
