// FlushDirectoryOf and the directory syncs behind MOVEFILE_WRITE_THROUGH.
#include "platform/posix/dir_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/dir_sync.h"
#include "platform/fault_hook.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/path_lookup.h"
#include "platform/posix/unique_fd.h"

std::string ParentOf(const std::string& strPath) {
  size_t nSlash = strPath.rfind('/');
  return nSlash == 0 || nSlash == std::string::npos ? "/" : strPath.substr(0, nSlash);
}

bool SyncDirectory(const std::string& strDir) {
  if (g_bFaultArmed && FaultHookSyncFails()) {
    errno = EIO;
    return false;
  }
  CUniqueFd fd(open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsValid() || fsync(fd.Get()) != 0) return false;
  if (g_bFaultArmed) FaultHookDirSynced(strDir);
  return true;
}

namespace {

BOOL FlushDirectoryOfImpl(LPCSTR pszPath) {
  CResolvedPath resolved;
  const DWORD dwError = ResolveWin32Path(pszPath, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (!resolved.m_bParentExists) return Fail(FALSE, ERROR_PATH_NOT_FOUND);
  if (!SyncDirectory(ParentOf(resolved.m_strPath))) return FailErrno(FALSE, errno);
  return TRUE;
}

}  // namespace

BOOL FlushDirectoryOf(LPCSTR pszPath) {
  return GuardWin32(FALSE, [&] { return FlushDirectoryOfImpl(pszPath); });
}
