// Extraction: entries of an opened pack written back to disk, one file or a
// whole pack directory as a tree (the walk itself is in packextracttree.cpp).
#include <cassert>
#include <cstring>

#include "platform/last_error.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packextractor.h"
#include "tools/filepacktools_lib/packnames.h"

int CPackFile::ExtractFile(const char* pszName, const char* pszOutFile) {
  if (!pszName || !pszOutFile || !pszOutFile[0]) return Fail(0, ERROR_INVALID_PARAMETER);
  auto itEntry = m_mapEntry.find(pszName);
  if (itEntry == m_mapEntry.end()) return Fail(0, ERROR_FILE_NOT_FOUND);
  // Reading (and decoding) comes before the output file is created, so an
  // entry that cannot be read leaves no file at all.
  CEntryBytes bytes;
  if (!Reader().ReadPlainBytes(*itEntry->second, bytes)) return 0;
  return CPackExtractor::WriteNewFile(pszOutFile, bytes.pbyData, bytes.dwSize) ? 1 : 0;
}

void CPackFile::ExtractAll(const char* pszOutFile) {
  if (!pszOutFile || m_mapEntry.empty()) return;
  for (const auto& item : m_mapEntry) ExtractFile(item.first.c_str(), pszOutFile);
}

namespace {

// The pack path a caller's path names: folded, from the first occurrence of
// the root name on; false when the root name is not in it. Only the first
// 256 characters of the caller's path are looked at.
bool PackPathOf(const std::string& strRoot, const char* pchPackPath, std::string& strPackPath) {
  char szFolded[MAX_PATH] = {};
  std::strncpy(szFolded, pchPackPath, 256);
  CPackFile::MakeLower(szFolded);
  const std::string strFolded(szFolded);
  const size_t nRoot = strFolded.find(strRoot);
  if (nRoot == std::string::npos) return false;
  strPackPath = strFolded.substr(nRoot);
  return true;
}

}  // namespace

CExtractSource CPackFile::ExtractSource() const {
  return CExtractSource{m_mapEntry, m_mapDir, Reader(), m_nExtractWorkers};
}

int CPackFile::ExtractPath(const char* pchPackPath, int nExtractMode, const char* pchSinglefile) {
  assert(NULL != pchPackPath);
  assert('\0' != *pchPackPath);
  assert(NULL != pchSinglefile);
  assert('\0' != *pchSinglefile);
  assert(0 < m_strRootPath.length());
  if (!pchPackPath || !pchPackPath[0] || !pchSinglefile || !pchSinglefile[0]) return Fail(0, ERROR_INVALID_PARAMETER);
  if (m_strRootPath.empty()) return Fail(0, ERROR_INVALID_HANDLE);
  if (strnlen(pchPackPath, MAX_PATH) >= MAX_PATH) return Fail(0, ERROR_FILENAME_EXCED_RANGE);

  std::string strPackPath;
  if (!PackPathOf(m_strRootPath, pchPackPath, strPackPath)) return Fail(0, ERROR_PATH_NOT_FOUND);
  m_strExtractDir = CurrentDirectory();
  if (m_strExtractDir.empty()) return 0;
  if (nExtractMode != 1) {
    if (strnlen(pchSinglefile, MAX_PATH) >= MAX_PATH) return Fail(0, ERROR_FILENAME_EXCED_RANGE);
    return ExtractFile(strPackPath.c_str(), pchSinglefile);
  }
  // The pack directory goes into a directory named after its last
  // component, below the extraction directory.
  const std::string strTop = CPackExtractor::LastComponent(strPackPath);
  if (!m_mapDir.count(strPackPath)) return Fail(0, ERROR_PATH_NOT_FOUND);
  if (!IsSafeEntryName(strTop)) return Fail(0, ERROR_INVALID_NAME);
  const std::string strDiskDir = JoinPath(m_strExtractDir, strTop);
  if (!CPackExtractor::FitsPathBuffer(strDiskDir)) return Fail(0, ERROR_FILENAME_EXCED_RANGE);
  if (!CPackExtractor::MakeDirectory(strDiskDir)) return 0;
  SetCurrentDirectoryA(strDiskDir.c_str());
  const CExtractSource source = ExtractSource();
  CPackExtractor(source).Run(strPackPath, strDiskDir);
  return 1;
}

int CPackFile::ExtractDir(const char* szDir) {
  assert(szDir);
  if (!szDir || m_strExtractDir.empty() || !IsSafeEntryName(szDir)) return 1;
  const std::string strDiskDir = JoinPath(m_strExtractDir, szDir);
  if (!CPackExtractor::FitsPathBuffer(strDiskDir) || !CPackExtractor::IsDirectory(strDiskDir)) return 1;
  const CExtractSource source = ExtractSource();
  CPackExtractor(source).Run(szDir, strDiskDir);
  return 1;
}

void CPackFile::ExtractFiles(const std::vector<ExtractRequest>& vecRequests, const ExtractNotify& fnNotify) {
  const CExtractSource source = ExtractSource();
  CPackExtractor(source).RunFiles(vecRequests, fnNotify);
}
