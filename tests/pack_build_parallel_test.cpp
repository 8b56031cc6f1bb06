// Builds with several workers against builds with one, on a real tree of
// text, x86 code and random bytes: the packs must be the same file byte for
// byte, and a failure part way must end a parallel build as cleanly as a
// serial one.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

std::string Text(size_t nSize, unsigned nSeed) {
  static const char* const kWords[] = {"sword ", "quest ", "level ", "gold ", "map\r\n", "npc ", "potion ", "gate "};
  std::mt19937 random(nSeed);
  std::string str;
  while (str.size() < nSize) str += kWords[random() % 8];
  str.resize(nSize);
  return str;
}

// Slices of this test program itself: real x86 code on every platform.
std::string Code(size_t nSize, size_t nOffset) {
  char szPath[MAX_PATH] = {};
  const DWORD dwLength = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  EXPECT_GT(dwLength, 0u);
  CScopedHandle hFile(CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(static_cast<bool>(hFile));
  const DWORD dwFileSize = GetFileSize(hFile.Get(), nullptr);
  std::string str(nSize, '\0');
  DWORD dwRead = 0;
  SetFilePointer(hFile.Get(), static_cast<LONG>(nOffset % (dwFileSize / 2)), nullptr, FILE_BEGIN);
  ReadFile(hFile.Get(), &str[0], static_cast<DWORD>(nSize), &dwRead, nullptr);
  str.resize(dwRead);
  return str;
}

// A file by the path the program sees (code page 936, backslashes).
std::string ReadProgramFile(const std::string& strPath) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return "<missing>";
  std::string str(GetFileSize(hFile.Get(), nullptr), '\0');
  DWORD dwRead = 0;
  if (!str.empty()) ReadFile(hFile.Get(), &str[0], static_cast<DWORD>(str.size()), &dwRead, nullptr);
  str.resize(dwRead);
  return str;
}

class BuildParallelTest : public ::testing::Test {
 protected:
  BuildParallelTest() { fs::create_directory(m_dir.Path() / "out"); }

  void Write(const std::string& strRel, const std::string& strBytes) {
    const fs::path path = m_dir.Path() / Utf8Path(strRel);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, strBytes);
  }

  // 74 files below client/ in nested directories, of every kind and of
  // sizes from nothing to a quarter of a MiB.
  void WriteTree() {
    for (unsigned i = 0; i < 24; ++i) {
      const std::string strDir = "client/" + std::string(i % 3 == 0 ? "ui" : i % 3 == 1 ? "bin/x86" : "地图") + "/";
      Write(strDir + "text" + std::to_string(i) + ".txt", Text(100 + i * 997, i));
      Write(strDir + "code" + std::to_string(i) + ".dll", Code(2048 + i * 3001, i * 65536));
      Write(strDir + "noise" + std::to_string(i) + ".dat", RandomBytes(i * 2001, i));
    }
    Write("client/empty.txt", "");
    Write("client/big.bin", Code(150000, 0) + RandomBytes(100000, 99));
  }

  // Root, walk and write with nWorkers workers; the pack's bytes.
  std::string Build(int nWorkers, bool bCompress, bool bTags, const std::string& strName) {
    CPackFile file;
    file.SetContentTags(bTags);
    file.SetBuildWorkers(nWorkers);
    const std::string strRoot = m_dir.ProgramPath("client");
    file.SetRootPath(strRoot.c_str());
    file.CollectFiles(strRoot.c_str());
    EXPECT_TRUE(file.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), bCompress, nullptr,
                                strName.c_str(), false));
    return ReadFileBytes(m_dir.Path() / "out" / (strName + ".pak"));
  }

  size_t FilesIn(const std::string& strRel) const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(m_dir.Path() / strRel), fs::directory_iterator()));
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(BuildParallelTest, CompressedTaggedPacksAreTheSameFileWhateverTheWorkers) {
  WriteTree();
  const std::string strSerial = Build(1, true, true, "one");
  EXPECT_EQ(strSerial, Build(2, true, true, "two"));
  EXPECT_EQ(strSerial, Build(7, true, true, "seven"));
  EXPECT_EQ(strSerial, Build(0, true, true, "cores"));

  // And the pack holds the tree: every entry decodes to its file.
  const CTestPack pack = CTestPack::Parse(strSerial);
  ASSERT_EQ(74u, pack.vecEntries.size());
  for (const PackEntry& entry : pack.vecEntries) {
    const std::string strName = FieldString(entry.szName, kPackNameSize);
    EXPECT_EQ(ReadProgramFile(m_dir.ProgramPath() + "\\" + strName),
              Lzma86Decode(pack.StoredBytes(entry), entry.dwOrigSize));
    EXPECT_NE('\0', entry.szTag[0]);
  }
}

TEST_F(BuildParallelTest, PlainPacksAreTheSameFileWhateverTheWorkers) {
  WriteTree();
  const std::string strSerial = Build(1, false, false, "one");
  EXPECT_EQ(strSerial, Build(3, false, false, "three"));
  EXPECT_EQ(Build(1, false, true, "tagged1"), Build(16, false, true, "tagged16"));
}

TEST_F(BuildParallelTest, DuplicatesAndMissingFilesAreSkippedAsInASerialBuild) {
  WriteTree();
  auto build = [&](int nWorkers, const std::string& strName) {
    CPackFile file;
    file.SetBuildWorkers(nWorkers);
    const std::string strRoot = m_dir.ProgramPath("client");
    file.SetRootPath(strRoot.c_str());
    file.AddFile(m_dir.ProgramPath("client/ui/text0.txt").c_str());
    file.AddFile(m_dir.ProgramPath("client/missing.txt").c_str());  // cannot be opened
    file.CollectFiles(strRoot.c_str());                              // text0.txt again
    file.AddFile(m_dir.ProgramPath("client/UI/TEXT0.TXT").c_str());  // the same name
    file.AddFile(m_dir.ProgramPath("elsewhere.txt").c_str());        // no entry name
    EXPECT_TRUE(file.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), true, nullptr,
                                strName.c_str(), false));
    return ReadFileBytes(m_dir.Path() / "out" / (strName + ".pak"));
  };
  Write("elsewhere.txt", "outside the root");
  const std::string strSerial = build(1, "one");
  EXPECT_EQ(74, CTestPack::Parse(strSerial).header.nEntryCount);
  EXPECT_EQ(strSerial, build(4, "four"));
}

TEST_F(BuildParallelTest, AFailurePartWayLeavesNoPackAndEverySource) {
  WriteTree();
  // A file of 4 GiB (sparse) in the middle of the walk fails the build
  // while the workers hold the entries around it.
  Write("client/bin/x86/zz.bin", "");
  fs::resize_file(m_dir.Path() / "client" / "bin" / "x86" / "zz.bin", 0x100000000ull);
  CPackFile file;
  file.SetBuildWorkers(4);
  const std::string strRoot = m_dir.ProgramPath("client");
  file.SetRootPath(strRoot.c_str());
  file.CollectFiles(strRoot.c_str());
  EXPECT_FALSE(
      file.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), true, nullptr, nullptr, true));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), GetLastError());
  EXPECT_EQ(0u, FilesIn("out"));
  EXPECT_EQ(24u + 1, FilesIn("client/bin/x86"));

  // Run again without it: the pack a one-worker build writes.
  fs::remove(m_dir.Path() / "client" / "bin" / "x86" / "zz.bin");
  ASSERT_TRUE(file.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), true, nullptr, "again", false));
  EXPECT_EQ(Build(1, true, false, "one"), ReadFileBytes(m_dir.Path() / "out" / "again.pak"));
}

TEST_F(BuildParallelTest, APathTooLongForAPathBufferFailsAParallelBuild) {
  WriteTree();
  CPackFile file;
  file.SetBuildWorkers(3);
  const std::string strRoot = m_dir.ProgramPath("client");
  file.SetRootPath(strRoot.c_str());
  file.CollectFiles(strRoot.c_str());
  file.AddFile((strRoot + "\\" + std::string(MAX_PATH, 'x')).c_str());
  file.CollectFiles(strRoot.c_str());
  EXPECT_FALSE(
      file.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), false, nullptr, nullptr, true));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
  EXPECT_EQ(0u, FilesIn("out"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "big.bin"));
}

}  // namespace
