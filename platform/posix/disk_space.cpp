// GetDiskFreeSpaceExA over statvfs.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/fault_space.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/path_lookup.h"

namespace {

void Put(PULARGE_INTEGER pValue, uint64_t qwValue) {
  if (pValue) pValue->QuadPart = qwValue;
}

// As on Windows the path names a directory, any on the volume; null means
// the current directory.
BOOL GetDiskFreeSpaceImpl(LPCSTR pszDirectory, PULARGE_INTEGER pFreeToCaller, PULARGE_INTEGER pTotal,
                          PULARGE_INTEGER pTotalFree) {
  std::string strPath = ".";
  if (pszDirectory != nullptr) {
    CResolvedPath resolved;
    const DWORD dwError = ResolveWin32Path(pszDirectory, resolved);
    if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
    if (!resolved.Exists()) return Fail(FALSE, ERROR_PATH_NOT_FOUND);
    strPath = resolved.m_strPath;
  }
  struct stat st;
  if (stat(strPath.c_str(), &st) != 0) return FailErrno(FALSE, errno);
  if (!S_ISDIR(st.st_mode)) return Fail(FALSE, ERROR_DIRECTORY);
  struct statvfs vfs;
  if (statvfs(strPath.c_str(), &vfs) != 0) return FailErrno(FALSE, errno);
  const uint64_t qwUnit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  // f_bavail leaves out the blocks reserved for the superuser, as Windows
  // leaves out what a quota keeps from the caller.
  Put(pFreeToCaller, FaultCapFreeSpace(static_cast<uint64_t>(vfs.f_bavail) * qwUnit));
  Put(pTotal, static_cast<uint64_t>(vfs.f_blocks) * qwUnit);
  Put(pTotalFree, FaultCapFreeSpace(static_cast<uint64_t>(vfs.f_bfree) * qwUnit));
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                           PULARGE_INTEGER lpTotalNumberOfBytes,
                                           PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return GuardWin32(FALSE, [&] {
    return GetDiskFreeSpaceImpl(lpDirectoryName, lpFreeBytesAvailableToCaller, lpTotalNumberOfBytes,
                                lpTotalNumberOfFreeBytes);
  });
}
