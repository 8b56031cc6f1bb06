// Operations on names: DeleteFileA, MoveFileExA, GetFileAttributesA. The
// fault injector's points are counted outside the exception barrier (a stop
// throws), what the calls did is reported from inside.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/api_guard.h"
#include "platform/fault_hook.h"
#include "platform/posix/dir_sync.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_info.h"
#include "platform/posix/path_lookup.h"
#include "platform/posix/share_mode.h"

namespace {

BOOL DeleteFileImpl(LPCSTR pszFileName) {
  CResolvedPath resolved;
  DWORD dwError = ResolveWin32Path(pszFileName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (!resolved.Exists()) return Fail(FALSE, resolved.MissingError());
  struct stat st;
  if (lstat(resolved.m_strPath.c_str(), &st) != 0) return FailErrno(FALSE, errno);
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnlyMode(st.st_mode)))
    return Fail(FALSE, ERROR_ACCESS_DENIED);
  CUniqueFd fdHold;
  dwError = AcquireDeleteAccess(resolved.m_strPath, fdHold);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  CFaultDirOp fault(FaultDirOp::kDelete, resolved.m_strPath);
  if (unlink(resolved.m_strPath.c_str()) != 0) return FailErrno(FALSE, errno);
  fault.Done();
  return TRUE;
}

// The checks Windows makes on a file about to be replaced by a move.
DWORD CheckReplaceTarget(const std::string& strTarget, const struct stat& stSource, CUniqueFd& fdHold) {
  struct stat st;
  if (lstat(strTarget.c_str(), &st) != 0) return Win32ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode) || S_ISDIR(stSource.st_mode) || (S_ISREG(st.st_mode) && IsReadOnlyMode(st.st_mode)))
    return ERROR_ACCESS_DENIED;
  // A target still open is "in use": access denied. Delete sharing does not
  // help here: a move cannot take the name of a file that lingers until its
  // last handle is closed.
  if (AcquireDeleteAccess(strTarget, fdHold) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  if (fdHold.IsValid() && IsOpenElsewhere(fdHold.Get())) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// rename(2) that refuses to replace, atomically where the file system can.
int RenameNoReplace(const std::string& strFrom, const std::string& strTo) {
  if (renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (lstat(strTo.c_str(), &st) == 0) return EEXIST;
  return rename(strFrom.c_str(), strTo.c_str()) == 0 ? 0 : errno;
}

DWORD RenameError(int nErrno) {
  return nErrno == EEXIST || nErrno == ENOTEMPTY ? ERROR_ALREADY_EXISTS : Win32ErrorFromErrno(nErrno);
}

struct CMoveTarget {
  CResolvedPath m_resolved;  // existing entry (any case) or the new name
  std::string m_strGiven;    // the path with the last name as the caller spelled it
};

DWORD ResolveMoveTarget(LPCSTR pszNewName, CMoveTarget& target) {
  std::vector<std::string> vecComponents;
  DWORD dwError = ParseWin32Path(pszNewName, CPathRules(), vecComponents);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (vecComponents.empty()) return ERROR_ACCESS_DENIED;
  dwError = ResolveComponents(vecComponents, vecComponents.size(), target.m_resolved);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (!target.m_resolved.m_bParentExists) return ERROR_PATH_NOT_FOUND;
  target.m_strGiven = ParentOf(target.m_resolved.m_strPath);
  target.m_strGiven += (target.m_strGiven == "/" ? "" : "/") + vecComponents.back();
  return ERROR_SUCCESS;
}

// Moves strSource onto an existing target, ending with the caller's spelling
// of the name (a case-only rename when the target is the source itself).
DWORD MoveOntoExisting(const std::string& strSource, const struct stat& stSource, const CMoveTarget& target,
                       DWORD dwFlags) {
  const std::string& strExisting = target.m_resolved.m_strPath;
  CUniqueFd fdHold;
  if (strExisting != strSource) {
    if ((dwFlags & MOVEFILE_REPLACE_EXISTING) == 0) return ERROR_ALREADY_EXISTS;
    DWORD dwError = CheckReplaceTarget(strExisting, stSource, fdHold);
    if (dwError != ERROR_SUCCESS) return dwError;
    if (rename(strSource.c_str(), strExisting.c_str()) != 0) return RenameError(errno);
  }
  if (strExisting != target.m_strGiven && rename(strExisting.c_str(), target.m_strGiven.c_str()) != 0)
    return RenameError(errno);
  return ERROR_SUCCESS;
}

BOOL MoveFileImpl(LPCSTR pszExisting, LPCSTR pszNew, DWORD dwFlags) {
  if (pszNew == nullptr ||
      (dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) != 0)
    return Fail(FALSE, ERROR_INVALID_PARAMETER);
  CResolvedPath source;
  DWORD dwError = ResolveWin32Path(pszExisting, source);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (!source.Exists()) return Fail(FALSE, source.MissingError());
  CMoveTarget target;
  dwError = ResolveMoveTarget(pszNew, target);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);

  struct stat stSource;
  if (lstat(source.m_strPath.c_str(), &stSource) != 0) return FailErrno(FALSE, errno);
  CUniqueFd fdHold;
  if (!S_ISDIR(stSource.st_mode) && AcquireDeleteAccess(source.m_strPath, fdHold) != ERROR_SUCCESS)
    return Fail(FALSE, ERROR_SHARING_VIOLATION);
  CFaultDirOp fault(FaultDirOp::kMove, source.m_strPath, target.m_strGiven,
                    target.m_resolved.Exists() ? target.m_resolved.m_strPath : std::string());
  if (target.m_resolved.Exists())
    dwError = MoveOntoExisting(source.m_strPath, stSource, target, dwFlags);
  else
    dwError = RenameError(RenameNoReplace(source.m_strPath, target.m_strGiven));
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  fault.Done();
  if ((dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
    std::string strTargetDir = ParentOf(target.m_strGiven);
    std::string strSourceDir = ParentOf(source.m_strPath);
    if (!SyncDirectory(strTargetDir) || (strSourceDir != strTargetDir && !SyncDirectory(strSourceDir)))
      return FailErrno(FALSE, errno);
  }
  return TRUE;
}

DWORD GetFileAttributesImpl(LPCSTR pszFileName) {
  CResolvedPath resolved;
  DWORD dwError = ResolveWin32Path(pszFileName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_FILE_ATTRIBUTES, dwError);
  if (!resolved.Exists()) return Fail(INVALID_FILE_ATTRIBUTES, resolved.MissingError());
  struct stat st;
  if (stat(resolved.m_strPath.c_str(), &st) != 0 && lstat(resolved.m_strPath.c_str(), &st) != 0)
    return FailErrno(INVALID_FILE_ATTRIBUTES, errno);
  return AttributesFromStat(st);
}

}  // namespace

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return GuardWin32(FALSE, [&] { return DeleteFileImpl(lpFileName); });
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return GuardWin32(FALSE, [&] { return MoveFileImpl(lpExistingFileName, lpNewFileName, dwFlags); });
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  return GuardWin32(INVALID_FILE_ATTRIBUTES, [&] { return GetFileAttributesImpl(lpFileName); });
}
