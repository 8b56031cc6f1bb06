// Directory search: listing order, wildcards, entry data and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Every name FindFirstFileA/FindNextFileA return for the pattern, in order,
// or one "<error N>" element when the search fails.
std::vector<std::string> Search(const std::string& strPattern) {
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(strPattern.c_str(), &data);
  if (hFind == INVALID_HANDLE_VALUE) return {"<error " + std::to_string(GetLastError()) + ">"};
  std::vector<std::string> vecNames;
  do {
    vecNames.push_back(data.cFileName);
  } while (FindNextFileA(hFind, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(hFind));
  return vecNames;
}

class PlatformFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* pszName : {"b.txt", "A.txt", "_x", "a_b", "Z", "c", "abc", "ABC"})
      WriteFileBytes(m_dir.Path() / pszName, pszName);
    WriteFileBytes(m_dir.Path() / Utf8Path(u8"中文.txt"), "zh");
    fs::create_directory(m_dir.Path() / "Dir");
  }

  std::string Pattern(const std::string& strPattern) const { return m_dir.ProgramPath() + "\\" + strPattern; }

  CTempDir m_dir;
};

TEST_F(PlatformFindTest, ListsDotsFirstThenUpperCasedUtf16Order) {
  // Upper-cased, '.' (2E) < letters (41-5A) < '_' (5F) < CJK; names equal
  // but for case come upper case first.
  std::vector<std::string> vecExpected = {".",     "..", "A.txt", "ABC", "abc", "a_b",
                                          "b.txt", "c",  "Dir",   "Z",   "_x",  Gbk(u8"中文.txt")};
  EXPECT_EQ(Search(Pattern("*")), vecExpected);
  EXPECT_EQ(Search(Pattern("*.*")), vecExpected);
}

TEST_F(PlatformFindTest, WildcardsMatchIgnoringCase) {
  EXPECT_EQ(Search(Pattern("*.TXT")), (std::vector<std::string>{"A.txt", "b.txt", Gbk(u8"中文.txt")}));
  EXPECT_EQ(Search(Pattern("?.txt")), (std::vector<std::string>{"A.txt", "b.txt"}));
  EXPECT_EQ(Search(Pattern("a*")), (std::vector<std::string>{"A.txt", "ABC", "abc", "a_b"}));
  EXPECT_EQ(Search(Pattern("*b*")), (std::vector<std::string>{"ABC", "abc", "a_b", "b.txt"}));
  EXPECT_EQ(Search(Pattern("??")), (std::vector<std::string>{"..", "_x"}));
  EXPECT_EQ(Search(Pattern(Gbk(u8"?文.*"))), (std::vector<std::string>{Gbk(u8"中文.txt")}));
  // Without wildcards the search finds the one entry, in its own case.
  EXPECT_EQ(Search(Pattern("B.TXT")), (std::vector<std::string>{"b.txt"}));
  EXPECT_EQ(Search(Pattern("dir")), (std::vector<std::string>{"Dir"}));
}

TEST_F(PlatformFindTest, EntriesCarryAttributesAndSizes) {
  fs::permissions(m_dir.Path() / "c", fs::perms::owner_read | fs::perms::group_read);
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(Pattern("A.TXT").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  struct stat st;
  ASSERT_EQ(stat((m_dir.Path() / "A.txt").c_str(), &st), 0);
  uint64_t nWriteTime =
      (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(nWriteTime,
            static_cast<uint64_t>(st.st_mtime) * 10000000 + st.st_mtim.tv_nsec / 100 + 116444736000000000ULL);
  EXPECT_FALSE(FindNextFileA(hFind, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(hFind));

  hFind = FindFirstFileA(Pattern("c").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  FindClose(hFind);
  hFind = FindFirstFileA(Pattern("Dir").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  FindClose(hFind);
}

TEST_F(PlatformFindTest, SearchIsASnapshot) {
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(Pattern("*.txt").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  WriteFileBytes(m_dir.Path() / "B0.txt", "late");
  fs::remove(m_dir.Path() / "b.txt");
  std::vector<std::string> vecNames = {data.cFileName};
  while (FindNextFileA(hFind, &data)) vecNames.push_back(data.cFileName);
  FindClose(hFind);
  EXPECT_EQ(vecNames, (std::vector<std::string>{"A.txt", "b.txt", Gbk(u8"中文.txt")}));
}

TEST_F(PlatformFindTest, UnrepresentableNamesComeBackWithQuestionMarks) {
  WriteFileBytes(m_dir.Path() / Utf8Path(u8"\U0001F600\uD55C.dat"), "");
  EXPECT_EQ(Search(Pattern("*.dat")), (std::vector<std::string>{"??.dat"}));
}

TEST_F(PlatformFindTest, ErrorsForNoMatchMissingDirectoryAndBadHandles) {
  EXPECT_EQ(Search(Pattern("nothing*")), (std::vector<std::string>{"<error 2>"}));
  EXPECT_EQ(Search(Pattern("missing\\*")), (std::vector<std::string>{"<error 3>"}));
  EXPECT_EQ(Search(Pattern("missing\\deeper\\*")), (std::vector<std::string>{"<error 3>"}));
  EXPECT_EQ(Search(Pattern("c\\*")), (std::vector<std::string>{"<error 267>"}));
  EXPECT_EQ(Search(m_dir.ProgramPath() + "\\"), (std::vector<std::string>{"<error 2>"}));

  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(Pattern("*").c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  // A search handle is not a kernel handle, and a file handle is no search.
  EXPECT_FALSE(CloseHandle(hFind));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FindClose(hFind));
  EXPECT_FALSE(FindClose(hFind));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindNextFileA(hFind, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE hFile = CreateFileA(Pattern("Z").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindClose(hFile));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(hFile));
}

TEST(PlatformFindRootTest, RootListsNoDotEntries) {
  std::vector<std::string> vecNames = Search("\\*");
  ASSERT_FALSE(vecNames.empty());
  EXPECT_NE(vecNames.front(), ".");
  EXPECT_NE(std::find(vecNames.begin(), vecNames.end(), "tmp"), vecNames.end());
}

}  // namespace
