// Directories: CreateDirectoryA, RemoveDirectoryA and the current directory.
// Creating and removing are points of the fault injector, counted outside
// the exception barrier (a stop throws); what the calls did is reported from
// inside.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/api_guard.h"
#include "platform/fault_hook.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/path_lookup.h"

namespace {

// Windows leaves room for an 8.3 file name below a new directory.
const size_t kMaxDirectoryPath = 248;

DWORD ResolveNewDirectory(LPCSTR pszPathName, CResolvedPath& resolved) {
  CPathRules rules;
  rules.m_nMaxLength = kMaxDirectoryPath;
  DWORD dwError = ResolveWin32Path(pszPathName, rules, resolved);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (resolved.Exists()) return ERROR_ALREADY_EXISTS;
  if (!resolved.m_bParentExists) return ERROR_PATH_NOT_FOUND;
  return ERROR_SUCCESS;
}

BOOL CreateDirectoryImpl(LPCSTR pszPathName) {
  CResolvedPath resolved;
  DWORD dwError = ResolveNewDirectory(pszPathName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  CFaultDirOp fault(FaultDirOp::kCreateDirectory, resolved.m_strPath);
  if (mkdir(resolved.m_strPath.c_str(), 0777) != 0) return FailErrno(FALSE, errno);
  fault.Done();
  return TRUE;
}

bool WouldCreateDirectory(LPCSTR pszPathName) {
  return GuardWin32(false, [&] {
    CResolvedPath resolved;
    return ResolveNewDirectory(pszPathName, resolved) == ERROR_SUCCESS;
  });
}

bool IsCurrentDirectory(const struct stat& st) {
  struct stat stCwd;
  return stat(".", &stCwd) == 0 && stCwd.st_dev == st.st_dev && stCwd.st_ino == st.st_ino;
}

BOOL RemoveDirectoryImpl(LPCSTR pszPathName) {
  CResolvedPath resolved;
  DWORD dwError = ResolveWin32Path(pszPathName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (!resolved.Exists()) return Fail(FALSE, resolved.MissingError());
  const char* pszPath = resolved.m_strPath.c_str();
  struct stat st;
  if (lstat(pszPath, &st) != 0) return FailErrno(FALSE, errno);
  if (S_ISLNK(st.st_mode)) {
    // A link to a directory is removed like one, as a junction is.
    struct stat stTarget;
    if (stat(pszPath, &stTarget) != 0 || !S_ISDIR(stTarget.st_mode)) return Fail(FALSE, ERROR_DIRECTORY);
    CFaultDirOp fault(FaultDirOp::kDelete, resolved.m_strPath);
    if (unlink(pszPath) != 0) return FailErrno(FALSE, errno);
    fault.Done();
    return TRUE;
  }
  if (!S_ISDIR(st.st_mode)) return Fail(FALSE, ERROR_DIRECTORY);
  // Windows keeps the current directory open, which blocks its removal.
  if (IsCurrentDirectory(st)) return Fail(FALSE, ERROR_SHARING_VIOLATION);
  CFaultDirOp fault(FaultDirOp::kRemoveDirectory, resolved.m_strPath);
  if (rmdir(pszPath) != 0) return Fail(FALSE, errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32ErrorFromErrno(errno));
  fault.Done();
  return TRUE;
}

DWORD GetCurrentDirectoryImpl(DWORD nBufferLength, LPSTR pszBuffer) {
  std::unique_ptr<char, decltype(&free)> spCwd(getcwd(nullptr, 0), &free);
  if (!spCwd) return FailErrno(static_cast<DWORD>(0), errno);
  std::string strPath = PosixToWin32Path(spCwd.get());
  DWORD nLength = static_cast<DWORD>(strPath.size());
  if (pszBuffer == nullptr || nBufferLength <= nLength) return nLength + 1;
  std::memcpy(pszBuffer, strPath.c_str(), strPath.size() + 1);
  return nLength;
}

BOOL SetCurrentDirectoryImpl(LPCSTR pszPathName) {
  CResolvedPath resolved;
  DWORD dwError = ResolveWin32Path(pszPathName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (!resolved.Exists()) return Fail(FALSE, resolved.MissingError());
  struct stat st;
  if (stat(resolved.m_strPath.c_str(), &st) != 0) return FailErrno(FALSE, errno);
  if (!S_ISDIR(st.st_mode)) return Fail(FALSE, ERROR_DIRECTORY);
  if (chdir(resolved.m_strPath.c_str()) != 0) return FailErrno(FALSE, errno);
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  if (g_bFaultArmed && WouldCreateDirectory(lpPathName) && !FaultHookNameChange()) return FALSE;
  return GuardWin32(FALSE, [&] { return CreateDirectoryImpl(lpPathName); });
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return GuardWin32(FALSE, [&] { return RemoveDirectoryImpl(lpPathName); });
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  return GuardWin32(static_cast<DWORD>(0), [&] { return GetCurrentDirectoryImpl(nBufferLength, lpBuffer); });
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  return GuardWin32(FALSE, [&] { return SetCurrentDirectoryImpl(lpPathName); });
}
