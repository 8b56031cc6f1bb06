// The writes of a planned merge: each blob at the place the plan chose, and
// each loose file by a durable replace (a temporary name, flushed and moved
// into place with write-through), so that a loose file is always either
// absent, as it was, or complete.
#include <new>

#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packmerger.h"

bool CPackMerger::Write() {
  for (const CStep& step : m_vecStep) {
    if (!(step.bLoose ? WriteLooseFile(step) : WriteBlob(step))) return false;
  }
  return true;
}

// The bytes an entry takes in the target: plain for a plain pack, an Lzma86
// stream for a compressed one (a compressed source's stream is copied once
// it is known to decode; a plain source is encoded).
bool CPackMerger::ReadForTarget(const PackEntry& srcEntry, CEntryBytes& out) {
  if (m_target.m_byCompressed == 0) return m_source.ReadPlainBytes(srcEntry, out);
  if (m_source.m_byCompressed != 0) {
    CEntryBytes decoded;
    return m_source.ReadPlainBytes(srcEntry, decoded) && m_source.MapStoredBytes(srcEntry, out);
  }
  CEntryBytes plain;
  if (!m_source.ReadPlainBytes(srcEntry, plain)) return false;
  uint32_t dwLen = Lzma86CompressBound(plain.dwSize);
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[dwLen]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  const int nResult = LzmaCompress(plain.pbyData, plain.dwSize, out.pbyBuffer.get(), &dwLen, -1);
  if (nResult != kLzmaOk) {
    SetLastError(nResult == kLzmaErrorOutputEof ? ERROR_FILE_TOO_LARGE : ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  out.pbyData = out.pbyBuffer.get();
  out.dwSize = dwLen;
  return true;
}

bool CPackMerger::WriteBlob(const CStep& step) {
  CEntryBytes bytes;
  if (!ReadForTarget(*step.pSource, bytes)) return false;
  if (bytes.dwSize != step.dwSize) {
    SetLastError(ERROR_INVALID_DATA);  // not the bytes the plan placed
    return false;
  }
  HANDLE hPack = m_target.m_hPackFile.Get();
  return SeekFile(hPack, m_target.m_liFilePos, step.dwOffset) && WriteAll(hPack, bytes.pbyData, bytes.dwSize);
}

// An entry outside the client's tree is written below the starting
// directory at its path without the root name, creating its directories.
// A directory that cannot be made (a file of that name, say) fails the
// merge instead of writing the file somewhere else.
bool CPackMerger::WriteLooseFile(const CStep& step) {
  const std::string strRel = LooseRelative(*step.pstrName);
  std::string strPath = FieldString(m_target.m_szWorkDir, sizeof(m_target.m_szWorkDir));
  size_t nStart = 0;
  for (size_t nSep; (nSep = strRel.find('\\', nStart)) != std::string::npos; nStart = nSep + 1) {
    strPath = JoinPath(strPath, strRel.substr(nStart, nSep - nStart));
    CreateDirectoryA(strPath.c_str(), nullptr);
    DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (dwAttributes != INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_DIRECTORY);
      return false;
    }
  }
  strPath = JoinPath(strPath, strRel.substr(nStart));
  const std::string strTemp = LooseTempPath(strPath);

  CEntryBytes bytes;
  if (!m_source.ReadPlainBytes(*step.pSource, bytes)) return false;
  CScopedHandle hFile = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hFile) return false;
  return CompleteReplacement(WriteAll(hFile.Get(), bytes.pbyData, bytes.dwSize), hFile, strTemp, strPath);
}
