#include "common/path.h"

#include "common/file.h"
#include "common/text.h"

#include <gtest/gtest.h>

TEST(Path, JoinAndSplit) {
  EXPECT_EQ(sv::joinPath(L"", L"b"), L"b");
  EXPECT_EQ(sv::joinPath(L"a", L""), L"a");
  EXPECT_EQ(sv::joinPath(L"C:\\game", L"temp"), L"C:\\game\\temp");
  EXPECT_EQ(sv::joinPath(L"C:\\game\\", L"temp"), L"C:\\game\\temp");
  EXPECT_EQ(sv::joinPath(L"C:/game/", L"temp"), L"C:/game/temp");

  EXPECT_EQ(sv::parentPath(L"C:\\game/data\\x.epk"), L"C:\\game/data");
  EXPECT_EQ(sv::parentPath(L"C:\\"), L"C:");
  EXPECT_EQ(sv::parentPath(L"x.epk"), L"");
  EXPECT_EQ(sv::fileName(L"C:\\game/data/x.epk"), L"x.epk");
  EXPECT_EQ(sv::fileName(L"x.epk"), L"x.epk");
  EXPECT_EQ(sv::fileName(L"C:\\game\\"), L"");
  EXPECT_EQ(sv::fileStem(L"C:\\v1.2\\Sarvik.Template.exe"), L"Sarvik.Template");
  EXPECT_EQ(sv::fileStem(L"C:\\v1.2\\README"), L"README");
}

TEST(Path, ModulePathNamesTheTestProgram) {
  EXPECT_EQ(sv::fileStem(sv::modulePath()), L"common_tests");
  EXPECT_TRUE(sv::isFile(sv::modulePath()));
  EXPECT_TRUE(sv::isDirectory(sv::moduleDirectory()));
}

TEST(Path, ExtendedLengthForm) {
  EXPECT_EQ(sv::extendedLengthPath(L"C:\\Oyun\\pack/a.bin"), L"\\\\?\\C:\\Oyun\\pack\\a.bin");
  EXPECT_EQ(sv::extendedLengthPath(L"\\\\srv\\pay\\Oyun"), L"\\\\?\\UNC\\srv\\pay\\Oyun");
  // Already extended, a device path, relative: as they are.
  EXPECT_EQ(sv::extendedLengthPath(L"\\\\?\\C:\\a"), L"\\\\?\\C:\\a");
  EXPECT_EQ(sv::extendedLengthPath(L"\\\\.\\pipe\\x"), L"\\\\.\\pipe\\x");
  EXPECT_EQ(sv::extendedLengthPath(L"temp\\a"), L"temp\\a");
  EXPECT_EQ(sv::extendedLengthPath(L"C:"), L"C:");
}

TEST(Path, ReservedDeviceNames) {
  for (const wchar_t* name : {L"con", L"CON.txt", L"Prn", L"aux.a.b", L"nul", L"com0", L"COM9.log", L"lpt1",
                              L"nul .txt", L"com\u00B9", L"CONOUT$"}) {
    EXPECT_TRUE(sv::isReservedDeviceName(name)) << sv::toUtf8(name);
  }
  for (const wchar_t* name : {L"", L"console", L"com", L"com10", L"lpt", L"comx", L"xcon", L"nul_", L".con"}) {
    EXPECT_FALSE(sv::isReservedDeviceName(name)) << sv::toUtf8(name);
  }
}

TEST(SafeRelativePath, AcceptsAndNormalises) {
  std::wstring out;
  ASSERT_TRUE(sv::makeSafeRelativePath("data/pack//x.epk", out));
  EXPECT_EQ(out, L"data\\pack\\x.epk");
  ASSERT_TRUE(sv::makeSafeRelativePath(" \tbgm\\\xC5\x9F" "ark\xC4\xB1.mp3/ \r\n", out));
  EXPECT_EQ(out, L"bgm\\\u015Fark\u0131.mp3");
  ASSERT_TRUE(sv::makeSafeRelativePath("..x/a..b/.hidden", out));
  EXPECT_EQ(out, L"..x\\a..b\\.hidden");
  ASSERT_TRUE(sv::makeSafeRelativePath(std::string(240, 'a'), out));
}

TEST(SafeRelativePath, RejectsEscapesAndDeviceNames) {
  std::wstring out = L"unchanged";
  for (const char* bad : {"", "  ", "/", "//", "../x", "a/../../x", "a/./b", ".", "C:x", "C:\\x", "\\x", "/x",
                          "\\\\server\\share\\x", "con.txt", "Com1.log", "dir/LPT9", "a /b", "a./b", "a/b.",
                          "a\tb", "a\x01" "b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b"}) {
    EXPECT_FALSE(sv::makeSafeRelativePath(bad, out)) << bad;
  }
  EXPECT_FALSE(sv::makeSafeRelativePath(std::string(241, 'a'), out));
  // Length counts UTF-16 units: 121 characters outside the BMP are 242 units.
  std::string astral;
  for (int i = 0; i < 121; ++i) astral += "\xF0\x9F\x98\x80";
  EXPECT_FALSE(sv::makeSafeRelativePath(astral, out));
  EXPECT_EQ(out, L"unchanged");
}
