// Share modes as Windows enforces them, between handles of one process and
// between processes, and their effect on deleting and renaming.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "tests/support/handle_ptr.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

CHandlePtr Open(const std::string& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition = OPEN_EXISTING) {
  return CHandlePtr(CreateFileA(strPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition, 0, nullptr));
}

// ERROR_SUCCESS when the open is granted (and then closed), else its error.
DWORD TryOpen(const std::string& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition = OPEN_EXISTING) {
  CHandlePtr spFile = Open(strPath, dwAccess, dwShare, dwDisposition);
  return spFile.get() == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

// Runs fnChild in a forked child and returns its exit status.
template <typename TFunc>
int RunInChild(TFunc fnChild) {
  pid_t nPid = fork();
  if (nPid == 0) _exit(fnChild());
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

class PlatformShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(m_dir.Path() / "f.txt", "content");
    m_strPath = m_dir.ProgramPath("f.txt");
  }

  CTempDir m_dir;
  std::string m_strPath;
};

const DWORD kOk = ERROR_SUCCESS;
const DWORD kViolation = ERROR_SHARING_VIOLATION;

TEST_F(PlatformShareTest, OpensConflictWithinOneProcess) {
  CHandlePtr spReader = Open(m_strPath, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(spReader.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, FILE_SHARE_READ), kOk);
  // The reader does not share writing.
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_WRITE, kShareAll), kViolation);
  // A new open must share what the reader already has.
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, FILE_SHARE_WRITE), kViolation);
  // Attribute-only opens neither check nor conflict.
  EXPECT_EQ(TryOpen(m_strPath, 0, 0), kOk);
  spReader.reset();
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ | GENERIC_WRITE, 0), kOk);

  CHandlePtr spWriter = Open(m_strPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(spWriter.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, FILE_SHARE_READ), kViolation);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), kOk);
}

TEST_F(PlatformShareTest, RefusedCreateAlwaysLeavesTheFileAlone) {
  CHandlePtr spHolder = Open(m_strPath, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(spHolder.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_WRITE, kShareAll, CREATE_ALWAYS), kViolation);
  EXPECT_EQ(ReadFileBytes(m_dir.Path() / "f.txt"), "content");
}

TEST_F(PlatformShareTest, DeleteAndRenameNeedDeleteSharing) {
  {
    CHandlePtr spHolder = Open(m_strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(DeleteFileA(m_strPath.c_str()));
    EXPECT_EQ(GetLastError(), kViolation);
    EXPECT_FALSE(MoveFileExA(m_strPath.c_str(), m_dir.ProgramPath("g.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), kViolation);
    // An open file cannot be replaced either.
    WriteFileBytes(m_dir.Path() / "new.txt", "new");
    EXPECT_FALSE(MoveFileExA(m_dir.ProgramPath("new.txt").c_str(), m_strPath.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_TRUE(fs::exists(m_dir.Path() / "f.txt"));
  {
    CHandlePtr spHolder = Open(m_strPath, GENERIC_READ, kShareAll);
    // Shared for deletion, it still cannot be replaced: its name stays
    // taken until its last handle is closed.
    EXPECT_FALSE(MoveFileExA(m_dir.ProgramPath("new.txt").c_str(), m_strPath.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(MoveFileExA(m_strPath.c_str(), m_dir.ProgramPath("g.txt").c_str(), 0));
    EXPECT_TRUE(DeleteFileA(m_dir.ProgramPath("g.txt").c_str()));
  }
  EXPECT_FALSE(fs::exists(m_dir.Path() / "g.txt"));
}

TEST_F(PlatformShareTest, MappingKeepsTheShareModeAfterTheFileHandleCloses) {
  HANDLE hFile = CreateFileA(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
  HANDLE hMapping = CreateFileMappingA(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(hMapping, nullptr);
  CloseHandle(hFile);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_WRITE, kShareAll), kViolation);
  CloseHandle(hMapping);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_WRITE, kShareAll), kOk);
}

TEST_F(PlatformShareTest, ChildProcessSeesTheParentsShareMode) {
  CHandlePtr spHolder = Open(m_strPath, GENERIC_WRITE, FILE_SHARE_READ);
  ASSERT_NE(spHolder.get(), INVALID_HANDLE_VALUE);
  const std::string strPath = m_strPath;
  EXPECT_EQ(RunInChild([&] { return static_cast<int>(TryOpen(strPath, GENERIC_READ, FILE_SHARE_READ)); }),
            static_cast<int>(kViolation));
  EXPECT_EQ(RunInChild([&] { return static_cast<int>(TryOpen(strPath, GENERIC_READ, kShareAll)); }),
            static_cast<int>(kOk));
  EXPECT_EQ(RunInChild([&] { return DeleteFileA(strPath.c_str()) ? 0 : static_cast<int>(GetLastError()); }),
            static_cast<int>(kViolation));
}

TEST_F(PlatformShareTest, ParentSeesTheChildsShareModeUntilItExits) {
  int anReady[2];
  int anRelease[2];
  ASSERT_EQ(pipe(anReady), 0);
  ASSERT_EQ(pipe(anRelease), 0);
  const std::string strPath = m_strPath;
  pid_t nPid = fork();
  if (nPid == 0) {
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char ch = hFile != INVALID_HANDLE_VALUE ? 'y' : 'n';
    ssize_t nIgnored = write(anReady[1], &ch, 1);
    nIgnored = read(anRelease[0], &ch, 1);
    (void)nIgnored;
    _exit(0);  // the open is never closed: the process's end releases it
  }
  char ch = 0;
  ASSERT_EQ(read(anReady[0], &ch, 1), 1);
  ASSERT_EQ(ch, 'y');
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, kShareAll), kViolation);
  ASSERT_EQ(write(anRelease[1], "x", 1), 1);
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, kShareAll), kOk);
  for (int nFd : {anReady[0], anReady[1], anRelease[0], anRelease[1]}) close(nFd);
}

// Byte-range locks as LockFileEx takes them: held by the handle, whichever
// process it lives in, beside the share-mode records without touching them.
BOOL LockAt(HANDLE hFile, uint64_t qwOffset, DWORD dwFlags) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(qwOffset);
  overlapped.OffsetHigh = static_cast<DWORD>(qwOffset >> 32);
  return LockFileEx(hFile, dwFlags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &overlapped);
}

BOOL UnlockAt(HANDLE hFile, uint64_t qwOffset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(qwOffset);
  overlapped.OffsetHigh = static_cast<DWORD>(qwOffset >> 32);
  return UnlockFileEx(hFile, 0, 1, 0, &overlapped);
}

TEST_F(PlatformShareTest, ByteRangeLocksConflictBetweenHandles) {
  const uint64_t qwFar = uint64_t(1) << 32;
  CHandlePtr spFirst = Open(m_strPath, GENERIC_READ | GENERIC_WRITE, kShareAll);
  CHandlePtr spSecond = Open(m_strPath, GENERIC_READ | GENERIC_WRITE, kShareAll);
  ASSERT_TRUE(LockAt(spFirst.get(), qwFar, LOCKFILE_EXCLUSIVE_LOCK));
  EXPECT_FALSE(LockAt(spSecond.get(), qwFar, LOCKFILE_EXCLUSIVE_LOCK));
  EXPECT_EQ(static_cast<DWORD>(ERROR_LOCK_VIOLATION), GetLastError());
  EXPECT_FALSE(LockAt(spSecond.get(), qwFar, 0));
  EXPECT_TRUE(LockAt(spSecond.get(), qwFar + 1, LOCKFILE_EXCLUSIVE_LOCK)) << "the next byte is free";
  // The share modes are not disturbed by the locks, nor the locks by them.
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, kShareAll), kOk);
  EXPECT_EQ(TryOpen(m_strPath, GENERIC_READ, FILE_SHARE_READ), kViolation);

  ASSERT_TRUE(UnlockAt(spFirst.get(), qwFar));
  EXPECT_TRUE(LockAt(spSecond.get(), qwFar, 0));
  EXPECT_TRUE(LockAt(spFirst.get(), qwFar, 0)) << "shared locks share";
  EXPECT_FALSE(LockAt(spFirst.get(), qwFar + 1, 0));
  // Closing a handle releases what it held.
  spSecond.reset();
  EXPECT_TRUE(LockAt(spFirst.get(), qwFar + 1, LOCKFILE_EXCLUSIVE_LOCK));

  OVERLAPPED overlapped = {};
  EXPECT_FALSE(LockFileEx(spFirst.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 0, 0, &overlapped)) << "zero length";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  overlapped.OffsetHigh = 0x7FFFFFFF;
  overlapped.Offset = 0xFFFF0000;
  EXPECT_FALSE(LockFileEx(spFirst.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped)) << "the share-mode records";
}

TEST_F(PlatformShareTest, AByteRangeLockLastsAsLongAsTheProcessHoldingIt) {
  const uint64_t qwFar = uint64_t(1) << 32;
  int anReady[2];
  int anRelease[2];
  ASSERT_EQ(pipe(anReady), 0);
  ASSERT_EQ(pipe(anRelease), 0);
  const std::string strPath = m_strPath;
  pid_t nPid = fork();
  if (nPid == 0) {
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    char ch = hFile != INVALID_HANDLE_VALUE && LockAt(hFile, qwFar, LOCKFILE_EXCLUSIVE_LOCK) ? 'y' : 'n';
    ssize_t nIgnored = write(anReady[1], &ch, 1);
    nIgnored = read(anRelease[0], &ch, 1);
    (void)nIgnored;
    _exit(0);  // neither unlocked nor closed
  }
  char ch = 0;
  ASSERT_EQ(read(anReady[0], &ch, 1), 1);
  ASSERT_EQ(ch, 'y');
  CHandlePtr spFile = Open(m_strPath, GENERIC_READ | GENERIC_WRITE, kShareAll);
  EXPECT_FALSE(LockAt(spFile.get(), qwFar, LOCKFILE_EXCLUSIVE_LOCK));
  ASSERT_EQ(write(anRelease[1], "x", 1), 1);
  int nStatus = 0;
  waitpid(nPid, &nStatus, 0);
  EXPECT_TRUE(LockAt(spFile.get(), qwFar, LOCKFILE_EXCLUSIVE_LOCK));
  for (int nFd : {anReady[0], anReady[1], anRelease[0], anRelease[1]}) close(nFd);
}

}  // namespace
