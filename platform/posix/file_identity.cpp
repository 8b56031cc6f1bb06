// SameFile: one device and inode.
#include <sys/stat.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/file_identity.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"

namespace {

bool IdentityOf(HANDLE hFile, struct stat& st) {
  const std::shared_ptr<CFileObject> spFile = LookupHandleAs<CFileObject>(hFile);
  if (!spFile) return false;
  if (fstat(spFile->Fd(), &st) == 0) return true;
  SetLastErrorFromErrno(errno);
  return false;
}

}  // namespace

bool SameFile(HANDLE hA, HANDLE hB, bool& bSame) {
  return GuardWin32(false, [&] {
    struct stat stA;
    struct stat stB;
    if (!IdentityOf(hA, stA) || !IdentityOf(hB, stB)) return false;
    bSame = stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino;
    return true;
  });
}
