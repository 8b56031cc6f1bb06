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

// Relative paths against the base, "." and ".." resolved (never above the
// root), '/' as a separator, the drive kept as written, and one trailing
// backslash only for a root.
TEST(PlatformPathsTest, AbsolutePathFollowsOneSetOfRules) {
  const struct {
    const char* pszPath;
    const char* pszBase;
    const char* pszExpected;
  } kCases[] = {
      {"a\\b.txt", "C:\\Work", "C:\\Work\\a\\b.txt"},
      {"a/./b.txt", "C:\\Work\\", "C:\\Work\\a\\b.txt"},
      {"..\\..\\..\\b.txt", "C:\\Work", "C:\\b.txt"},
      {"x\\y", "", "\\x\\y"},
      {"d:\\a\\..\\x\\", "C:\\Work", "d:\\x"},
      {"\\\\x\\.", "C:\\Work", "\\x"},
      {"C:\\a\\..", "", "C:\\"},
      {"..", "C:\\", "C:\\"},
      {"\\..\\.", "", "\\"},
      {"C:\\a\\\\", "", "C:\\a"},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(test.pszExpected, AbsolutePath(test.pszPath, test.pszBase)) << test.pszPath << " in " << test.pszBase;
  }
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
