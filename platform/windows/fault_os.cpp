// The fault injector on Windows: the wrappers of the calls that change file
// contents, and its own file access. Built against <windows.h> alone, so
// the calls here are the real ones. A sync's unit is the volume: NTFS logs
// every directory change of a volume in one ordered log.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/fault_hook.h"
#include "platform/windows/full_path.h"

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

// A handle on a file or directory for reading its identity, or
// INVALID_HANDLE_VALUE.
HANDLE OpenForIdentity(const FaultPath& strPath) {
  return CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IdentityOf(const FaultPath& strPath, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE hFile = OpenForIdentity(strPath);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  const bool bOk = GetFileInformationByHandle(hFile, &info) != FALSE;
  CloseHandle(hFile);
  return bOk;
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

// FILE_WRITE_THROUGH in the handle's mode (FileModeInformation).
bool FaultOsIsWriteThrough(intptr_t hFile) {
  using QueryFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  static const QueryFile pfnQuery = reinterpret_cast<QueryFile>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr ULONG kFileModeInformation = 16;
  constexpr ULONG kFileWriteThrough = 0x2;
  IO_STATUS_BLOCK status;
  ULONG dwMode = 0;
  return pfnQuery != nullptr &&
         pfnQuery(Handle(hFile), &status, &dwMode, sizeof(dwMode),
                  static_cast<FILE_INFORMATION_CLASS>(kFileModeInformation)) >= 0 &&
         (dwMode & kFileWriteThrough) != 0;
}

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

FaultPath FaultOsFullPath(const FaultPath& strPath) { return FullPathOf(strPath.c_str()); }

bool FaultOsDirUnit(const FaultPath& strDir, uint64_t& qwVolume, uint64_t& qwUnit) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!IdentityOf(strDir, info)) return false;
  qwVolume = info.dwVolumeSerialNumber;
  qwUnit = 0;
  return true;
}

bool FaultOsParentUnit(const FaultPath& strPath, uint64_t& qwVolume, uint64_t& qwUnit) {
  return FaultOsDirUnit(ParentDirOf(FullPathOf(strPath.c_str())), qwVolume, qwUnit);
}

FaultPath FaultOsKeepName(const FaultPath& strPath, uint32_t nSerial) {
  return strPath + L".~fault-kept-" + std::to_wstring(nSerial);
}

bool FaultOsExists(const FaultPath& strPath) { return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FaultOsSameFile(const FaultPath& strA, const FaultPath& strB) {
  BY_HANDLE_FILE_INFORMATION infoA;
  BY_HANDLE_FILE_INFORMATION infoB;
  return IdentityOf(strA, infoA) && IdentityOf(strB, infoB) &&
         infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber && infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
         infoA.nFileIndexLow == infoB.nFileIndexLow;
}

bool FaultOsLink(const FaultPath& strExisting, const FaultPath& strNew) {
  return CreateHardLinkW(strNew.c_str(), strExisting.c_str(), nullptr) != FALSE;
}

bool FaultOsRename(const FaultPath& strFrom, const FaultPath& strTo) {
  return MoveFileExW(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool FaultOsRemoveFile(const FaultPath& strPath) { return DeleteFileW(strPath.c_str()) != FALSE; }

bool FaultOsRemoveTree(const FaultPath& strPath) {
  std::error_code error;
  std::filesystem::remove_all(std::filesystem::path(strPath), error);
  return !error;
}

bool FaultOsMakeDirectory(const FaultPath& strPath) { return CreateDirectoryW(strPath.c_str(), nullptr) != FALSE; }
