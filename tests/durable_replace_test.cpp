// The durable replace: a file under a temporary name, flushed and moved over
// the final name; every failure removes the temporary file, leaves the final
// file as it was and keeps the first error.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/durable_replace.h"
#include "platform/fault_inject.h"
#include "platform/file_io.h"
#include "tests/support/temp_dir.h"

namespace {

class DurableReplaceTest : public ::testing::Test {
 protected:
  std::string Final() const { return m_dir.ProgramPath("data.bin"); }
  std::string Temp() const { return m_dir.ProgramPath("data.bin.tmp"); }
  bool TempExists() const { return GetFileAttributesA(Temp().c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::string FinalBytes() const { return ReadFileBytes(m_dir.Path() / "data.bin"); }

  // Replaces Final() with strBytes through the helper.
  bool Replace(const std::string& strBytes) {
    CScopedHandle hTemp = CreateReplacement(Temp(), CREATE_ALWAYS);
    if (!hTemp) return false;
    const bool bWritten = WriteAll(hTemp.Get(), strBytes.data(), strBytes.size());
    return CompleteReplacement(bWritten, hTemp, Temp(), Final());
  }

  CTempDir m_dir;
};

TEST_F(DurableReplaceTest, CreatesOrReplacesTheFinalFile) {
  ASSERT_TRUE(Replace("first"));
  EXPECT_EQ("first", FinalBytes());
  ASSERT_TRUE(Replace("second, longer"));
  EXPECT_EQ("second, longer", FinalBytes());
  EXPECT_FALSE(TempExists());
}

TEST_F(DurableReplaceTest, ALeftoverTemporaryFileIsOverwritten) {
  WriteFileBytes(m_dir.Path() / "data.bin.tmp", "left by a killed run, longer than the new bytes");
  ASSERT_TRUE(Replace("new"));
  EXPECT_EQ("new", FinalBytes());
}

TEST_F(DurableReplaceTest, CreateNewRefusesATakenName) {
  WriteFileBytes(m_dir.Path() / "data.bin.tmp", "someone else's");
  CScopedHandle hTemp = CreateReplacement(Temp(), CREATE_NEW);
  EXPECT_FALSE(hTemp);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
  EXPECT_EQ("someone else's", ReadFileBytes(m_dir.Path() / "data.bin.tmp"));
}

TEST_F(DurableReplaceTest, FailedWritesKeepTheCallersErrorAndTheOldFile) {
  WriteFileBytes(m_dir.Path() / "data.bin", "old");
  CScopedHandle hTemp = CreateReplacement(Temp(), CREATE_ALWAYS);
  ASSERT_TRUE(hTemp);
  ASSERT_TRUE(WriteAll(hTemp.Get(), "part", 4));
  SetLastError(ERROR_DISK_FULL);
  EXPECT_FALSE(CompleteReplacement(false, hTemp, Temp(), Final()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  EXPECT_FALSE(hTemp);
  EXPECT_FALSE(TempExists());
  EXPECT_EQ("old", FinalBytes());
}

TEST_F(DurableReplaceTest, AMoveThatFailsRemovesTheTemporaryFile) {
  CreateDirectoryA(Final().c_str(), nullptr);  // a directory cannot be replaced by a file
  EXPECT_FALSE(Replace("new"));
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  EXPECT_FALSE(TempExists());
  EXPECT_TRUE(GetFileAttributesA(Final().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

// Each call that changes the disk (the write, the flush, the move) failing
// in turn: the old file stays whole, no temporary file is left and the
// error is the failing call's.
TEST_F(DurableReplaceTest, EveryFailingStepLeavesTheOldFile) {
  WriteFileBytes(m_dir.Path() / "data.bin", "old");
  FaultInjectArm(FaultMode::kCount, 0);
  ASSERT_TRUE(Replace("counted"));
  const uint32_t nPoints = FaultInjectPoints();
  FaultInjectDisarm();
  ASSERT_GE(nPoints, 3u);
  ASSERT_TRUE(Replace("old"));

  for (uint32_t nPoint = 1; nPoint <= nPoints; ++nPoint) {
    FaultInjectArm(FaultMode::kFail, nPoint);
    const bool bOk = Replace("new bytes");
    const DWORD dwError = GetLastError();
    FaultInjectDisarm();
    EXPECT_FALSE(bOk) << "point " << nPoint;
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), dwError) << "point " << nPoint;
    EXPECT_FALSE(TempExists()) << "point " << nPoint;
    EXPECT_EQ("old", FinalBytes()) << "point " << nPoint;
  }
}

// A move that was made but could not be made durable (its directory sync
// failed) has replaced the file: true, with the sync's error as the last
// error, so that a caller can tell "done, durability unknown" from both
// "failed" and "done". A durable replacement clears the last error.
TEST_F(DurableReplaceTest, AMoveWhoseSyncFailedHasHappenedAndSaysSo) {
  WriteFileBytes(m_dir.Path() / "data.bin", "old");
  FaultInjectArm(FaultMode::kFailSync, 1);
  const bool bOk = Replace("new");
  const DWORD dwError = GetLastError();
  FaultInjectDisarm();
  EXPECT_TRUE(bOk);
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), dwError);
  EXPECT_EQ("new", FinalBytes());
  EXPECT_FALSE(TempExists());
  SetLastError(ERROR_WRITE_FAULT);
  EXPECT_TRUE(Replace("newer"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

}  // namespace
