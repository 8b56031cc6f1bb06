// CreateFileA: Win32 open semantics over open(2); CreateOwnerOnlyFileA, the
// same open creating the file with mode 0600.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/api_guard.h"
#include "platform/fault_hook.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_info.h"
#include "platform/posix/file_object.h"
#include "platform/posix/path_lookup.h"
#include "platform/private_file.h"

namespace {

struct COpenRequest {
  DWORD m_dwAccess;       // kAccess* bits
  DWORD m_dwShare;        // FILE_SHARE_* bits
  DWORD m_dwDisposition;  // CREATE_NEW ... TRUNCATE_EXISTING
  DWORD m_dwFlags;        // FILE_ATTRIBUTE_* and FILE_FLAG_*
  mode_t m_nCreateMode;   // permissions of a file the open creates (before the umask)
};

bool TruncatesExisting(DWORD dwDisposition) {
  return dwDisposition == CREATE_ALWAYS || dwDisposition == TRUNCATE_EXISTING;
}

bool MayCreate(DWORD dwDisposition) {
  return dwDisposition == CREATE_NEW || dwDisposition == CREATE_ALWAYS || dwDisposition == OPEN_ALWAYS;
}

int OpenFlags(const COpenRequest& request) {
  int nFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // Read-write also for write-only handles (share locks need a readable
  // descriptor) and for CREATE_ALWAYS, which truncates even for readers.
  bool bWrite = (request.m_dwAccess & kAccessWrite) != 0 || TruncatesExisting(request.m_dwDisposition);
  nFlags |= bWrite ? O_RDWR : O_RDONLY;
  if ((request.m_dwFlags & FILE_FLAG_WRITE_THROUGH) != 0) nFlags |= O_DSYNC;
  return nFlags;
}

// open(2) that falls back to write-only when a write-only handle's file
// cannot be read.
int OpenPath(const std::string& strPath, int nFlags, const COpenRequest& request) {
  int nFd = open(strPath.c_str(), nFlags, request.m_nCreateMode);
  bool bWriteOnly = (request.m_dwAccess & (kAccessRead | kAccessWrite)) == kAccessWrite;
  if (nFd < 0 && errno == EACCES && bWriteOnly)
    nFd = open(strPath.c_str(), (nFlags & ~O_RDWR) | O_WRONLY, request.m_nCreateMode);
  return nFd;
}

// Opens the existing file or creates a new one as the disposition allows,
// telling which happened. Returns the descriptor or -1 with errno set.
int OpenOrCreate(const std::string& strPath, const COpenRequest& request, bool& bExisted) {
  int nFlags = OpenFlags(request);
  DWORD dwDisposition = request.m_dwDisposition;
  // Creating with O_EXCL and opening without O_CREAT tells reliably whether
  // the file existed; a file appearing in between is opened on the retry.
  for (int nTry = 0; nTry < 16; ++nTry) {
    if (dwDisposition != CREATE_NEW) {
      int nFd = OpenPath(strPath, nFlags, request);
      if (nFd >= 0 || errno != ENOENT || !MayCreate(dwDisposition)) {
        bExisted = true;
        return nFd;
      }
    }
    int nFd = OpenPath(strPath, nFlags | O_CREAT | O_EXCL, request);
    if (nFd >= 0 || errno != EEXIST || dwDisposition == CREATE_NEW) {
      bExisted = nFd < 0;
      return nFd;
    }
  }
  errno = EEXIST;
  return -1;
}

DWORD OpenFailure(int nErrno, const CResolvedPath& resolved, const COpenRequest& request) {
  if (nErrno == ENOENT) return resolved.MissingError();
  if (nErrno == EEXIST && request.m_dwDisposition == CREATE_NEW) return ERROR_FILE_EXISTS;
  return Win32ErrorFromErrno(nErrno);
}

// Checks Windows applies to an existing file before the open is granted.
DWORD CheckExisting(const struct stat& st, const COpenRequest& request) {
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  bool bModifies =
      (request.m_dwAccess & (kAccessWrite | kAccessDelete)) != 0 || TruncatesExisting(request.m_dwDisposition);
  if (bModifies && IsReadOnlyMode(st.st_mode)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// Everything after open(2) succeeded: attribute checks, share modes, the
// truncation the disposition asks for. Returns ERROR_SUCCESS or the error.
DWORD FinishOpen(int nFd, bool bExisted, const COpenRequest& request) {
  struct stat st;
  if (fstat(nFd, &st) != 0) return Win32ErrorFromErrno(errno);
  if (bExisted) {
    DWORD dwError = CheckExisting(st, request);
    if (dwError != ERROR_SUCCESS) return dwError;
  }
  DWORD dwError = AcquireShareMode(nFd, request.m_dwAccess, request.m_dwShare);
  if (dwError != ERROR_SUCCESS) return dwError;
  // Only now: a file another open denies writing must survive the attempt.
  if (bExisted && TruncatesExisting(request.m_dwDisposition) && S_ISREG(st.st_mode) && ftruncate(nFd, 0) != 0)
    return Win32ErrorFromErrno(errno);
  if (!bExisted && (request.m_dwFlags & FILE_ATTRIBUTE_READONLY) != 0)
    fchmod(nFd, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
  int nStatus = fcntl(nFd, F_GETFL);
  if (nStatus != -1) fcntl(nFd, F_SETFL, nStatus & ~O_NONBLOCK);
  return ERROR_SUCCESS;
}

DWORD ValidateRequest(const COpenRequest& request) {
  if (request.m_dwDisposition < CREATE_NEW || request.m_dwDisposition > TRUNCATE_EXISTING)
    return ERROR_INVALID_PARAMETER;
  if (request.m_dwDisposition == TRUNCATE_EXISTING && (request.m_dwAccess & kAccessWrite) == 0)
    return ERROR_INVALID_PARAMETER;
  // Asynchronous I/O and delete-on-close have no implementation here.
  if ((request.m_dwFlags & (FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE)) != 0) return ERROR_NOT_SUPPORTED;
  return ERROR_SUCCESS;
}

HANDLE CreateFileImpl(LPCSTR pszFileName, const COpenRequest& request) {
  DWORD dwError = ValidateRequest(request);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);
  CResolvedPath resolved;
  dwError = ResolveWin32Path(pszFileName, resolved);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);
  if (!resolved.Exists() && (!resolved.m_bParentExists || !MayCreate(request.m_dwDisposition)))
    return Fail(INVALID_HANDLE_VALUE, resolved.MissingError());

  bool bExisted = false;
  CFaultDirOp fault(FaultDirOp::kCreateFile, resolved.m_strPath);
  CUniqueFd fd(OpenOrCreate(resolved.m_strPath, request, bExisted));
  if (!fd.IsValid()) return Fail(INVALID_HANDLE_VALUE, OpenFailure(errno, resolved, request));
  if (!bExisted) fault.Done();
  dwError = FinishOpen(fd.Get(), bExisted, request);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);

  auto spFile = std::make_shared<CUniqueFd>(std::move(fd));
  HANDLE hFile = RegisterHandle(std::make_shared<CFileObject>(std::move(spFile), request.m_dwAccess));
  bool bReportExisting =
      bExisted && (request.m_dwDisposition == CREATE_ALWAYS || request.m_dwDisposition == OPEN_ALWAYS);
  SetLastError(bReportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return hFile;
}

// For the fault injector: whether the call is about to create a file.
bool WouldCreate(LPCSTR pszFileName, const COpenRequest& request) {
  if (ValidateRequest(request) != ERROR_SUCCESS || !MayCreate(request.m_dwDisposition)) return false;
  return GuardWin32(false, [&] {
    CResolvedPath resolved;
    return ResolveWin32Path(pszFileName, resolved) == ERROR_SUCCESS && !resolved.Exists() &&
           resolved.m_bParentExists;
  });
}

}  // namespace

// A creation is a point of the fault injector, counted outside the
// exception barrier (a stop throws).
extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  COpenRequest request = {AccessFromDesired(dwDesiredAccess), dwShareMode, dwCreationDisposition, dwFlagsAndAttributes,
                          0666};
  if (g_bFaultArmed && WouldCreate(lpFileName, request) && !FaultHookNameChange()) return INVALID_HANDLE_VALUE;
  return GuardWin32(INVALID_HANDLE_VALUE, [&] { return CreateFileImpl(lpFileName, request); });
}

HANDLE CreateOwnerOnlyFileA(LPCSTR pszPath) {
  COpenRequest request = {AccessFromDesired(GENERIC_WRITE), 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0600};
  if (g_bFaultArmed && WouldCreate(pszPath, request) && !FaultHookNameChange()) return INVALID_HANDLE_VALUE;
  return GuardWin32(INVALID_HANDLE_VALUE, [&] { return CreateFileImpl(pszPath, request); });
}
