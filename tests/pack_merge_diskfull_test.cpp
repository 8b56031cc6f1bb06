// A merge that runs out of space: the file-size limit of the process stands
// in for a full disk, so the pack's writes fail as they would there.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

TEST(MergeDiskFull, FailedAppendIsReportedAndThePackStillOpens) {
  CTempDir dir;
  CCurrentDirGuard cwd;
  std::filesystem::current_path(dir.Path());
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", std::string(100, 'a'), "t1");
  client.AddEntry("res\\ui\\b.txt", std::string(100, 'b'), "t2");
  client.AddTreeForEntries();
  client.WriteTo(dir.Path() / "client.pak");
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "small", "u1");                    // in place
  update.AddEntry("res\\ui\\b.txt", std::string(200000, 'B'), "u2");  // must be appended
  update.WriteTo(dir.Path() / "update.pak");
  const auto nClientSize = std::filesystem::file_size(dir.Path() / "client.pak");

  int nResult;
  DWORD dwError;
  {
    CFileSizeLimit limit(nClientSize + 4096);
    CRealizePack realize;
    nResult = realize.MergePack(dir.ProgramPath("update.pak").c_str(), dir.ProgramPath("client.pak").c_str());
    dwError = GetLastError();
  }
  EXPECT_EQ(0, nResult);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), dwError);  // EFBIG

  CPackFile file;
  ASSERT_TRUE(file.Open(dir.ProgramPath("client.pak")));
  CTestPack merged = CTestPack::ReadFrom(dir.Path() / "client.pak");
  EXPECT_EQ("", merged.strAfterDirs);
  EXPECT_EQ("small", merged.StoredBytes(*merged.FindEntry("res\\ui\\a.txt")));
  EXPECT_EQ(std::string(100, 'b'), merged.StoredBytes(*merged.FindEntry("res\\ui\\b.txt")));
}

}  // namespace
