// The fault injector's file access on POSIX: plain descriptors, positioned
// reads and writes that leave the file offset alone, and plain system calls
// on names (the hooked Win32 calls would count them).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/fault_hook.h"
#include "platform/posix/dir_sync.h"

namespace {
int Fd(intptr_t hFile) { return static_cast<int>(hFile); }
}  // namespace

bool FaultOsIsDiskFile(intptr_t hFile) {
  struct stat st;
  return fstat(Fd(hFile), &st) == 0 && S_ISREG(st.st_mode);
}

bool FaultOsIdentify(intptr_t hFile, uint64_t& qwVolume, uint64_t& qwIndex) {
  struct stat st;
  if (fstat(Fd(hFile), &st) != 0) return false;
  qwVolume = static_cast<uint64_t>(st.st_dev);
  qwIndex = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool FaultOsIsWriteThrough(intptr_t hFile) {
  const int nFlags = fcntl(Fd(hFile), F_GETFL);
  return nFlags != -1 && (nFlags & O_DSYNC) == O_DSYNC;
}

intptr_t FaultOsDuplicate(intptr_t hFile) { return fcntl(Fd(hFile), F_DUPFD_CLOEXEC, 0); }

void FaultOsClose(intptr_t hFile) { close(Fd(hFile)); }

bool FaultOsPosition(intptr_t hFile, uint64_t& qwPosition) {
  const off_t nPos = lseek(Fd(hFile), 0, SEEK_CUR);
  qwPosition = static_cast<uint64_t>(nPos);
  return nPos >= 0;
}

bool FaultOsSize(intptr_t hFile, uint64_t& qwSize) {
  struct stat st;
  if (fstat(Fd(hFile), &st) != 0) return false;
  qwSize = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FaultOsReadAt(intptr_t hFile, uint64_t qwOffset, void* pData, uint64_t qwSize) {
  char* pByte = static_cast<char*>(pData);
  while (qwSize > 0) {
    const ssize_t nGot = pread(Fd(hFile), pByte, qwSize, static_cast<off_t>(qwOffset));
    if (nGot < 0 && errno == EINTR) continue;
    if (nGot <= 0) return false;
    pByte += nGot;
    qwOffset += static_cast<uint64_t>(nGot);
    qwSize -= static_cast<uint64_t>(nGot);
  }
  return true;
}

bool FaultOsWriteAt(intptr_t hFile, uint64_t qwOffset, const void* pData, uint64_t qwSize) {
  const char* pByte = static_cast<const char*>(pData);
  while (qwSize > 0) {
    const ssize_t nPut = pwrite(Fd(hFile), pByte, qwSize, static_cast<off_t>(qwOffset));
    if (nPut < 0 && errno == EINTR) continue;
    if (nPut <= 0) return false;
    pByte += nPut;
    qwOffset += static_cast<uint64_t>(nPut);
    qwSize -= static_cast<uint64_t>(nPut);
  }
  return true;
}

bool FaultOsTruncate(intptr_t hFile, uint64_t qwSize) { return ftruncate(Fd(hFile), static_cast<off_t>(qwSize)) == 0; }

void FaultOsExit(int nCode) { _exit(nCode); }

// The platform layer hands over absolute paths already.
FaultPath FaultOsFullPath(const FaultPath& strPath) { return strPath; }

bool FaultOsDirUnit(const FaultPath& strDir, uint64_t& qwVolume, uint64_t& qwUnit) {
  struct stat st;
  if (stat(strDir.c_str(), &st) != 0) return false;
  qwVolume = static_cast<uint64_t>(st.st_dev);
  qwUnit = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool FaultOsParentUnit(const FaultPath& strPath, uint64_t& qwVolume, uint64_t& qwUnit) {
  return FaultOsDirUnit(ParentOf(strPath), qwVolume, qwUnit);
}

FaultPath FaultOsKeepName(const FaultPath& strPath, uint32_t nSerial) {
  return strPath + ".~fault-kept-" + std::to_string(nSerial);
}

bool FaultOsExists(const FaultPath& strPath) {
  struct stat st;
  return lstat(strPath.c_str(), &st) == 0;
}

bool FaultOsSameFile(const FaultPath& strA, const FaultPath& strB) {
  struct stat stA;
  struct stat stB;
  return lstat(strA.c_str(), &stA) == 0 && lstat(strB.c_str(), &stB) == 0 && stA.st_dev == stB.st_dev &&
         stA.st_ino == stB.st_ino;
}

bool FaultOsLink(const FaultPath& strExisting, const FaultPath& strNew) {
  return link(strExisting.c_str(), strNew.c_str()) == 0;
}

bool FaultOsRename(const FaultPath& strFrom, const FaultPath& strTo) { return rename(strFrom.c_str(), strTo.c_str()) == 0; }

bool FaultOsRemoveFile(const FaultPath& strPath) { return unlink(strPath.c_str()) == 0; }

bool FaultOsRemoveTree(const FaultPath& strPath) {
  std::error_code error;
  std::filesystem::remove_all(strPath, error);
  return !error;
}

bool FaultOsMakeDirectory(const FaultPath& strPath) { return mkdir(strPath.c_str(), 0777) == 0; }
