// Whole-buffer reads and writes over Win32 file handles.
#pragma once

#include <cstddef>
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

// Reads a whole small file into strText, the file opened for reading and
// shared with readers only. Returns false with the last error set; a file
// larger than nMax bytes is not read (ERROR_FILE_TOO_LARGE).
bool ReadSmallFile(const std::string& strPath, size_t nMax, std::string& strText);

// Deletes a file on a failure path, keeping the failure's last error.
void DeleteKeepingError(const std::string& strPath);

// The process's current directory, or "" when it does not fit MAX_PATH.
std::string CurrentDirectory();

// Gathers records into large writes, starting at one offset of a file. The
// first failure sticks: later calls do nothing, Finish() returns false and
// the last error is that of the failing call.
class CRecordWriter {
 public:
  CRecordWriter(HANDLE hFile, LARGE_INTEGER& liPos, uint64_t qwOffset);
  void Add(const void* pRecord, size_t nSize);
  // Writes what is gathered; true when every byte reached the file.
  bool Finish();
  // Offset just past the last record added.
  uint64_t End() const { return m_qwEnd; }

 private:
  static constexpr size_t kChunkSize = 1 << 20;
  HANDLE m_hFile;
  bool m_bOk;
  uint64_t m_qwEnd;
  std::string m_strBuffer;
};
