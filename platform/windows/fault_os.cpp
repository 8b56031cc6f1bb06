// The fault injector on Windows: the wrappers of the calls that change file
// contents, and its own file access. Built against <windows.h> alone, so
// the calls here are the real ones.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

#include "platform/fault_hook.h"

namespace {

HANDLE Handle(intptr_t hFile) { return reinterpret_cast<HANDLE>(hFile); }

intptr_t Native(HANDLE hFile) { return reinterpret_cast<intptr_t>(hFile); }

bool GetPointer(HANDLE hFile, LARGE_INTEGER& liPos) {
  LARGE_INTEGER liZero;
  liZero.QuadPart = 0;
  return SetFilePointerEx(hFile, liZero, &liPos, FILE_CURRENT) != FALSE;
}

bool SetPointer(HANDLE hFile, uint64_t qwOffset) {
  LARGE_INTEGER liPos;
  liPos.QuadPart = static_cast<LONGLONG>(qwOffset);
  return SetFilePointerEx(hFile, liPos, nullptr, FILE_BEGIN) != FALSE;
}

// Runs a positioned transfer and puts the file pointer, which our handle
// shares with the program's, back where it was.
template <typename TBody>
bool KeepingPointer(HANDLE hFile, TBody&& body) {
  LARGE_INTEGER liSaved;
  if (!GetPointer(hFile, liSaved)) return false;
  const bool bOk = body();
  return SetPointer(hFile, static_cast<uint64_t>(liSaved.QuadPart)) && bOk;
}

}  // namespace

BOOL WINAPI FaultWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                           LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (g_bFaultArmed) {
    const uint64_t qwOffset =
        lpOverlapped ? (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset : 0;
    if (!FaultHookWrite(Native(hFile), lpBuffer, nNumberOfBytesToWrite, lpOverlapped != nullptr, qwOffset)) {
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
      return FALSE;
    }
  }
  return WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL WINAPI FaultFlushFileBuffers(HANDLE hFile) {
  if (g_bFaultArmed && !FaultHookFlush(Native(hFile))) return FALSE;
  return FlushFileBuffers(hFile);
}

BOOL WINAPI FaultSetEndOfFile(HANDLE hFile) {
  if (g_bFaultArmed && !FaultHookTruncate(Native(hFile))) return FALSE;
  return SetEndOfFile(hFile);
}

bool FaultOsIsDiskFile(intptr_t hFile) { return GetFileType(Handle(hFile)) == FILE_TYPE_DISK; }

bool FaultOsIdentify(intptr_t hFile, uint64_t& qwVolume, uint64_t& qwIndex) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(Handle(hFile), &info)) return false;
  qwVolume = info.dwVolumeSerialNumber;
  qwIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

intptr_t FaultOsDuplicate(intptr_t hFile) {
  HANDLE hOwn = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), Handle(hFile), GetCurrentProcess(), &hOwn, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return -1;
  }
  return Native(hOwn);
}

void FaultOsClose(intptr_t hFile) { CloseHandle(Handle(hFile)); }

bool FaultOsPosition(intptr_t hFile, uint64_t& qwPosition) {
  LARGE_INTEGER liPos;
  if (!GetPointer(Handle(hFile), liPos)) return false;
  qwPosition = static_cast<uint64_t>(liPos.QuadPart);
  return true;
}

bool FaultOsSize(intptr_t hFile, uint64_t& qwSize) {
  LARGE_INTEGER liSize;
  if (!GetFileSizeEx(Handle(hFile), &liSize)) return false;
  qwSize = static_cast<uint64_t>(liSize.QuadPart);
  return true;
}

bool FaultOsReadAt(intptr_t hFile, uint64_t qwOffset, void* pData, uint64_t qwSize) {
  return KeepingPointer(Handle(hFile), [&] {
    char* pByte = static_cast<char*>(pData);
    if (!SetPointer(Handle(hFile), qwOffset)) return false;
    while (qwSize > 0) {
      DWORD dwGot = 0;
      const DWORD dwChunk = static_cast<DWORD>(std::min<uint64_t>(qwSize, 1u << 30));
      if (!ReadFile(Handle(hFile), pByte, dwChunk, &dwGot, nullptr) || dwGot == 0) return false;
      pByte += dwGot;
      qwSize -= dwGot;
    }
    return true;
  });
}

bool FaultOsWriteAt(intptr_t hFile, uint64_t qwOffset, const void* pData, uint64_t qwSize) {
  return KeepingPointer(Handle(hFile), [&] {
    const char* pByte = static_cast<const char*>(pData);
    if (!SetPointer(Handle(hFile), qwOffset)) return false;
    while (qwSize > 0) {
      DWORD dwPut = 0;
      const DWORD dwChunk = static_cast<DWORD>(std::min<uint64_t>(qwSize, 1u << 30));
      if (!WriteFile(Handle(hFile), pByte, dwChunk, &dwPut, nullptr) || dwPut == 0) return false;
      pByte += dwPut;
      qwSize -= dwPut;
    }
    return true;
  });
}

bool FaultOsTruncate(intptr_t hFile, uint64_t qwSize) {
  return KeepingPointer(Handle(hFile),
                        [&] { return SetPointer(Handle(hFile), qwSize) && SetEndOfFile(Handle(hFile)) != FALSE; });
}

void FaultOsExit(int nCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(nCode));
  ExitProcess(static_cast<UINT>(nCode));  // not reached
}
