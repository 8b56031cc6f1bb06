// The Win32 calls that change file contents, redirected to wrappers that
// run the fault injector's hooks first (platform/fault_inject.h; creations,
// moves and deletions are hooked in the code page 936 wrappers). While
// injection is off a wrapper costs the test of one flag.
//
// Included by platform/win32.h after <windows.h>.
#pragma once

BOOL WINAPI FaultWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                           LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL WINAPI FaultFlushFileBuffers(HANDLE hFile);
BOOL WINAPI FaultSetEndOfFile(HANDLE hFile);

#define WriteFile FaultWriteFile
#define FlushFileBuffers FaultFlushFileBuffers
#define SetEndOfFile FaultSetEndOfFile
