// File handles: creation dispositions, reading and writing, the file
// pointer beyond 4 GiB, deleting and moving, the read-only attribute and the
// errors Windows reports for each.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/handle_ptr.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

CHandlePtr Open(const std::string& strPath, DWORD dwAccess, DWORD dwDisposition, DWORD dwFlags = 0) {
  return CHandlePtr(CreateFileA(strPath.c_str(), dwAccess, kShareAll, nullptr, dwDisposition, dwFlags, nullptr));
}

bool IsValid(const CHandlePtr& spFile) { return spFile.get() != INVALID_HANDLE_VALUE; }

std::string ReadAll(HANDLE hFile) {
  char szBuffer[4096];
  DWORD nRead = 0;
  std::string strOut;
  while (ReadFile(hFile, szBuffer, sizeof(szBuffer), &nRead, nullptr) && nRead > 0) strOut.append(szBuffer, nRead);
  return strOut;
}

bool WriteText(HANDLE hFile, const std::string& strText) {
  DWORD nWritten = 0;
  return WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &nWritten, nullptr) &&
         nWritten == strText.size();
}

TEST(PlatformFileTest, CreationDispositions) {
  CTempDir dir;
  const std::string strPath = dir.ProgramPath("f.txt");
  {
    CHandlePtr spFile = Open(strPath, GENERIC_WRITE, CREATE_NEW);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(WriteText(spFile.get(), "first"));
  }
  EXPECT_FALSE(IsValid(Open(strPath, GENERIC_WRITE, CREATE_NEW)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  {
    CHandlePtr spFile = Open(strPath, kReadWrite, OPEN_ALWAYS);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadAll(spFile.get()), "first");
  }
  {
    CHandlePtr spFile = Open(strPath, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(fs::file_size(dir.Path() / "f.txt"), 0u);
    EXPECT_TRUE(WriteText(spFile.get(), "second"));
  }
  {
    CHandlePtr spFile = Open(strPath, GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_EQ(fs::file_size(dir.Path() / "f.txt"), 0u);
  }
  EXPECT_FALSE(IsValid(Open(strPath, GENERIC_READ, TRUNCATE_EXISTING)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  {
    CHandlePtr spFile = Open(dir.ProgramPath("new.txt"), GENERIC_READ, OPEN_ALWAYS);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::exists(dir.Path() / "new.txt"));
  }
  EXPECT_FALSE(IsValid(Open(dir.ProgramPath("none.txt"), GENERIC_READ, OPEN_EXISTING)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(IsValid(Open(dir.ProgramPath("none.txt"), GENERIC_WRITE, TRUNCATE_EXISTING)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fs::exists(dir.Path() / "none.txt"));
}

// The open flags of this process's descriptors for the file, from procfs.
std::vector<int> OpenFlagsOf(const fs::path& file) {
  std::vector<int> vecFlags;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != file) continue;
    std::string strInfo = ReadFileBytes(fs::path("/proc/self/fdinfo") / entry.path().filename());
    size_t nPos = strInfo.find("flags:");
    if (nPos != std::string::npos) vecFlags.push_back(std::stoi(strInfo.substr(nPos + 6), nullptr, 8));
  }
  return vecFlags;
}

TEST(PlatformFileTest, WriteThroughOpensForSynchronousWrites) {
  CTempDir dir;
  {
    CHandlePtr spFile = Open(dir.ProgramPath("wt.bin"), GENERIC_WRITE, CREATE_NEW, FILE_FLAG_WRITE_THROUGH);
    ASSERT_TRUE(IsValid(spFile));
    std::vector<int> vecFlags = OpenFlagsOf(dir.Path() / "wt.bin");
    ASSERT_EQ(vecFlags.size(), 1u);
    EXPECT_EQ(vecFlags[0] & O_DSYNC, O_DSYNC);
  }
  CHandlePtr spFile = Open(dir.ProgramPath("wt.bin"), GENERIC_WRITE, OPEN_EXISTING);
  std::vector<int> vecFlags = OpenFlagsOf(dir.Path() / "wt.bin");
  ASSERT_EQ(vecFlags.size(), 1u);
  EXPECT_EQ(vecFlags[0] & O_DSYNC, 0);
}

TEST(PlatformFileTest, DirectoryOpenedAsFileIsAccessDenied) {
  CTempDir dir;
  fs::create_directory(dir.Path() / "sub");
  for (DWORD dwAccess : {GENERIC_READ, GENERIC_WRITE}) {
    for (DWORD dwDisposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(OPEN_ALWAYS)}) {
      EXPECT_FALSE(IsValid(Open(dir.ProgramPath("sub"), dwAccess, dwDisposition)));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
  }
  EXPECT_FALSE(DeleteFileA(dir.ProgramPath("sub").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "sub"));
}

TEST(PlatformFileTest, ReadAndWriteFollowTheHandleAccess) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "f.bin", "abc");
  char szBuffer[8];
  DWORD nDone = 99;
  {
    CHandlePtr spFile = Open(dir.ProgramPath("f.bin"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_TRUE(IsValid(spFile));
    ASSERT_TRUE(ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nDone, nullptr));
    EXPECT_EQ(std::string(szBuffer, nDone), "abc");
    // At the end of the file ReadFile succeeds and reads nothing.
    EXPECT_TRUE(ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nDone, nullptr));
    EXPECT_EQ(nDone, 0u);
    EXPECT_FALSE(WriteFile(spFile.get(), "x", 1, &nDone, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(spFile.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  {
    CHandlePtr spFile = Open(dir.ProgramPath("f.bin"), GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_TRUE(IsValid(spFile));
    EXPECT_FALSE(ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nDone, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(SetFilePointer(spFile.get(), 1, nullptr, FILE_BEGIN), 1u);
    EXPECT_TRUE(WriteText(spFile.get(), "XY"));
    EXPECT_TRUE(FlushFileBuffers(spFile.get()));
  }
  EXPECT_EQ(ReadFileBytes(dir.Path() / "f.bin"), "aXY");
}

TEST(PlatformFileTest, PositionedReadReportsEndOfFile) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "f.bin", "0123456789");
  CHandlePtr spFile = Open(dir.ProgramPath("f.bin"), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(IsValid(spFile));
  OVERLAPPED overlapped = {};
  overlapped.Offset = 6;
  char szBuffer[8];
  DWORD nRead = 0;
  ASSERT_TRUE(ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nRead, &overlapped));
  EXPECT_EQ(std::string(szBuffer, nRead), "6789");
  overlapped.Offset = 10;
  EXPECT_FALSE(ReadFile(spFile.get(), szBuffer, sizeof(szBuffer), &nRead, &overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
}

TEST(PlatformFileTest, FilePointerBeyondFourGigabytes) {
  CTempDir dir;
  CHandlePtr spFile = Open(dir.ProgramPath("sparse.bin"), kReadWrite, CREATE_NEW);
  ASSERT_TRUE(IsValid(spFile));
  HANDLE hFile = spFile.get();

  // 5 GiB + 16: high part 1, low part 0x40000010.
  LONG lHigh = 1;
  EXPECT_EQ(SetFilePointer(hFile, 0x40000010, &lHigh, FILE_BEGIN), 0x40000010u);
  EXPECT_EQ(lHigh, 1);
  ASSERT_TRUE(WriteText(hFile, "far"));
  ASSERT_TRUE(SetEndOfFile(hFile));
  const uint64_t nExpectedSize = 0x140000013ULL;
  EXPECT_EQ(fs::file_size(dir.Path() / "sparse.bin"), nExpectedSize);
  DWORD dwHigh = 0;
  EXPECT_EQ(GetFileSize(hFile, &dwHigh), 0x40000013u);
  EXPECT_EQ(dwHigh, 1u);

  int nFd = open((dir.Path() / "sparse.bin").c_str(), O_RDONLY);
  ASSERT_GE(nFd, 0);
  char szFar[3] = {};
  EXPECT_EQ(pread(nFd, szFar, 3, 0x140000010LL), 3);
  close(nFd);
  EXPECT_EQ(std::string(szFar, 3), "far");

  // Without the high part the distance is a signed 32-bit value.
  EXPECT_EQ(SetFilePointer(hFile, -3, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  lHigh = -1;
  EXPECT_EQ(SetFilePointer(hFile, -3, &lHigh, FILE_END), 0x40000010u);
  EXPECT_EQ(lHigh, 1);
  char szBack[3];
  DWORD nRead = 0;
  ASSERT_TRUE(ReadFile(hFile, szBack, 3, &nRead, nullptr));
  EXPECT_EQ(std::string(szBack, nRead), "far");

  lHigh = 0;
  EXPECT_EQ(SetFilePointer(hFile, -1, &lHigh, FILE_BEGIN), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(lHigh, 0);
  EXPECT_EQ(SetFilePointer(hFile, 100, nullptr, FILE_BEGIN), 100u);
  EXPECT_EQ(SetFilePointer(hFile, -101, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(hFile, 0, nullptr, FILE_CURRENT), 100u);
  EXPECT_EQ(SetFilePointer(hFile, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformFileTest, WriteFailureReportsDiskFull) {
  CHandlePtr spFile = Open("\\dev\\full", GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_TRUE(IsValid(spFile));
  DWORD nWritten = 99;
  EXPECT_FALSE(WriteFile(spFile.get(), "data", 4, &nWritten, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(nWritten, 0u);
}

TEST(PlatformFileTest, ReadOnlyAttributeHoldsEvenForRoot) {
  CTempDir dir;
  const fs::path file = dir.Path() / "ro.txt";
  WriteFileBytes(file, "keep");
  WriteFileBytes(dir.Path() / "other.txt", "other");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string strPath = dir.ProgramPath("ro.txt");

  EXPECT_EQ(GetFileAttributesA(strPath.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(IsValid(Open(strPath, GENERIC_READ, OPEN_EXISTING)));
  for (DWORD dwDisposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(CREATE_ALWAYS)}) {
    EXPECT_FALSE(IsValid(Open(strPath, GENERIC_WRITE, dwDisposition)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_FALSE(DeleteFileA(strPath.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(MoveFileExA(dir.ProgramPath("other.txt").c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFileBytes(file), "keep");

  // Created read-only, the creating handle may still write.
  CHandlePtr spNew = Open(dir.ProgramPath("new.txt"), GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(IsValid(spNew));
  EXPECT_TRUE(WriteText(spNew.get(), "written"));
  EXPECT_EQ(GetFileAttributesA(dir.ProgramPath("new.txt").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST(PlatformFileTest, DeleteAndMove) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "a.txt", "A");
  WriteFileBytes(dir.Path() / "b.txt", "B");

  EXPECT_FALSE(MoveFileExA(dir.ProgramPath("a.txt").c_str(), dir.ProgramPath("B.TXT").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // Replacing keeps the caller's spelling of the name.
  ASSERT_TRUE(MoveFileExA(dir.ProgramPath("A.TXT").c_str(), dir.ProgramPath("B.Txt").c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_FALSE(fs::exists(dir.Path() / "a.txt"));
  EXPECT_FALSE(fs::exists(dir.Path() / "b.txt"));
  EXPECT_EQ(ReadFileBytes(dir.Path() / "B.Txt"), "A");

  // A case-only rename of a file onto itself.
  ASSERT_TRUE(MoveFileExA(dir.ProgramPath("b.txt").c_str(), dir.ProgramPath("final.TXT").c_str(), 0));
  ASSERT_TRUE(MoveFileExA(dir.ProgramPath("FINAL.txt").c_str(), dir.ProgramPath("Final.txt").c_str(), 0));
  EXPECT_EQ(ReadFileBytes(dir.Path() / "Final.txt"), "A");
  EXPECT_FALSE(fs::exists(dir.Path() / "final.TXT"));

  EXPECT_FALSE(MoveFileExA(dir.ProgramPath("gone.txt").c_str(), dir.ProgramPath("x.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA(dir.ProgramPath("Final.txt").c_str(), dir.ProgramPath("no/x.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_TRUE(DeleteFileA(dir.ProgramPath("FINAL.TXT").c_str()));
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  EXPECT_FALSE(DeleteFileA(dir.ProgramPath("Final.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(PlatformFileTest, BadHandlesAreRejectedNotDereferenced) {
  int nNotAHandle = 0;
  for (HANDLE hBad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, static_cast<HANDLE>(&nNotAHandle)}) {
    char szBuffer[4];
    DWORD nDone = 0;
    EXPECT_FALSE(CloseHandle(hBad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(hBad, szBuffer, sizeof(szBuffer), &nDone, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(hBad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  CTempDir dir;
  HANDLE hFile = CreateFileA(dir.ProgramPath("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(hFile));
  EXPECT_FALSE(CloseHandle(hFile));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
