// The file and directory calls that take names, over their W forms.
#include "platform/fault_hook.h"
#include "platform/windows/wide_path.h"

HANDLE WINAPI Cp936CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                               DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return WithWidePath(lpFileName, INVALID_HANDLE_VALUE, [&](const wchar_t* pszWide) {
    return CreateFileW(pszWide, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                       dwFlagsAndAttributes, hTemplateFile);
  });
}

BOOL WINAPI Cp936DeleteFileA(LPCSTR lpFileName) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return WithWidePath(lpFileName, FALSE, [](const wchar_t* pszWide) { return DeleteFileW(pszWide); });
}

BOOL WINAPI Cp936MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (g_bFaultArmed && !FaultHookNameChange()) return FALSE;
  return WithWidePath(lpExistingFileName, FALSE, [&](const wchar_t* pszExisting) {
    return WithWidePath(lpNewFileName, FALSE,
                        [&](const wchar_t* pszNew) { return MoveFileExW(pszExisting, pszNew, dwFlags); });
  });
}

DWORD WINAPI Cp936GetFileAttributesA(LPCSTR lpFileName) {
  return WithWidePath(lpFileName, INVALID_FILE_ATTRIBUTES,
                      [](const wchar_t* pszWide) { return GetFileAttributesW(pszWide); });
}

BOOL WINAPI Cp936CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return WithWidePath(lpPathName, FALSE,
                      [&](const wchar_t* pszWide) { return CreateDirectoryW(pszWide, lpSecurityAttributes); });
}

BOOL WINAPI Cp936RemoveDirectoryA(LPCSTR lpPathName) {
  return WithWidePath(lpPathName, FALSE, [](const wchar_t* pszWide) { return RemoveDirectoryW(pszWide); });
}
