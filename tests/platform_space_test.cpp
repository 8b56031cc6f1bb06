// GetDiskFreeSpaceExA on a directory with a GBK name, the errors of paths
// that are not directories, and the fault injector's cap on what it reports.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fault_space.h"
#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct CSpace {
  ULARGE_INTEGER free;
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
};

bool Query(const char* pszDir, CSpace& space) {
  return GetDiskFreeSpaceExA(pszDir, &space.free, &space.total, &space.totalFree) != FALSE;
}

TEST(PlatformSpaceTest, ReportsTheVolumeOfADirectory) {
  CTempDir dir;
  fs::create_directory(dir.Path() / Utf8Path("资源"));
  for (const std::string& strDir : {dir.ProgramPath("资源"), dir.ProgramPath("资源") + "\\"}) {
    SCOPED_TRACE(strDir);
    CSpace space;
    ASSERT_TRUE(Query(strDir.c_str(), space)) << GetLastError();
    EXPECT_GT(space.free.QuadPart, 0u);
    EXPECT_LE(space.free.QuadPart, space.totalFree.QuadPart);
    EXPECT_LE(space.totalFree.QuadPart, space.total.QuadPart);
  }
  // No directory: the current one's volume. Figures that are not wanted
  // may be left out.
  ULARGE_INTEGER free;
  EXPECT_TRUE(GetDiskFreeSpaceExA(nullptr, &free, nullptr, nullptr));
  EXPECT_GT(free.QuadPart, 0u);
}

TEST(PlatformSpaceTest, MissingDirectoryFails) {
  CTempDir dir;
  CSpace space;
  EXPECT_FALSE(Query(dir.ProgramPath("missing\\deeper").c_str(), space));
  const DWORD dwError = GetLastError();
  EXPECT_TRUE(dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_FILE_NOT_FOUND) << dwError;
}

TEST(PlatformSpaceTest, TheCapLimitsTheFreeFiguresOnly) {
  CTempDir dir;
  CSpace before;
  ASSERT_TRUE(Query(dir.ProgramPath().c_str(), before));
  FaultInjectFreeSpace(4096);
  CSpace capped;
  const bool bOk = Query(dir.ProgramPath().c_str(), capped);
  FaultInjectFreeSpace(UINT64_MAX);
  ASSERT_TRUE(bOk);
  EXPECT_EQ(4096u, capped.free.QuadPart);
  EXPECT_EQ(4096u, capped.totalFree.QuadPart);
  EXPECT_EQ(before.total.QuadPart, capped.total.QuadPart);
  CSpace after;
  ASSERT_TRUE(Query(dir.ProgramPath().c_str(), after));
  EXPECT_GT(after.free.QuadPart, 4096u);
}

}  // namespace
