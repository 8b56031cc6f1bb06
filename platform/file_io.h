// Whole-buffer and whole-file reads and writes over Win32 file handles.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

// Moves the file pointer of hFile to qwOffset from the start, through liPos.
// Returns false with the last error set.
bool SeekFile(HANDLE hFile, LARGE_INTEGER& liPos, uint64_t qwOffset);

// Writes all nSize bytes at the file pointer. A failed or short write
// returns false with the last error set (ERROR_DISK_FULL for a short one).
bool WriteAll(HANDLE hFile, const void* pData, uint64_t nSize);

// Reads exactly nSize bytes. Returns false when the read fails or the file
// ends first (ERROR_HANDLE_EOF).
bool ReadAll(HANDLE hFile, void* pData, uint64_t nSize);

// The size of the open file hFile in qwSize. False with the last error set.
bool FileSize(HANDLE hFile, uint64_t& qwSize);

// Reads the whole file pszPath into strBytes. False with the last error set
// when it cannot be opened or read, ERROR_FILE_TOO_LARGE when it holds more
// than qwMaxSize bytes (or 4 GiB or more), ERROR_NOT_ENOUGH_MEMORY when its
// bytes cannot be held.
bool ReadWholeFile(const char* pszPath, std::string& strBytes, uint64_t qwMaxSize = UINT32_MAX);

// Deletes a file on a failure path, keeping the failure's last error.
void DeleteKeepingError(const std::string& strPath);
