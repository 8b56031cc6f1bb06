// The platform's path rules: one normaliser for every caller, splitting and
// searching by characters (code page 936), and the two case folds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cp936.h"
#include "platform/paths.h"
#include "platform/text_case.h"
#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace {

// A double-byte character whose trail byte is a backslash, and one whose
// trail byte is 'Z'.
const std::string kTrailBackslash = "\x95\x5C";
const std::string kTrailZ = "\x95\x5A";

TEST(PlatformPathsTest, AbsolutePathResolvesAgainstTheBaseDirectory) {
  EXPECT_EQ("C:\\Work\\a\\b.txt", AbsolutePath("a\\b.txt", "C:\\Work"));
  EXPECT_EQ("C:\\Work\\a\\b.txt", AbsolutePath("a/./b.txt", "C:\\Work\\"));
  EXPECT_EQ("C:\\b.txt", AbsolutePath("..\\..\\..\\b.txt", "C:\\Work"));
  EXPECT_EQ("\\x\\y", AbsolutePath("x\\y", ""));
  // Absolute already: the base is not used, the drive is kept as written.
  EXPECT_EQ("d:\\x", AbsolutePath("d:\\a\\..\\x\\", "C:\\Work"));
  EXPECT_EQ("\\x", AbsolutePath("\\\\x\\.", "C:\\Work"));
}

TEST(PlatformPathsTest, AbsolutePathKeepsOneBackslashOnlyForARoot) {
  EXPECT_EQ("C:\\", AbsolutePath("C:\\a\\..", ""));
  EXPECT_EQ("C:\\", AbsolutePath("..", "C:\\"));
  EXPECT_EQ("\\", AbsolutePath("\\..\\.", ""));
  EXPECT_EQ("C:\\a", AbsolutePath("C:\\a\\\\", ""));
}

TEST(PlatformPathsTest, AbsolutePathAgainstTheCurrentDirectory) {
  CTempDir dir;
  CCurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDirectoryA(dir.ProgramPath().c_str()));
  EXPECT_EQ(CurrentDirectory(), AbsolutePath("."));
  EXPECT_EQ(JoinPath(CurrentDirectory(), "f.txt"), AbsolutePath("sub\\..\\f.txt"));
}

TEST(PlatformPathsTest, ACharacterEndingInABackslashByteStaysWhole) {
  const std::string strPath = "\\dir\\" + kTrailBackslash + "\\f";
  EXPECT_EQ(strPath, AbsolutePath(strPath, ""));
  EXPECT_EQ("\\dir", AbsolutePath(strPath + "\\..\\..", ""));
  EXPECT_EQ((std::vector<std::string>{"dir", kTrailBackslash, "f"}), SplitPath(strPath));
  EXPECT_EQ(std::string::npos, LastSeparator(kTrailBackslash));
  EXPECT_EQ(4u, LastSeparator("\\dir\\" + kTrailBackslash));
}

TEST(PlatformPathsTest, ComparablePathFoldsCapitalsButNoTrailByte) {
  EXPECT_EQ(ComparablePath("b\\..\\A.TXT", "C:\\Work"), ComparablePath("c:/work/a.txt", "D:\\Other"));
  EXPECT_EQ("c:\\work\\" + kTrailZ, ComparablePath(kTrailZ, "C:\\WORK"));
  EXPECT_NE(ComparablePath("a.txt", "C:\\Work"), ComparablePath("a.txt", "C:\\Other"));
}

TEST(PlatformPathsTest, JoinPathAddsOneBackslash) {
  EXPECT_EQ("name", JoinPath("", "name"));
  EXPECT_EQ("C:\\dir\\name", JoinPath("C:\\dir", "name"));
  EXPECT_EQ("C:\\dir\\name", JoinPath("C:\\dir\\", "name"));
  EXPECT_EQ("dir/name", JoinPath("dir/", "name"));
}

TEST(PlatformPathsTest, CurrentDirectoryIsWhatWin32Reports) {
  char szDir[MAX_PATH] = {};
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, szDir), 0u);
  EXPECT_EQ(std::string(szDir), CurrentDirectory());
}

// Pack names fold byte by byte, trail bytes included; paths compared by
// characters do not fold a trail byte.
TEST(PlatformPathsTest, LowerCopyFoldsEveryCapitalByte) {
  EXPECT_EQ("res\\ui\\a.txt", LowerCopy("Res\\UI\\a.TXT"));
  EXPECT_EQ("\x95\x7A", LowerCopy(kTrailZ));
  std::string strChars = kTrailZ;
  EXPECT_EQ(kTrailZ, Cp936StrLwr(&strChars[0]));
}

}  // namespace
