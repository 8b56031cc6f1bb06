// Builds whose root directory lies below a path that holds the root name's
// letters elsewhere ("fresh", "andres", "myres" above a root "res"): every
// source of files names its entries from the root directory, and the packs
// extract back to the files they were built from.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

enum class Source { kTree, kFileList, kConfigDir };

struct RootCase {
  const char* pszParent;  // the directories above the root "Res", UTF-8
  Source source;
};

void PrintTo(const RootCase& rootCase, std::ostream* pOut) {
  static const char* const s_apszSources[] = {"tree", "file list", "ConfigDir.txt"};
  *pOut << rootCase.pszParent << "/Res, " << s_apszSources[static_cast<int>(rootCase.source)];
}

// A file of the tree below Res: where it lies (UTF-8, letter case as on
// disk), the entry it must become (UTF-8, '/' between components) and its
// bytes.
struct TreeFile {
  std::string strDisk;
  std::string strEntry;
  std::string strBytes;
};

const std::vector<TreeFile>& Files() {
  static const std::vector<TreeFile> s_vecFiles = {
      {"UI/Title.txt", "res/ui/title.txt", "welcome"},
      {"UI/res/icon.bin", "res/ui/res/icon.bin", RandomBytes(3000, 7)},
      {"地图/Town.map", "res/地图/town.map", RandomBytes(900, 8)},
      {"readme.txt", "res/readme.txt", "read me"},
  };
  return s_vecFiles;
}

// An entry name as the pack stores it.
std::string StoredName(const std::string& strEntry) {
  std::string strName = Gbk(strEntry);
  for (char& ch : strName) ch = ch == '/' ? '\\' : ch;
  return strName;
}

class BuildRootTest : public ::testing::TestWithParam<RootCase> {
 protected:
  BuildRootTest() {
    for (const TreeFile& file : Files()) {
      const fs::path path = RootPath() / Utf8Path(file.strDisk);
      fs::create_directories(path.parent_path());
      WriteFileBytes(path, file.strBytes);
    }
    fs::create_directories(m_dir.Path() / "out");
  }

  fs::path RootPath() const { return m_dir.Path() / Utf8Path(GetParam().pszParent) / "Res"; }
  std::string RootProgramPath() const { return ToProgramPath(RootPath()); }

  // Builds res.pak into out/ from the case's source; returns the pack's path.
  fs::path BuildPack() {
    CPackFile pack;
    switch (GetParam().source) {
      case Source::kTree:
        pack.SetRootPath(RootProgramPath().c_str());
        pack.CollectFiles(RootProgramPath().c_str());
        EXPECT_TRUE(pack.CreatePack(RootProgramPath().c_str(), m_dir.ProgramPath("out").c_str(), false, nullptr,
                                    nullptr, false));
        return m_dir.Path() / "out" / "res.pak";
      case Source::kFileList: {
        // Root line and file lines spelt in other letter cases.
        std::string strList = RootProgramPath() + "\r\n";
        for (const TreeFile& file : Files()) strList += ToProgramPath(RootPath() / Utf8Path(file.strDisk)) + "\r\n";
        WriteFileBytes(m_dir.Path() / "files.lst", strList);
        EXPECT_TRUE(pack.ReadFileList(m_dir.ProgramPath("files.lst").c_str()));
        EXPECT_TRUE(pack.CreatePack(RootProgramPath().c_str(), m_dir.ProgramPath("out").c_str(), false, nullptr,
                                    nullptr, false));
        return m_dir.Path() / "out" / "res.pak";
      }
      case Source::kConfigDir:
        WriteFileBytes(RootPath() / "ConfigDir.txt", Gbk("UI\r\n地图\r\nreadme.txt"));
        fs::current_path(RootPath());
        pack.PackConfigDirs(false);
        return RootPath() / "res.pak";
    }
    return {};
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_P(BuildRootTest, EntriesAreNamedFromTheRootDirectoryAndExtractBack) {
  const fs::path packPath = BuildPack();
  const CTestPack built = CTestPack::ReadFrom(packPath);
  std::map<std::string, std::string> mapBuilt;
  for (const PackEntry& entry : built.vecEntries) {
    mapBuilt[FieldString(entry.szName, kPackNameSize)] = built.StoredBytes(entry);
  }
  std::map<std::string, std::string> mapExpected;
  for (const TreeFile& file : Files()) mapExpected[StoredName(file.strEntry)] = file.strBytes;
  EXPECT_EQ(mapExpected, mapBuilt);

  // The directory table agrees: extracting the root gives the tree again.
  CPackFile pack;
  ASSERT_TRUE(pack.Open(ToProgramPath(packPath)));
  const fs::path out = m_dir.Path() / Utf8Path("x res 目录");
  fs::create_directories(out);
  fs::current_path(out);
  ASSERT_EQ(1, pack.ExtractPath("res", 1, "unused"));
  for (const TreeFile& file : Files()) EXPECT_EQ(file.strBytes, ReadFileBytes(out / Utf8Path(file.strEntry))) << file.strEntry;
}

INSTANTIATE_TEST_SUITE_P(
    RootsAndSources, BuildRootTest,
    ::testing::Values(RootCase{"tmp/fresh", Source::kTree}, RootCase{"tmp/fresh", Source::kFileList},
                      RootCase{"tmp/fresh", Source::kConfigDir}, RootCase{"home/andres", Source::kTree},
                      RootCase{"home/andres", Source::kFileList}, RootCase{"home/andres", Source::kConfigDir},
                      RootCase{"x/myres", Source::kTree}, RootCase{"x/myres", Source::kFileList},
                      RootCase{"x/myres", Source::kConfigDir}, RootCase{"用户/res 资源", Source::kTree}));

}  // namespace
