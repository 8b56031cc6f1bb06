#include "tools/filepacktools_lib/packmergewrite.h"

#include <new>

#include "platform/dir_sync.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

// Loose files are written under this suffix and renamed when complete.
constexpr char kLooseTempSuffix[] = ".~partial";

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
    if (!MakeDirectory(strPath)) return false;
  }
  strPath = JoinPath(strPath, strRel.substr(nStart));
  const std::string strTemp = LooseTempPath(strPath);

  CEntryBytes bytes;
  if (!m_source.ReadPlainBytes(*step.pSource, bytes)) return false;
  CScopedHandle hFile = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hFile) return false;
  return CompleteReplacement(WriteAll(hFile.Get(), bytes.pbyData, bytes.dwSize), hFile, strTemp, strPath);
}
