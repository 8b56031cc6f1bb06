#include "platform/file_io.h"

#include <algorithm>
#include <new>

#include "platform/last_error.h"
#include "platform/scoped_handle.h"

namespace {
// Large buffers go through in pieces that a DWORD count can carry.
constexpr uint64_t kMaxIo = 1u << 30;
}  // namespace

bool SeekFile(HANDLE hFile, LARGE_INTEGER& liPos, uint64_t qwOffset) {
  liPos.QuadPart = static_cast<LONGLONG>(qwOffset);
  LONG lHigh = liPos.u.HighPart;
  SetLastError(ERROR_SUCCESS);
  DWORD dwLow = SetFilePointer(hFile, static_cast<LONG>(liPos.u.LowPart), &lHigh, FILE_BEGIN);
  return !(dwLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

bool WriteAll(HANDLE hFile, const void* pData, uint64_t nSize) {
  const char* pByte = static_cast<const char*>(pData);
  while (nSize > 0) {
    DWORD dwChunk = static_cast<DWORD>(std::min(nSize, kMaxIo));
    DWORD dwWritten = 0;
    if (!WriteFile(hFile, pByte, dwChunk, &dwWritten, nullptr)) return false;
    if (dwWritten != dwChunk) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    pByte += dwChunk;
    nSize -= dwChunk;
  }
  return true;
}

bool ReadAll(HANDLE hFile, void* pData, uint64_t nSize) {
  char* pByte = static_cast<char*>(pData);
  while (nSize > 0) {
    DWORD dwChunk = static_cast<DWORD>(std::min(nSize, kMaxIo));
    DWORD dwRead = 0;
    if (!ReadFile(hFile, pByte, dwChunk, &dwRead, nullptr)) return false;
    if (dwRead == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    pByte += dwRead;
    nSize -= dwRead;
  }
  return true;
}

bool FileSize(HANDLE hFile, uint64_t& qwSize) {
  DWORD dwHigh = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD dwLow = GetFileSize(hFile, &dwHigh);
  if (dwLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  qwSize = (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
  return true;
}

void DeleteKeepingError(const std::string& strPath) {
  CKeepLastError keep;
  DeleteFileA(strPath.c_str());
}

bool ReadWholeFile(const char* pszPath, std::string& strBytes, uint64_t qwMaxSize) {
  CScopedHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  uint64_t qwSize = 0;
  if (!hFile || !FileSize(hFile.Get(), qwSize)) return false;
  if (qwSize > UINT32_MAX || qwSize > qwMaxSize) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  try {
    strBytes.resize(static_cast<size_t>(qwSize));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return ReadAll(hFile.Get(), &strBytes[0], qwSize);
}
