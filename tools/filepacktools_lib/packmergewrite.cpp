// The writes of a planned merge: each blob at the place the plan chose, and
// each loose file under a temporary name, flushed and renamed into place, so
// that a loose file is always either absent, as it was, or complete.
#include <new>

#include "platform/dir_sync.h"
#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/packcheck.h"
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
  const uint64_t qwCapacity = 2ull * plain.dwSize + 100;
  if (qwCapacity > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[qwCapacity]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  uint32_t dwLen = static_cast<uint32_t>(qwCapacity);
  if (LzmaCompress(plain.pbyData, plain.dwSize, out.pbyBuffer.get(), &dwLen, -1) != kLzmaOk) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
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

namespace {

// Creates strPath unless a directory of that name exists; a new one is
// made durable at once (FlushDirectoryOf), so that the loose file moved
// into it durably stays reachable after a power cut. False with the last
// error set: ERROR_DIRECTORY when a file takes the name, else why the
// directory could not be made.
bool MakeDirectory(const std::string& strPath) {
  if (CreateDirectoryA(strPath.c_str(), nullptr)) return FlushDirectoryOf(strPath.c_str()) != FALSE;
  const DWORD dwError = GetLastError();
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
    SetLastError(dwError);
    return false;
  }
  if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  SetLastError(ERROR_DIRECTORY);
  return false;
}

}  // namespace

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
    if (!MakeDirectory(strPath)) return false;
  }
  strPath = JoinPath(strPath, strRel.substr(nStart));
  const std::string strTemp = LooseTempPath(strPath);

  CEntryBytes bytes;
  if (!m_source.ReadPlainBytes(*step.pSource, bytes)) return false;
  CScopedHandle hFile(CreateFileA(strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  // Flushed before the rename, so a power cut cannot leave the new name
  // with bytes that never reached the disk.
  bool bOk = WriteAll(hFile.Get(), bytes.pbyData, bytes.dwSize) && FlushFileBuffers(hFile.Get());
  hFile.Reset();
  bOk = bOk && MoveFileExA(strTemp.c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!bOk) {
    const DWORD dwError = GetLastError();
    DeleteFileA(strTemp.c_str());  // no partial file stays behind
    SetLastError(dwError);
  }
  return bOk;
}
