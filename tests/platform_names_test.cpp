// Code-page-936 names through the Win32 calls, the same on every build: a
// GBK name the program uses is the Unicode name on disk, names read back
// come out in GBK, and bad names fail alike. On Windows this holds whatever
// the machine's ANSI code page is (1252 under Wine here).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// 淺 (9C 5C) and 乗 (81 5C) end in a byte that looks like '\\'; € is the
// single byte 80.
const char kDirUtf8[] = u8"数据淺";
const char kFileUtf8[] = u8"表格€.txt";

DWORD CreateError(const std::string& strPath, DWORD dwDisposition) {
  HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(hFile);
  return ERROR_SUCCESS;
}

std::set<std::string> FindNames(const std::string& strPattern) {
  std::set<std::string> setNames;
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(strPattern.c_str(), &data);
  if (hFind == INVALID_HANDLE_VALUE) return setNames;
  do {
    setNames.insert(data.cFileName);
  } while (FindNextFileA(hFind, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
  FindClose(hFind);
  return setNames;
}

TEST(PlatformNamesTest, GbkNamesAreUnicodeNamesOnDisk) {
  CTempDir dir;
  const std::string strDir = dir.ProgramPath(kDirUtf8);
  ASSERT_TRUE(CreateDirectoryA(strDir.c_str(), nullptr));
  const std::string strFile = strDir + "\\" + Gbk(kFileUtf8);
  HANDLE hFile = CreateFileA(strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
  DWORD dwWritten = 0;
  EXPECT_TRUE(WriteFile(hFile, "gbk", 3, &dwWritten, nullptr));
  CloseHandle(hFile);
  EXPECT_EQ("gbk", ReadFileBytes(dir.Path() / Utf8Path(kDirUtf8) / Utf8Path(kFileUtf8)));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(strDir.c_str()));

  const std::string strMoved = strDir + "\\" + Gbk(u8"乗.bin");
  ASSERT_TRUE(MoveFileExA(strFile.c_str(), strMoved.c_str(), 0));
  EXPECT_TRUE(fs::exists(dir.Path() / Utf8Path(kDirUtf8) / Utf8Path(u8"乗.bin")));
  EXPECT_TRUE(DeleteFileA(strMoved.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(strDir.c_str()));
  EXPECT_FALSE(fs::exists(dir.Path() / Utf8Path(kDirUtf8)));
}

TEST(PlatformNamesTest, SearchReturnsGbkNamesAndQuestionMarksForTheRest) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / Utf8Path(u8"淺.txt"), "");
  WriteFileBytes(dir.Path() / Utf8Path(u8"한.txt"), "");  // Hangul: not in code page 936
  WriteFileBytes(dir.Path() / "plain.bin", "");
  EXPECT_EQ((std::set<std::string>{Gbk(u8"淺.txt"), "?.txt"}), FindNames(dir.ProgramPath("*.txt")));
  EXPECT_EQ((std::set<std::string>{"plain.bin"}), FindNames(dir.ProgramPath("*.bin")));
}

TEST(PlatformNamesTest, CurrentDirectoryIsSetAndReadInGbk) {
  CTempDir dir;
  CCurrentDirGuard guard;
  fs::create_directory(dir.Path() / Utf8Path(kDirUtf8));
  const std::string strDir = dir.ProgramPath(kDirUtf8);
  ASSERT_TRUE(SetCurrentDirectoryA(strDir.c_str()));
  EXPECT_TRUE(fs::equivalent(dir.Path() / Utf8Path(kDirUtf8), fs::current_path()));

  char szBuffer[MAX_PATH];
  ASSERT_EQ(strDir.size(), GetCurrentDirectoryA(sizeof(szBuffer), szBuffer));
  EXPECT_EQ(strDir, szBuffer);
  // Too small: the size needed, terminator included, and nothing written.
  char szSmall[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(strDir.size() + 1, GetCurrentDirectoryA(sizeof(szSmall), szSmall));
  EXPECT_EQ('#', szSmall[0]);

  // Relative names start from there.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), CreateError(Gbk(kFileUtf8), CREATE_NEW));
  EXPECT_TRUE(fs::exists(dir.Path() / Utf8Path(kDirUtf8) / Utf8Path(kFileUtf8)));
}

TEST(PlatformNamesTest, BadAndMissingNamesFailWithTheWin32Errors) {
  CTempDir dir;
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), CreateError(dir.ProgramPath() + "\\ab\x81", CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE),
            CreateError(dir.ProgramPath() + "\\" + std::string(MAX_PATH, 'a'), CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), CreateError(dir.ProgramPath("missing.txt"), OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), CreateError(dir.ProgramPath("no/such.txt"), OPEN_EXISTING));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.ProgramPath("missing.txt").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  const std::string strDir = dir.ProgramPath(kDirUtf8);
  ASSERT_TRUE(CreateDirectoryA(strDir.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(strDir.c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  WriteFileBytes(dir.Path() / Utf8Path(kDirUtf8) / "inside", "");
  EXPECT_FALSE(RemoveDirectoryA(strDir.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), GetLastError());

  WIN32_FIND_DATAA data;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(dir.ProgramPath("*.none").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

}  // namespace
