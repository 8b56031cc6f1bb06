// A merge that runs out of space: the file-size limit of the process stands
// in for a full disk, so the pack's and the journal's writes fail as they
// would there. Either way the pack stays exactly as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

class MergeDiskFull : public ::testing::Test {
 protected:
  MergeDiskFull() {
    std::filesystem::current_path(m_dir.Path());
    CTestPack client("res");
    client.AddEntry("res\\ui\\a.txt", std::string(100, 'a'), "t1");
    client.AddEntry("res\\ui\\b.txt", std::string(100, 'b'), "t2");
    client.AddTreeForEntries();
    client.WriteTo(m_dir.Path() / "client.pak");
    m_strBefore = ReadFileBytes(m_dir.Path() / "client.pak");
  }

  // Merges with every file of the process limited to nLimit bytes.
  int MergeLimited(const CTestPack& update, rlim_t nLimit, DWORD& dwError) {
    update.WriteTo(m_dir.Path() / "update.pak");
    CFileSizeLimit limit(nLimit);
    CRealizePack realize;
    int nResult = realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str());
    dwError = GetLastError();
    return nResult;
  }

  void ExpectOldPack() {
    EXPECT_EQ(m_strBefore, ReadFileBytes(m_dir.Path() / "client.pak"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "client.pak.journal"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "client.pak.journal.new"));
    CPackFile file;
    EXPECT_TRUE(file.Open(m_dir.ProgramPath("client.pak")));
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  std::string m_strBefore;
};

TEST_F(MergeDiskFull, FailedAppendRollsBackToTheOldPack) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "small", "u1");                    // in place
  update.AddEntry("res\\ui\\b.txt", std::string(200000, 'B'), "u2");  // must be appended
  DWORD dwError = 0;
  EXPECT_EQ(0, MergeLimited(update, m_strBefore.size() + 4096, dwError));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), dwError);  // EFBIG
  ExpectOldPack();
}

TEST_F(MergeDiskFull, JournalThatDoesNotFitLeavesThePackUntouched) {
  // The journal holds the header and the index regions (the part of the
  // pack from offset 260 on): more than 100 bytes.
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "small", "u1");
  DWORD dwError = 0;
  EXPECT_EQ(0, MergeLimited(update, 100, dwError));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), dwError);
  ExpectOldPack();
}

}  // namespace
