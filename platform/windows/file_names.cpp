// The file and directory calls that take names, over their W forms. The
// fault injector's points are counted before the call (a stop throws, which
// must happen outside the noexcept wrappers); what the call did is reported
// from inside, with the converted names.
#include "platform/fault_hook.h"
#include "platform/windows/full_path.h"
#include "platform/windows/wide_path.h"

namespace {

bool MayCreate(DWORD dwDisposition) {
  return dwDisposition == CREATE_NEW || dwDisposition == CREATE_ALWAYS || dwDisposition == OPEN_ALWAYS;
}

// The fault injector's point of a call that is about to create pszPath: one
// whose name is missing in an existing directory.
bool CreationPoint(LPCSTR pszPath) {
  CWidePath path(pszPath);
  if (path.Error() != ERROR_SUCCESS || path.Get() == nullptr) return true;
  if (GetFileAttributesW(path.Get()) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) return true;
  return FaultHookNameChange();
}

// Whether a CreateFileW that succeeded made the file.
bool Created(DWORD dwDisposition) { return dwDisposition == CREATE_NEW || GetLastError() != ERROR_ALREADY_EXISTS; }

}  // namespace

HANDLE WINAPI Cp936CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                               DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  const bool bMayCreate = g_bFaultArmed && MayCreate(dwCreationDisposition);
  if (bMayCreate && !CreationPoint(lpFileName)) return INVALID_HANDLE_VALUE;
  return WithWidePath(lpFileName, INVALID_HANDLE_VALUE, [&](const wchar_t* pszWide) {
    if (!bMayCreate || pszWide == nullptr) {
      return CreateFileW(pszWide, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                         dwFlagsAndAttributes, hTemplateFile);
    }
    CFaultDirOp fault(FaultDirOp::kCreateFile, pszWide);
    HANDLE hFile = CreateFileW(pszWide, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                               dwFlagsAndAttributes, hTemplateFile);
    if (hFile != INVALID_HANDLE_VALUE && Created(dwCreationDisposition)) fault.Done();
    return hFile;
  });
}

BOOL WINAPI Cp936DeleteFileA(LPCSTR lpFileName) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return WithWidePath(lpFileName, FALSE, [](const wchar_t* pszWide) {
    if (pszWide == nullptr) return DeleteFileW(pszWide);
    CFaultDirOp fault(FaultDirOp::kDelete, pszWide);
    if (!DeleteFileW(pszWide)) return FALSE;
    fault.Done();
    return TRUE;
  });
}

BOOL WINAPI Cp936MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return WithWidePath(lpExistingFileName, FALSE, [&](const wchar_t* pszExisting) {
    return WithWidePath(lpNewFileName, FALSE, [&](const wchar_t* pszNew) {
      if (pszExisting == nullptr || pszNew == nullptr) return MoveFileExW(pszExisting, pszNew, dwFlags);
      // The file system ignores case: an existing target is the name itself.
      CFaultDirOp fault(FaultDirOp::kMove, pszExisting, pszNew, pszNew);
      if (!MoveFileExW(pszExisting, pszNew, dwFlags)) return FALSE;
      fault.Done();
      // A write-through move writes NTFS's metadata log (platform/dir_sync.h);
      // an injected failure of that write leaves the move done, not durable.
      if (g_bFaultArmed && (dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
        if (FaultHookSyncFails()) {
          SetLastError(ERROR_WRITE_FAULT);
          return FALSE;
        }
        FaultHookDirSynced(ParentDirOf(FullPathOf(pszNew)));
      }
      return TRUE;
    });
  });
}

DWORD WINAPI Cp936GetFileAttributesA(LPCSTR lpFileName) {
  return WithWidePath(lpFileName, INVALID_FILE_ATTRIBUTES,
                      [](const wchar_t* pszWide) { return GetFileAttributesW(pszWide); });
}

BOOL WINAPI Cp936CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  if (g_bFaultArmed && !CreationPoint(lpPathName)) return FALSE;
  return WithWidePath(lpPathName, FALSE, [&](const wchar_t* pszWide) {
    if (pszWide == nullptr) return CreateDirectoryW(pszWide, lpSecurityAttributes);
    CFaultDirOp fault(FaultDirOp::kCreateDirectory, pszWide);
    if (!CreateDirectoryW(pszWide, lpSecurityAttributes)) return FALSE;
    fault.Done();
    return TRUE;
  });
}

BOOL WINAPI Cp936RemoveDirectoryA(LPCSTR lpPathName) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return WithWidePath(lpPathName, FALSE, [](const wchar_t* pszWide) {
    if (pszWide == nullptr) return RemoveDirectoryW(pszWide);
    CFaultDirOp fault(FaultDirOp::kRemoveDirectory, pszWide);
    if (!RemoveDirectoryW(pszWide)) return FALSE;
    fault.Done();
    return TRUE;
  });
}
