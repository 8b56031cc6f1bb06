// Reading, writing and positioning through file handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/api_guard.h"
#include "platform/fault_hook.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_mapping.h"
#include "platform/posix/file_object.h"

namespace {

// Larger single transfers are split; read(2) and write(2) stop near 2 GiB.
const size_t kMaxChunk = 1u << 30;

std::shared_ptr<CFileObject> LookupFile(HANDLE hFile) { return LookupHandleAs<CFileObject>(hFile); }

// Moves to the offset an OVERLAPPED names; synchronous handles then read or
// write there and leave the file pointer after the data, as on Windows.
bool SeekToOverlapped(int nFd, const OVERLAPPED* pOverlapped) {
  if (pOverlapped == nullptr) return true;
  off_t nOffset = static_cast<off_t>((static_cast<uint64_t>(pOverlapped->OffsetHigh) << 32) | pOverlapped->Offset);
  return lseek(nFd, nOffset, SEEK_SET) != -1;
}

BOOL ReadFileImpl(HANDLE hFile, LPVOID pBuffer, DWORD nToRead, LPDWORD pnRead, LPOVERLAPPED pOverlapped) {
  if (pnRead != nullptr) *pnRead = 0;
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return FALSE;
  if (!spFile->CanRead()) return Fail(FALSE, ERROR_ACCESS_DENIED);
  if (pBuffer == nullptr && nToRead != 0) return Fail(FALSE, ERROR_NOACCESS);
  if (!SeekToOverlapped(spFile->Fd(), pOverlapped)) return FailErrno(FALSE, errno);
  char* pbyOut = static_cast<char*>(pBuffer);
  DWORD nDone = 0;
  while (nDone < nToRead) {
    ssize_t nGot = read(spFile->Fd(), pbyOut + nDone, std::min<size_t>(nToRead - nDone, kMaxChunk));
    if (nGot < 0 && errno == EINTR) continue;
    if (nGot < 0) {
      if (pnRead != nullptr) *pnRead = nDone;
      return FailErrno(FALSE, errno);
    }
    if (nGot == 0) break;
    nDone += static_cast<DWORD>(nGot);
  }
  if (pnRead != nullptr) *pnRead = nDone;
  // Only a positioned read reports the end of the file as an error.
  if (pOverlapped != nullptr && nDone == 0 && nToRead != 0) return Fail(FALSE, ERROR_HANDLE_EOF);
  return TRUE;
}

BOOL WriteFileImpl(HANDLE hFile, LPCVOID pBuffer, DWORD nToWrite, LPDWORD pnWritten, LPOVERLAPPED pOverlapped) {
  if (pnWritten != nullptr) *pnWritten = 0;
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return FALSE;
  if (!spFile->CanWrite()) return Fail(FALSE, ERROR_ACCESS_DENIED);
  if (pBuffer == nullptr && nToWrite != 0) return Fail(FALSE, ERROR_NOACCESS);
  if (!SeekToOverlapped(spFile->Fd(), pOverlapped)) return FailErrno(FALSE, errno);
  const char* pbyIn = static_cast<const char*>(pBuffer);
  DWORD nDone = 0;
  while (nDone < nToWrite) {
    ssize_t nPut = write(spFile->Fd(), pbyIn + nDone, std::min<size_t>(nToWrite - nDone, kMaxChunk));
    if (nPut < 0 && errno == EINTR) continue;
    if (nPut <= 0) {
      if (pnWritten != nullptr) *pnWritten = nDone;
      return FailErrno(FALSE, nPut < 0 ? errno : ENOSPC);
    }
    nDone += static_cast<DWORD>(nPut);
  }
  if (pnWritten != nullptr) *pnWritten = nDone;
  return TRUE;
}

// The position SetFilePointer measures from, or -1 with errno set.
int64_t MoveOrigin(int nFd, DWORD dwMoveMethod) {
  switch (dwMoveMethod) {
    case FILE_BEGIN:
      return 0;
    case FILE_CURRENT:
      return lseek(nFd, 0, SEEK_CUR);
    case FILE_END: {
      struct stat st;
      return fstat(nFd, &st) == 0 ? st.st_size : -1;
    }
    default:
      errno = EINVAL;
      return -1;
  }
}

DWORD SetFilePointerImpl(HANDLE hFile, LONG lDistance, PLONG plDistanceHigh, DWORD dwMoveMethod) {
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return INVALID_SET_FILE_POINTER;
  // Without the high part the distance is a signed 32-bit value.
  int64_t nDistance = lDistance;
  if (plDistanceHigh != nullptr)
    nDistance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*plDistanceHigh)) << 32) |
                                     static_cast<DWORD>(lDistance));
  int64_t nOrigin = MoveOrigin(spFile->Fd(), dwMoveMethod);
  if (nOrigin < 0) return FailErrno(INVALID_SET_FILE_POINTER, errno);
  int64_t nTarget = 0;
  if (__builtin_add_overflow(nOrigin, nDistance, &nTarget))
    return Fail(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
  if (nTarget < 0) return Fail(INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK);
  // A caller that passed no high part could not see a larger position.
  if (plDistanceHigh == nullptr && nTarget > static_cast<int64_t>(UINT32_MAX))
    return Fail(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
  if (lseek(spFile->Fd(), static_cast<off_t>(nTarget), SEEK_SET) == -1)
    return FailErrno(INVALID_SET_FILE_POINTER, errno);
  if (plDistanceHigh != nullptr) *plDistanceHigh = static_cast<LONG>(nTarget >> 32);
  DWORD dwLow = static_cast<DWORD>(nTarget);
  // The low part may legitimately equal INVALID_SET_FILE_POINTER.
  if (dwLow == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return dwLow;
}

DWORD GetFileSizeImpl(HANDLE hFile, LPDWORD pdwHigh) {
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(spFile->Fd(), &st) != 0) return FailErrno(INVALID_FILE_SIZE, errno);
  uint64_t nSize = static_cast<uint64_t>(st.st_size);
  if (pdwHigh != nullptr) *pdwHigh = static_cast<DWORD>(nSize >> 32);
  DWORD dwLow = static_cast<DWORD>(nSize);
  if (dwLow == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return dwLow;
}

BOOL SetEndOfFileImpl(HANDLE hFile) {
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return FALSE;
  if (!spFile->CanWrite()) return Fail(FALSE, ERROR_ACCESS_DENIED);
  off_t nPosition = lseek(spFile->Fd(), 0, SEEK_CUR);
  struct stat st;
  if (nPosition == -1 || fstat(spFile->Fd(), &st) != 0) return FailErrno(FALSE, errno);
  // Cutting a mapped file short would turn its views' pages into SIGBUS.
  if (nPosition < st.st_size && IsFileMapped(st)) return Fail(FALSE, ERROR_USER_MAPPED_FILE);
  if (ftruncate(spFile->Fd(), nPosition) != 0) return FailErrno(FALSE, errno);
  return TRUE;
}

BOOL FlushFileBuffersImpl(HANDLE hFile) {
  std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
  if (!spFile) return FALSE;
  if (!spFile->CanWrite()) return Fail(FALSE, ERROR_ACCESS_DENIED);
  if (fsync(spFile->Fd()) != 0) return FailErrno(FALSE, errno);
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                                LPOVERLAPPED lpOverlapped) {
  return GuardWin32(
      FALSE, [&] { return ReadFileImpl(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped); });
}

// The fault hooks run outside the exception barrier: stopping the program
// at a hooked call unwinds the caller (platform/fault_inject.h).
extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (g_bFaultArmed) {
    std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
    const uint64_t qwOffset =
        lpOverlapped ? (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset : 0;
    if (spFile && spFile->CanWrite() &&
        !FaultHookWrite(spFile->Fd(), lpBuffer, nNumberOfBytesToWrite, lpOverlapped != nullptr, qwOffset)) {
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
      return FALSE;
    }
  }
  return GuardWin32(FALSE, [&] {
    return WriteFileImpl(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
  });
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
  return GuardWin32(INVALID_SET_FILE_POINTER,
                    [&] { return SetFilePointerImpl(hFile, lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod); });
}

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  return GuardWin32(INVALID_FILE_SIZE, [&] { return GetFileSizeImpl(hFile, lpFileSizeHigh); });
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  if (g_bFaultArmed) {
    std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
    if (spFile && spFile->CanWrite() && !FaultHookTruncate(spFile->Fd())) return FALSE;
  }
  return GuardWin32(FALSE, [&] { return SetEndOfFileImpl(hFile); });
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  if (g_bFaultArmed) {
    std::shared_ptr<CFileObject> spFile = LookupFile(hFile);
    if (spFile && spFile->CanWrite() && !FaultHookFlush(spFile->Fd())) return FALSE;
  }
  return GuardWin32(FALSE, [&] { return FlushFileBuffersImpl(hFile); });
}
