// CopyFileBytes: a stretch of one file into another, by the kernel or
// through the buffer, and the ways it fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fault_inject.h"
#include "platform/file_copy.h"
#include "platform/scoped_handle.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

HANDLE Open(const std::string& strPath, DWORD dwAccess) {
  return CreateFileA(strPath.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

class PlatformCopyTest : public ::testing::Test {
 protected:
  PlatformCopyTest() : m_strSource(RandomBytes(10 * 1024 * 1024 + 333, 5)) {
    WriteFileBytes(m_dir.Path() / "from.bin", m_strSource);
    WriteFileBytes(m_dir.Path() / "to.bin", std::string(100, 'z'));
  }
  // Copies qwLength bytes from offset 7 of from.bin to offset 13 of to.bin.
  bool Copy(uint64_t qwLength, DWORD dwTargetAccess = GENERIC_READ | GENERIC_WRITE) {
    CScopedHandle hFrom(Open(m_dir.ProgramPath("from.bin"), GENERIC_READ));
    CScopedHandle hTo(Open(m_dir.ProgramPath("to.bin"), dwTargetAccess));
    EXPECT_TRUE(hFrom && hTo);
    const bool bOk = CopyFileBytes(hFrom.Get(), 7, hTo.Get(), 13, qwLength);
    m_dwError = GetLastError();
    return bOk;
  }
  std::string Expected(uint64_t qwLength) const {
    std::string str = std::string(13, 'z') + m_strSource.substr(7, qwLength);
    if (str.size() < 100) str += std::string(100 - str.size(), 'z');
    return str;
  }

  CTempDir m_dir;
  std::string m_strSource;
  DWORD m_dwError = ERROR_SUCCESS;
};

TEST_F(PlatformCopyTest, CopiesTheStretchBetweenOffsets) {
  for (const uint64_t qwLength : {uint64_t{0}, uint64_t{50}, uint64_t{m_strSource.size() - 7}}) {
    SCOPED_TRACE(qwLength);
    WriteFileBytes(m_dir.Path() / "to.bin", std::string(100, 'z'));
    ASSERT_TRUE(Copy(qwLength)) << m_dwError;
    EXPECT_TRUE(Expected(qwLength) == ReadFileBytes(m_dir.Path() / "to.bin"));
  }
}

// Armed, the fault injector sees every write: the copy goes through the
// buffer, 4 MiB at a time.
TEST_F(PlatformCopyTest, UnderFaultInjectionEveryWriteIsSeen) {
  FaultInjectArm(FaultMode::kCount, 0);
  const bool bOk = Copy(m_strSource.size() - 7);
  const uint32_t nPoints = FaultInjectPoints();
  FaultInjectDisarm();
  ASSERT_TRUE(bOk);
  EXPECT_EQ(3u, nPoints);
  EXPECT_TRUE(Expected(m_strSource.size() - 7) == ReadFileBytes(m_dir.Path() / "to.bin"));

  FaultInjectArm(FaultMode::kFail, 2);
  EXPECT_FALSE(Copy(m_strSource.size() - 7));
  FaultInjectDisarm();
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), m_dwError);
}

TEST_F(PlatformCopyTest, FailsPastTheSourcesEndOrIntoAReadOnlyHandle) {
  EXPECT_FALSE(Copy(m_strSource.size()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), m_dwError);
  WriteFileBytes(m_dir.Path() / "to.bin", std::string(100, 'z'));
  EXPECT_FALSE(Copy(50, GENERIC_READ));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), m_dwError);
  EXPECT_EQ(std::string(100, 'z'), ReadFileBytes(m_dir.Path() / "to.bin"));
}

}  // namespace
