// The Win32 "A" functions Patchloom calls with file names, redirected to
// wrappers that convert code page 936 to UTF-16 and call the "W" functions.
// The "A" functions themselves would use the machine's ANSI code page, which
// is 936 only on Chinese systems; with the wrappers GBK names reach the file
// system intact everywhere, and names read back come out in code page 936.
//
// Included by platform/win32.h after <windows.h>, so library code keeps
// calling CreateFileA and friends unchanged.
//
// Like the POSIX build: a path of MAX_PATH or more bytes fails with
// ERROR_FILENAME_EXCED_RANGE, a path that is not valid code page 936 with
// ERROR_INVALID_NAME, and a name read back that does not fit its buffer in
// code page 936 is skipped (searches) or truncated on a character boundary
// (module path). Characters the code page lacks read back as '?'.
#pragma once

HANDLE WINAPI Cp936CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                               DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI Cp936DeleteFileA(LPCSTR lpFileName);
BOOL WINAPI Cp936MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
DWORD WINAPI Cp936GetFileAttributesA(LPCSTR lpFileName);
BOOL WINAPI Cp936CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL WINAPI Cp936RemoveDirectoryA(LPCSTR lpPathName);
DWORD WINAPI Cp936GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
BOOL WINAPI Cp936SetCurrentDirectoryA(LPCSTR lpPathName);
HANDLE WINAPI Cp936FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI Cp936FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
DWORD WINAPI Cp936GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL WINAPI Cp936CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                                LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                                LPPROCESS_INFORMATION lpProcessInformation);
UINT WINAPI Cp936WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
BOOL WINAPI Cp936GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                     PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);

#define CreateFileA Cp936CreateFileA
#define DeleteFileA Cp936DeleteFileA
#define MoveFileExA Cp936MoveFileExA
#define GetFileAttributesA Cp936GetFileAttributesA
#define CreateDirectoryA Cp936CreateDirectoryA
#define RemoveDirectoryA Cp936RemoveDirectoryA
#define GetCurrentDirectoryA Cp936GetCurrentDirectoryA
#define SetCurrentDirectoryA Cp936SetCurrentDirectoryA
#define FindFirstFileA Cp936FindFirstFileA
#define FindNextFileA Cp936FindNextFileA
#define GetModuleFileNameA Cp936GetModuleFileNameA
#define CreateProcessA Cp936CreateProcessA
#define WinExec Cp936WinExec
#define GetDiskFreeSpaceExA Cp936GetDiskFreeSpaceExA
