// How the platform layer maps Win32 paths onto the POSIX file system: case-
// insensitive lookup, code-page-936 names, path syntax and the errors
// Windows gives for bad or missing paths.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/cp936.h"
#include "platform/win32.h"
#include "tests/support/handle_ptr.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

HANDLE OpenForReading(const std::string& strPath) {
  return CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// The whole content of the file a Win32 path opens, or "<error N>".
std::string ReadThrough(const std::string& strPath) {
  CHandlePtr spFile(OpenForReading(strPath));
  if (spFile.get() == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
  char szBuffer[256];
  DWORD nRead = 0;
  if (!ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nRead, nullptr)) return "<read failed>";
  return std::string(szBuffer, nRead);
}

DWORD CreateError(const std::string& strPath, DWORD dwDisposition) {
  CHandlePtr spFile(
      CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  return spFile.get() == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

std::string Lower(std::string strText) {
  Cp936StrLwr(&strText[0]);
  return strText;
}

std::string CurrentDirectory() {
  char szBuffer[MAX_PATH];
  DWORD nLength = GetCurrentDirectoryA(sizeof(szBuffer), szBuffer);
  return std::string(szBuffer, nLength < sizeof(szBuffer) ? nLength : 0);
}

TEST(PlatformPathTest, ExistingComponentsAreFoundIgnoringCase) {
  CTempDir dir;
  fs::create_directories(dir.Path() / "Game" / "Data");
  WriteFileBytes(dir.Path() / "Game" / "Data" / "A.TXT", "hello");

  std::string strLowered = Lower(dir.ProgramPath("Game/Data/A.TXT"));
  EXPECT_EQ(ReadThrough(strLowered), "hello");
  EXPECT_EQ(GetFileAttributesA(Lower(dir.ProgramPath("Game/Data")).c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(ReadThrough(dir.ProgramPath("GAME/data/a.Txt")), "hello");
}

// Lookups may keep directory listings; changes made behind the layer's back,
// by this process or another, must show at once.
TEST(PlatformPathTest, LookupSeesChangesMadeOutsideTheLayer) {
  CTempDir dir;
  fs::create_directory(dir.Path() / "Game");
  WriteFileBytes(dir.Path() / "Game" / "A.TXT", "one");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/a.txt")), "one");

  fs::remove(dir.Path() / "Game" / "A.TXT");
  WriteFileBytes(dir.Path() / "Game" / "a.Txt", "two");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/A.txt")), "two");
  fs::rename(dir.Path() / "Game" / "a.Txt", dir.Path() / "Game" / "Renamed.TXT");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/renamed.txt")), "two");

  // A child's lookups must not swallow what the parent has yet to see.
  WriteFileBytes(dir.Path() / "Game" / "New.TXT", "new");
  const std::string strNew = dir.ProgramPath("game/new.txt");
  pid_t nPid = fork();
  if (nPid == 0) _exit(ReadThrough(strNew) == "new" ? 0 : 1);
  int nStatus = -1;
  waitpid(nPid, &nStatus, 0);
  EXPECT_EQ(nStatus, 0);
  EXPECT_EQ(ReadThrough(strNew), "new");

  nPid = fork();
  if (nPid == 0) {
    WriteFileBytes(dir.Path() / "Game" / "FromChild.TXT", "child");
    _exit(0);
  }
  waitpid(nPid, &nStatus, 0);
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/fromchild.txt")), "child");

  fs::remove_all(dir.Path() / "Game");
  fs::create_directory(dir.Path() / "GAME");
  WriteFileBytes(dir.Path() / "GAME" / "X.txt", "again");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/x.TXT")), "again");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("game/renamed.txt")), "<error 2>");
}

TEST(PlatformPathTest, NewComponentsKeepTheCaseGiven) {
  CTempDir dir;
  fs::create_directory(dir.Path() / "Game");

  ASSERT_EQ(CreateError(dir.ProgramPath("game/NewFile.TXT"), CREATE_NEW), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(CreateDirectoryA(dir.ProgramPath("GAME/SubDir").c_str(), nullptr));
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "Game" / "NewFile.TXT"));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "Game" / "SubDir"));
  EXPECT_FALSE(fs::exists(dir.Path() / "game"));
  EXPECT_FALSE(fs::exists(dir.Path() / "GAME"));
}

TEST(PlatformPathTest, ExactNameWinsOverOtherCases) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "readme.txt", "lower");
  WriteFileBytes(dir.Path() / "ReadMe.txt", "mixed");
  WriteFileBytes(dir.Path() / "README.TXT", "upper");

  EXPECT_EQ(ReadThrough(dir.ProgramPath("ReadMe.txt")), "mixed");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("readme.txt")), "lower");
  // No exact match: the first in listing order, where upper case sorts first.
  EXPECT_EQ(ReadThrough(dir.ProgramPath("readme.TXT")), "upper");
}

TEST(PlatformPathTest, Cp936NamesAreUtf8OnDiskAndComeBackUnchanged) {
  CTempDir dir;
  CCurrentDirGuard restoreCwd;
  // 乗 (81 5C) and 淺 (9C 5C) end in a byte equal to '\\'.
  const std::string strDirUtf8 = u8"乗淺目录";
  const std::string strFileUtf8 = u8"表格淺.txt";
  const std::string strDirGbk = Gbk(strDirUtf8);
  const std::string strFileGbk = Gbk(strFileUtf8);
  ASSERT_NE(strDirGbk.find('\\'), std::string::npos);

  const std::string strDirPath = dir.ProgramPath() + "\\" + strDirGbk;
  ASSERT_TRUE(CreateDirectoryA(strDirPath.c_str(), nullptr)) << GetLastError();
  ASSERT_EQ(CreateError(strDirPath + "\\" + strFileGbk, CREATE_NEW), static_cast<DWORD>(ERROR_SUCCESS));

  EXPECT_TRUE(fs::is_regular_file(dir.Path() / Utf8Path(strDirUtf8) / Utf8Path(strFileUtf8)));
  int nEntries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().u8string(), strDirUtf8);
    ++nEntries;
  }
  EXPECT_EQ(nEntries, 1);

  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA((strDirPath + "\\*.txt").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::string(data.cFileName), strFileGbk);
  FindClose(hFind);

  ASSERT_TRUE(SetCurrentDirectoryA(strDirPath.c_str()));
  EXPECT_EQ(CurrentDirectory(), strDirPath);
  EXPECT_EQ(fs::current_path(), dir.Path() / Utf8Path(strDirUtf8));
  EXPECT_EQ(GetFileAttributesA(strFileGbk.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

TEST(PlatformPathTest, PathSyntaxVariantsNameTheSameFile) {
  CTempDir dir;
  CCurrentDirGuard restoreCwd;
  fs::create_directory(dir.Path() / "sub");
  WriteFileBytes(dir.Path() / "sub" / "f.txt", "data");
  const std::string strPath = dir.ProgramPath("sub/f.txt");
  std::string strSlashes = strPath;
  for (char& ch : strSlashes) ch = ch == '\\' ? '/' : ch;

  EXPECT_EQ(ReadThrough("C:" + strPath), "data");
  EXPECT_EQ(ReadThrough("z:" + strSlashes), "data");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("sub") + "\\..\\sub\\.\\\\f.txt"), "data");
  EXPECT_EQ(ReadThrough("\\..\\..\\" + strPath.substr(1)), "data");
  EXPECT_EQ(ReadThrough(strPath + ". ."), "data");
  EXPECT_EQ(ReadThrough(dir.ProgramPath("sub..") + "\\f.txt"), "data");

  ASSERT_TRUE(SetCurrentDirectoryA(dir.ProgramPath().c_str()));
  EXPECT_EQ(ReadThrough("sub\\f.txt"), "data");
  EXPECT_EQ(ReadThrough(".\\SUB\\..\\sub/F.TXT"), "data");
  EXPECT_EQ(ReadThrough("C:sub\\f.txt"), "data");
}

TEST(PlatformPathTest, InvalidNamesFailWithErrorInvalidName) {
  CTempDir dir;
  const char* const aszNames[] = {"a<b",
                                  "a>b",
                                  "a\"b",
                                  "a|b",
                                  "a?b",
                                  "a*b",
                                  "a:b",
                                  "a\x01"
                                  "b",
                                  "\x81\x20",
                                  "\xFF"};
  for (const char* pszName : aszNames) {
    std::string strPath = dir.ProgramPath() + "\\" + pszName;
    EXPECT_EQ(CreateError(strPath, CREATE_ALWAYS), static_cast<DWORD>(ERROR_INVALID_NAME)) << pszName;
    EXPECT_FALSE(CreateDirectoryA(strPath.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << pszName;
  }
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  // Wildcards are allowed in the last component of a search pattern only.
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((dir.ProgramPath() + "\\*\\x").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(PlatformPathTest, OverlongPathsFailWithFilenameExcedRange) {
  CTempDir dir;
  const std::string strBase = dir.ProgramPath() + "\\";
  ASSERT_LT(strBase.size(), 100u);
  auto PathOfLength = [&](size_t nLength) { return strBase + std::string(nLength - strBase.size(), 'n'); };

  EXPECT_EQ(CreateError(PathOfLength(MAX_PATH), CREATE_ALWAYS), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(CreateError(PathOfLength(MAX_PATH - 1), CREATE_ALWAYS), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetFileAttributesA(PathOfLength(300).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

  // Directories leave room for an 8.3 name: the limit is 248.
  EXPECT_FALSE(CreateDirectoryA(PathOfLength(248).c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(CreateDirectoryA(PathOfLength(247).c_str(), nullptr));
}

TEST(PlatformPathTest, MissingFilesAndDirectoriesHaveDistinctErrors) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "file.txt", "x");
  const DWORD kFileNotFound = ERROR_FILE_NOT_FOUND;
  const DWORD kPathNotFound = ERROR_PATH_NOT_FOUND;

  EXPECT_EQ(CreateError(dir.ProgramPath("missing.txt"), OPEN_EXISTING), kFileNotFound);
  EXPECT_EQ(CreateError(dir.ProgramPath("nodir/missing.txt"), OPEN_EXISTING), kPathNotFound);
  EXPECT_EQ(CreateError(dir.ProgramPath("nodir/new.txt"), CREATE_ALWAYS), kPathNotFound);
  EXPECT_EQ(CreateError(dir.ProgramPath("file.txt/new.txt"), CREATE_ALWAYS), kPathNotFound);
  EXPECT_EQ(GetFileAttributesA(dir.ProgramPath("missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), kFileNotFound);
  EXPECT_FALSE(DeleteFileA(dir.ProgramPath("nodir/missing.txt").c_str()));
  EXPECT_EQ(GetLastError(), kPathNotFound);
  EXPECT_FALSE(CreateDirectoryA(dir.ProgramPath("nodir/sub").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), kPathNotFound);
  EXPECT_EQ(CreateError("", OPEN_EXISTING), kPathNotFound);
}

TEST(PlatformPathTest, DirectoryOperationErrors) {
  CTempDir dir;
  CCurrentDirGuard restoreCwd;
  WriteFileBytes(dir.Path() / "file.txt", "x");
  fs::create_directories(dir.Path() / "full" / "inner");
  fs::create_directory(dir.Path() / "empty");

  EXPECT_FALSE(CreateDirectoryA(dir.ProgramPath("FULL").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(SetCurrentDirectoryA(dir.ProgramPath("file.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(SetCurrentDirectoryA(dir.ProgramPath("nothing").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RemoveDirectoryA(dir.ProgramPath("file.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(RemoveDirectoryA(dir.ProgramPath("full").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));

  ASSERT_TRUE(SetCurrentDirectoryA(dir.ProgramPath("Empty").c_str()));
  EXPECT_FALSE(RemoveDirectoryA(dir.ProgramPath("empty").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(SetCurrentDirectoryA(".."));
  EXPECT_TRUE(RemoveDirectoryA(dir.ProgramPath("EMPTY").c_str()));
  EXPECT_FALSE(fs::exists(dir.Path() / "empty"));
}

TEST(PlatformPathTest, CurrentDirectoryBufferContract) {
  CTempDir dir;
  CCurrentDirGuard restoreCwd;
  const std::string strDir = dir.ProgramPath();
  ASSERT_TRUE(SetCurrentDirectoryA(Lower(strDir).c_str()));
  const DWORD nLength = static_cast<DWORD>(strDir.size());

  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), nLength + 1);
  std::string strBuffer(nLength + 1, '#');
  EXPECT_EQ(GetCurrentDirectoryA(nLength, &strBuffer[0]), nLength + 1);
  EXPECT_EQ(strBuffer, std::string(nLength + 1, '#'));
  EXPECT_EQ(GetCurrentDirectoryA(nLength + 1, &strBuffer[0]), nLength);
  EXPECT_EQ(std::string(strBuffer.c_str()), strDir);

  ASSERT_TRUE(SetCurrentDirectoryA("\\"));
  EXPECT_EQ(CurrentDirectory(), "\\");
  EXPECT_EQ(fs::current_path(), fs::path("/"));
}

}  // namespace
