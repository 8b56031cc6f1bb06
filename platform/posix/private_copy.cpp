// Private copies on POSIX: a memfd in memory, an O_TMPFILE file, or a file
// unlinked as soon as it is made (platform/private_copy.h).
#include "platform/private_copy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>
#include <string>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"
#include "platform/posix/path_lookup.h"

namespace {

#if defined(__linux__) && defined(MFD_ALLOW_SEALING)
int OpenMemoryCopy() { return memfd_create("patchloom-private-copy", MFD_CLOEXEC | MFD_ALLOW_SEALING); }
#else
int OpenMemoryCopy() {
  errno = ENOSYS;
  return -1;
}
#endif

// An O_TMPFILE file in strDir; -1 with errno set, EOPNOTSUPP (or EISDIR on
// old kernels) when the file system has none.
int OpenUnnamedFile(const std::string& strDir) {
#if defined(__linux__) && defined(O_TMPFILE)
  return open(strDir.c_str(), O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
#else
  (void)strDir;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// A new file of a random name in strDir, unlinked at once.
int OpenRemovedFile(const std::string& strDir) {
  std::random_device device;
  for (int nTry = 0; nTry < 64; ++nTry) {
    const std::string strPath = strDir + "/.patchloom-copy-" + std::to_string(getpid()) + "-" +
                                std::to_string(device()) + std::to_string(device());
    const int nFd = open(strPath.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (nFd >= 0) {
      unlink(strPath.c_str());
      return nFd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

HANDLE CreateImpl(LPCSTR pszDir, uint64_t qwSize, PrivateCopyKind* peKind) {
  PrivateCopyKind eKind = PrivateCopyKind::kMemory;
  int nFd = qwSize <= kPrivateCopyMemoryLimit ? OpenMemoryCopy() : -1;
  if (nFd < 0) {
    if (pszDir == nullptr) return Fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    CResolvedPath resolved;
    const DWORD dwError = ResolveWin32Path(pszDir, resolved);
    if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);
    if (!resolved.Exists()) return Fail(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    eKind = PrivateCopyKind::kUnnamedFile;
    nFd = OpenUnnamedFile(resolved.m_strPath);
    if (nFd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      eKind = PrivateCopyKind::kRemovedFile;
      nFd = OpenRemovedFile(resolved.m_strPath);
    }
  }
  if (nFd < 0) return FailErrno(INVALID_HANDLE_VALUE, errno);
  auto spFile = std::make_shared<CUniqueFd>(nFd);
  HANDLE hCopy = RegisterHandle(std::make_shared<CFileObject>(std::move(spFile), kAccessRead | kAccessWrite));
  if (peKind != nullptr) *peKind = eKind;
  SetLastError(ERROR_SUCCESS);
  return hCopy;
}

BOOL SealImpl(HANDLE hCopy) {
  std::shared_ptr<CFileObject> spFile = LookupHandleAs<CFileObject>(hCopy);
  if (!spFile) return FALSE;
#if defined(__linux__) && defined(F_ADD_SEALS)
  // Only a memfd made for sealing takes seals; other files answer EINVAL,
  // or (on tmpfs) that sealing is sealed, and stay as they are.
  const int nSeals = fcntl(spFile->Fd(), F_GET_SEALS);
  if (nSeals < 0 || (nSeals & F_SEAL_SEAL) != 0) return TRUE;
  if (fcntl(spFile->Fd(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    return FailErrno(FALSE, errno);
  }
#endif
  return TRUE;
}

}  // namespace

HANDLE CreatePrivateCopy(LPCSTR pszDir, uint64_t qwSize, PrivateCopyKind* peKind) {
  return GuardWin32(INVALID_HANDLE_VALUE, [&] { return CreateImpl(pszDir, qwSize, peKind); });
}

bool SealPrivateCopy(HANDLE hCopy) {
  return GuardWin32(FALSE, [&] { return SealImpl(hCopy); }) != FALSE;
}
