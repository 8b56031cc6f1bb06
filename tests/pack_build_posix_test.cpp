// Builds under conditions only POSIX lets a test arrange: writes that fail
// at a file-size limit, paths longer than a path buffer, and the LZMA SDK's
// own tool decoding what a compressed build stored.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

// Runs lzma_alone d IN OUT -f86; true when it exits 0.
bool LzmaAloneDecode(const fs::path& in, const fs::path& out) {
  pid_t pid = fork();
  if (pid == 0) {
    // Its banner and progress are of no interest.
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
    execlp("lzma_alone", "lzma_alone", "d", in.c_str(), out.c_str(), "-f86", static_cast<char*>(nullptr));
    _exit(127);
  }
  int nStatus = 0;
  return pid > 0 && waitpid(pid, &nStatus, 0) == pid && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

class BuildPosixTest : public ::testing::Test {
 protected:
  BuildPosixTest() { fs::create_directory(m_dir.Path() / "out"); }
  void Write(const fs::path& rel, const std::string& strBytes) {
    fs::create_directories((m_dir.Path() / rel).parent_path());
    WriteFileBytes(m_dir.Path() / rel, strBytes);
  }
  bool Build(const std::string& strRoot, bool bCompress, bool bDeleteSrc) {
    CPackFile file;
    file.SetRootPath(m_dir.ProgramPath(strRoot).c_str());
    file.CollectFiles(m_dir.ProgramPath(strRoot).c_str());
    return file.CreatePack(m_dir.ProgramPath(strRoot).c_str(), m_dir.ProgramPath("out").c_str(), bCompress, nullptr,
                           nullptr, bDeleteSrc);
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(BuildPosixTest, AFailingWriteKeepsTheOldPackAndEverySource) {
  for (int i = 0; i < 3; ++i) Write("client/f" + std::to_string(i) + ".bin", RandomBytes(40000, i));
  const std::string strOld = "an earlier pack";
  WriteFileBytes(m_dir.Path() / "out" / "client.pak", strOld);
  bool bBuilt;
  DWORD dwError;
  {
    CFileSizeLimit limit(64 * 1024);
    bBuilt = Build("client", false, true);
    dwError = GetLastError();
  }
  EXPECT_FALSE(bBuilt);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), dwError);
  EXPECT_EQ(strOld, ReadFileBytes(m_dir.Path() / "out" / "client.pak"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(m_dir.Path() / "out"), fs::directory_iterator()));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / ("f" + std::to_string(i) + ".bin")));
}

TEST_F(BuildPosixTest, APathLongerThanAPathBufferFailsTheBuild) {
  fs::path deep = "client";
  for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i));
  Write("client/short.txt", "s");
  Write(deep / "deep.txt", "d");
  EXPECT_FALSE(Build("client", false, true));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "out" / "client.pak"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "short.txt"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / deep / "deep.txt"));
}

TEST_F(BuildPosixTest, LzmaAloneDecodesEveryCompressedEntry) {
  std::string strText;
  for (int i = 0; i < 3000; ++i) strText += "entry " + std::to_string(i * 7 % 101) + ";\n";
  Write("client/text.txt", strText);
  Write("client/empty.txt", "");
  Write("client/random.bin", RandomBytes(50000, 9));
  Write("client/elf.bin", ReadFileBytes("/bin/sh"));  // exercises the x86 filter
  ASSERT_TRUE(Build("client", true, false));
  CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / "out" / "client.pak");
  ASSERT_EQ(4u, pack.vecEntries.size());
  for (const PackEntry& entry : pack.vecEntries) {
    const std::string strName = FieldString(entry.szName, kPackNameSize);
    SCOPED_TRACE(strName);
    WriteFileBytes(m_dir.Path() / "stream.lzma", pack.StoredBytes(entry));
    ASSERT_TRUE(LzmaAloneDecode(m_dir.Path() / "stream.lzma", m_dir.Path() / "decoded"));
    const std::string strFile = strName.substr(strName.find('\\') + 1);
    EXPECT_EQ(ReadFileBytes(m_dir.Path() / "client" / strFile), ReadFileBytes(m_dir.Path() / "decoded"));
  }
}

}  // namespace
