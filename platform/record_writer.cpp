#include "platform/record_writer.h"

#include "platform/file_io.h"

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
