#include "tools/filepacktools_lib/packmergewrite.h"

#include <new>

#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

// Loose files are written under this suffix and renamed when complete.
constexpr char kLooseTempSuffix[] = ".~partial";

}  // namespace

std::string CMergeWriter::LooseTempPath(const std::string& strPath) { return strPath + kLooseTempSuffix; }

bool CMergeWriter::StoredSize(const PackEntry& source, uint32_t& dwSize) const {
  if (m_source.IsCompressed()) {
    dwSize = source.dwStoredSize;
    return true;
  }
  CEntryBytes bytes;
  if (!ReadForTarget(source, bytes)) return false;
  dwSize = bytes.dwSize;
  return true;
}

bool CMergeWriter::Write(const CMergePlan& plan) {
  for (const CMergeStep& step : plan.vecSteps) {
    const bool bOk = step.eAction == MergeAction::kLoose ? WriteLooseFile(step) : WriteBlob(step);
    if (!bOk) {
      m_strFailed = *step.pstrName;
      return false;
    }
  }
  return true;
}

// The bytes an entry takes in the client: plain for a plain pack, an Lzma86
// stream for a compressed one.
bool CMergeWriter::ReadForTarget(const PackEntry& source, CEntryBytes& out) const {
  if (!m_bTargetCompressed) return m_source.ReadPlainBytes(source, out);
  if (m_source.IsCompressed()) {
    CEntryBytes decoded;
    return m_source.ReadPlainBytes(source, decoded) && m_source.MapStoredBytes(source, out);
  }
  CEntryBytes plain;
  if (!m_source.ReadPlainBytes(source, plain)) return false;
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

bool CMergeWriter::WriteBlob(const CMergeStep& step) {
  CEntryBytes bytes;
  if (!ReadForTarget(*step.pSource, bytes)) return false;
  if (bytes.dwSize != step.dwSize) {
    SetLastError(ERROR_INVALID_DATA);  // not the bytes the plan placed
    return false;
  }
  LARGE_INTEGER liPos;
  return SeekFile(m_hTarget, liPos, step.dwOffset) && WriteAll(m_hTarget, bytes.pbyData, bytes.dwSize);
}

// An entry outside the client's tree is written below the starting
// directory at its path without the root name, creating its directories.
// A directory that cannot be made (a file of that name, say) fails the
// merge instead of writing the file somewhere else.
bool CMergeWriter::WriteLooseFile(const CMergeStep& step) {
  const std::string strRel = LooseRelative(*step.pstrName);
  std::string strPath = m_strWorkDir;
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
