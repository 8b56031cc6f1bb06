// File identity: one device and inode.
#include "platform/file_identity.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"

bool GetFileIdentity(HANDLE hFile, CFileIdentity& identity) {
  return GuardWin32(false, [&] {
    const std::shared_ptr<CFileObject> spFile = LookupHandleAs<CFileObject>(hFile);
    if (!spFile) return false;
    struct stat st;
    if (fstat(spFile->Fd(), &st) != 0) {
      SetLastErrorFromErrno(errno);
      return false;
    }
    identity.qwVolume = static_cast<uint64_t>(st.st_dev);
    identity.qwIndex = static_cast<uint64_t>(st.st_ino);
    return true;
  });
}
