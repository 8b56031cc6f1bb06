// Builds driven by "ConfigDir.txt" and by file lists, on real trees: how
// lines are split, which lines count, and the packs that come out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

// Entry names in the order of their bytes in the data area.
std::vector<std::string> DataNames(const CTestPack& pack) {
  std::vector<PackEntry> vecEntries = pack.vecEntries;
  std::sort(vecEntries.begin(), vecEntries.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.dwOffset < b.dwOffset; });
  std::vector<std::string> vecNames;
  for (const PackEntry& entry : vecEntries) vecNames.push_back(FieldString(entry.szName, kPackNameSize));
  return vecNames;
}

// A work directory "Data" holding ui\icon.tga, maps\town\t.txt and
// readme.txt, made current.
class ListTest : public ::testing::Test {
 protected:
  ListTest() {
    Write("Data/ui/icon.tga", "icon");
    Write("Data/maps/town/t.txt", "town");
    Write("Data/readme.txt", "readme");
    fs::current_path(Work());
  }
  fs::path Work() const { return m_dir.Path() / "Data"; }
  void Write(const std::string& strRel, const std::string& strBytes) {
    fs::create_directories((m_dir.Path() / strRel).parent_path());
    WriteFileBytes(m_dir.Path() / strRel, strBytes);
  }
  // Runs a whole ConfigDir.txt build and returns the pack it wrote.
  CTestPack PackConfig(const std::string& strList, bool bCompress = false) {
    WriteFileBytes(Work() / "ConfigDir.txt", strList);
    fs::current_path(Work());  // the walk of an earlier build moved it
    CPackFile file;
    file.PackConfigDirs(bCompress);
    return CTestPack::ReadFrom(Work() / "data.pak");
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(ListTest, ConfigDirLinesAreWalkedInFileOrder) {
  struct Case {
    const char* pszList;
    std::vector<std::string> vecNames;
  };
  const std::vector<std::string> vecUiTown = {"data\\ui\\icon.tga", "data\\maps\\town\\t.txt"};
  const std::vector<Case> vecCases = {
      {"ui\r\nmaps\\town\r\n", vecUiTown},
      {"ui\r\nmaps\\town", vecUiTown},                           // last line without CR LF
      {"ui\rmaps\\town\r", {"data\\ui\\icon.tga", "data\\aps\\town\\t.txt"}},  // CR drops the next byte
      {"\r\n\r\nui\r\n\r\n\r\nmaps\\town\r\n\r\n", vecUiTown},   // blank lines
      {"ui\r", {"data\\ui\\icon.tga"}},                          // CR as the last byte
      {"ui\nmaps\\town\n", {}},                                  // LF alone ends no line
      {"readme.txt\r\n", {"data\\readme.txt"}},                  // a line naming a file
      {"ui\r\nui\r\nui", {"data\\ui\\icon.tga"}},                // repeated lines
      {"", {}},
  };
  Write("Data/aps/town/t.txt", "not maps");
  for (const Case& testCase : vecCases) {
    SCOPED_TRACE(testCase.pszList);
    CTestPack pack = PackConfig(testCase.pszList);
    EXPECT_EQ("data", RootOf(pack.header));
    EXPECT_EQ(testCase.vecNames, DataNames(pack));
    EXPECT_EQ(static_cast<int32_t>(pack.vecEntries.size()), pack.header.nEntryCount);
    uint32_t dwEnd = kPackHeaderSize;
    for (const PackEntry& entry : pack.vecEntries) dwEnd += entry.dwStoredSize;
    EXPECT_EQ(dwEnd, pack.header.dwIndexOffset);
    EXPECT_EQ("", pack.strAfterDirs);
  }
}

TEST_F(ListTest, WithoutAListTheEmptyPackIsStillWritten) {
  CPackFile file;
  file.PackConfigDirs(true);
  EXPECT_EQ(kPackHeaderSize, fs::file_size(Work() / "data.pak"));
}

TEST_F(ListTest, CompressedConfigBuild) {
  CTestPack pack = PackConfig("ui\r\n", true);
  EXPECT_EQ(1, pack.header.byCompressed);
  ASSERT_EQ(1u, pack.vecEntries.size());
  EXPECT_EQ('\x01', pack.StoredBytes(pack.vecEntries[0])[0]);
}

TEST_F(ListTest, AnOverlongConfigLineBuildsNothing) {
  WriteFileBytes(Work() / "data.pak", "earlier pack");
  WriteFileBytes(Work() / "ConfigDir.txt", "ui\r\n" + std::string(260, 'x') + "\r\n");
  CPackFile file;
  file.PackConfigDirs(false);
  EXPECT_EQ("earlier pack", ReadFileBytes(Work() / "data.pak"));
}

// The example of a file list: root line, a file with trailing spaces, the
// same file again in lower case, and a last line without CR LF.
TEST_F(ListTest, FileListSetsTheRootAndListsEachFileOnce) {
  const std::string strData = m_dir.ProgramPath("Data");
  const std::string strList = strData + "\r\n" + strData + "\\UI\\Icon.tga   \r\n\r\n" + m_dir.ProgramPath("data") +
                              "\\ui\\icon.tga\r\n" + strData + "\\Readme.txt";
  WriteFileBytes(m_dir.Path() / "list.txt", strList);
  CPackFile file;
  ASSERT_TRUE(file.ReadFileList(m_dir.ProgramPath("list.txt").c_str()));
  char szOut[MAX_PATH] = {};
  ASSERT_TRUE(file.CreatePack(strData.c_str(), m_dir.ProgramPath().c_str(), false, szOut, nullptr, false));
  // The destination directory comes back lowered, like every build path.
  std::string strExpected = m_dir.ProgramPath() + "\\data.pak";
  std::transform(strExpected.begin(), strExpected.end(), strExpected.begin(),
                 [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; });
  EXPECT_EQ(strExpected, szOut);
  CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / "data.pak");
  EXPECT_EQ("data", RootOf(pack.header));
  EXPECT_EQ((std::vector<std::string>{"data\\ui\\icon.tga", "data\\readme.txt"}), DataNames(pack));
  // The tree is anchored at the root's name.
  ASSERT_EQ(3u, pack.vecDirs.size());
  EXPECT_EQ("data\\ui", FieldString(pack.vecDirs[0].szFullPath, kPackNameSize));
}

TEST_F(ListTest, ALoneLineWithoutCrLfIsAFile) {
  const std::string strFile = m_dir.ProgramPath("Data/readme.txt");
  WriteFileBytes(m_dir.Path() / "list.txt", strFile);
  CPackFile file;
  ASSERT_TRUE(file.ReadFileList(m_dir.ProgramPath("list.txt").c_str()));
  // No pack name: the pack is ".pak" and the entry is the whole path.
  ASSERT_TRUE(file.CreatePack(strFile.c_str(), m_dir.ProgramPath().c_str(), false, nullptr, nullptr, false));
  CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / ".pak");
  ASSERT_EQ(1u, pack.vecEntries.size());
  std::string strLower = strFile;
  std::transform(strLower.begin(), strLower.end(), strLower.begin(),
                 [](char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; });
  EXPECT_EQ(strLower, FieldString(pack.vecEntries[0].szName, kPackNameSize));
}

TEST_F(ListTest, UnreadableOrOverlongListsChangeNothing) {
  CPackFile file;
  EXPECT_FALSE(file.ReadFileList(m_dir.ProgramPath("missing.txt").c_str()));
  WriteFileBytes(m_dir.Path() / "long.txt", m_dir.ProgramPath("Other") + "\r\n" + std::string(260, 'y'));
  EXPECT_FALSE(file.ReadFileList(m_dir.ProgramPath("long.txt").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());

  // Neither list set the root: the next one does.
  WriteFileBytes(m_dir.Path() / "list.txt", m_dir.ProgramPath("Data") + "\r\n" + m_dir.ProgramPath("Data/readme.txt"));
  ASSERT_TRUE(file.ReadFileList(m_dir.ProgramPath("list.txt").c_str()));
  ASSERT_TRUE(file.CreatePack(m_dir.ProgramPath("Data").c_str(), m_dir.ProgramPath().c_str(), false, nullptr, nullptr,
                              false));
  EXPECT_EQ(std::vector<std::string>{"data\\readme.txt"}, DataNames(CTestPack::ReadFrom(m_dir.Path() / "data.pak")));
}

}  // namespace
