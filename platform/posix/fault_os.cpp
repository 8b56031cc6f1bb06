// The fault injector's file access on POSIX: plain descriptors, positioned
// reads and writes that leave the file offset alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_hook.h"

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
