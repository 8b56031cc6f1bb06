// LockFileEx and UnlockFileEx over open-file-description locks
// (F_OFD_SETLK), which, like Windows' byte-range locks, belong to the open
// (the handle) rather than to the process: two handles conflict even in one
// process, and a lock goes with its handle or its process.
//
// Differences from Windows: an exclusive lock needs a handle with write
// access (a read-only descriptor cannot hold a write lock:
// ERROR_ACCESS_DENIED); a handle may lock again a range it holds; unlocking
// a range that is not locked succeeds; a zero-length range and ranges
// reaching the share-mode records (kShareLockBase and beyond) are refused
// with ERROR_INVALID_PARAMETER.
#include <fcntl.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"

namespace {

// The range an OVERLAPPED and a length name, as a lock for fcntl.
bool ToLock(DWORD dwLengthLow, DWORD dwLengthHigh, const OVERLAPPED* pOverlapped, short nType, struct flock& lock) {
  if (pOverlapped == nullptr) return false;
  const uint64_t qwStart = (static_cast<uint64_t>(pOverlapped->OffsetHigh) << 32) | pOverlapped->Offset;
  const uint64_t qwLength = (static_cast<uint64_t>(dwLengthHigh) << 32) | dwLengthLow;
  if (qwLength == 0 || qwStart >= kShareLockBase || qwLength > kShareLockBase - qwStart) return false;
  lock = {};
  lock.l_type = nType;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(qwStart);
  lock.l_len = static_cast<off_t>(qwLength);
  return true;
}

BOOL SetLock(HANDLE hFile, int nCommand, struct flock& lock) {
  std::shared_ptr<CFileObject> spFile = LookupHandleAs<CFileObject>(hFile);
  if (!spFile) return FALSE;
  while (fcntl(spFile->Fd(), nCommand, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return Fail(FALSE, ERROR_LOCK_VIOLATION);
    if (errno == EBADF) return Fail(FALSE, ERROR_ACCESS_DENIED);
    return FailErrno(FALSE, errno);
  }
  return TRUE;
}

BOOL LockFileExImpl(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD dwLengthLow, DWORD dwLengthHigh,
                    LPOVERLAPPED pOverlapped) {
  const short nType = (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? F_WRLCK : F_RDLCK;
  struct flock lock;
  if (dwReserved != 0 || (dwFlags & ~(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) != 0 ||
      !ToLock(dwLengthLow, dwLengthHigh, pOverlapped, nType, lock)) {
    return Fail(FALSE, ERROR_INVALID_PARAMETER);
  }
  return SetLock(hFile, (dwFlags & LOCKFILE_FAIL_IMMEDIATELY) != 0 ? F_OFD_SETLK : F_OFD_SETLKW, lock);
}

BOOL UnlockFileExImpl(HANDLE hFile, DWORD dwReserved, DWORD dwLengthLow, DWORD dwLengthHigh,
                      LPOVERLAPPED pOverlapped) {
  struct flock lock;
  if (dwReserved != 0 || !ToLock(dwLengthLow, dwLengthHigh, pOverlapped, F_UNLCK, lock))
    return Fail(FALSE, ERROR_INVALID_PARAMETER);
  return SetLock(hFile, F_OFD_SETLK, lock);
}

}  // namespace

extern "C" BOOL WINAPI LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                                  DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped) {
  return GuardWin32(FALSE, [&] {
    return LockFileExImpl(hFile, dwFlags, dwReserved, nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh,
                          lpOverlapped);
  });
}

extern "C" BOOL WINAPI UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow,
                                    DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped) {
  return GuardWin32(FALSE, [&] {
    return UnlockFileExImpl(hFile, dwReserved, nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh, lpOverlapped);
  });
}
