// Module path and the thread-local last error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(PlatformModuleTest, ModuleFileNameIsTheExecutableInWin32Form) {
  const std::string strExpected = ToProgramPath(fs::read_symlink("/proc/self/exe"));
  char szPath[MAX_PATH];
  DWORD nLength = GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
  ASSERT_EQ(nLength, strExpected.size());
  EXPECT_EQ(std::string(szPath), strExpected);
  EXPECT_EQ(szPath[0], '\\');
  EXPECT_EQ(GetFileAttributesA(szPath), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

TEST(PlatformModuleTest, TooSmallBufferIsFilledAndTerminated) {
  const std::string strExpected = ToProgramPath(fs::read_symlink("/proc/self/exe"));
  char szSmall[8];
  std::memset(szSmall, '#', sizeof(szSmall));
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileNameA(nullptr, szSmall, 6), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(szSmall), strExpected.substr(0, 5));
  EXPECT_EQ(szSmall[6], '#');

  // Exactly the length leaves no room for the terminator.
  std::string strExact(strExpected.size(), '#');
  EXPECT_EQ(GetModuleFileNameA(nullptr, &strExact[0], static_cast<DWORD>(strExact.size())), strExact.size());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(strExact.c_str()), strExpected.substr(0, strExpected.size() - 1));
}

TEST(PlatformLastErrorTest, IsPerThread) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD dwOther = 0;
  std::thread worker([&] {
    dwOther = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  });
  worker.join();
  EXPECT_EQ(dwOther, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
