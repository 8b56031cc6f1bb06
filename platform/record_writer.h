// Gathering small records into large writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32.h"

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
