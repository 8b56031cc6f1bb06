#include "tools/filepacktools_lib/fileio.h"

#include <algorithm>

#include "tools/filepacktools_lib/scopedhandle.h"

namespace {
// Large buffers go through in pieces that a DWORD count can carry.
constexpr uint64_t kMaxIo = 1u << 30;
}  // namespace

std::string CurrentDirectory() {
  char szDir[MAX_PATH] = {};
  DWORD dwLen = GetCurrentDirectoryA(MAX_PATH, szDir);
  return (dwLen > 0 && dwLen < MAX_PATH) ? std::string(szDir, dwLen) : std::string();
}

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

void DeleteKeepingError(const std::string& strPath) {
  const DWORD dwError = GetLastError();
  DeleteFileA(strPath.c_str());
  SetLastError(dwError);
}

bool ReadSmallFile(const std::string& strPath, size_t nMax, std::string& strText) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  DWORD dwHigh = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD dwLow = GetFileSize(hFile.Get(), &dwHigh);
  if (dwLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  const uint64_t qwSize = static_cast<uint64_t>(dwHigh) << 32 | dwLow;
  if (qwSize > nMax) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  strText.assign(static_cast<size_t>(qwSize), '\0');
  return qwSize == 0 || ReadAll(hFile.Get(), &strText[0], qwSize);
}

CRecordWriter::CRecordWriter(HANDLE hFile, LARGE_INTEGER& liPos, uint64_t qwOffset)
    : m_hFile(hFile), m_bOk(SeekFile(hFile, liPos, qwOffset)), m_qwEnd(qwOffset) {
  m_strBuffer.reserve(kChunkSize);
}

void CRecordWriter::Add(const void* pRecord, size_t nSize) {
  m_qwEnd += nSize;
  if (!m_bOk) return;
  m_strBuffer.append(static_cast<const char*>(pRecord), nSize);
  if (m_strBuffer.size() >= kChunkSize) {
    m_bOk = WriteAll(m_hFile, m_strBuffer.data(), m_strBuffer.size());
    m_strBuffer.clear();
  }
}

bool CRecordWriter::Finish() {
  if (m_bOk && !m_strBuffer.empty()) m_bOk = WriteAll(m_hFile, m_strBuffer.data(), m_strBuffer.size());
  m_strBuffer.clear();
  return m_bOk;
}
