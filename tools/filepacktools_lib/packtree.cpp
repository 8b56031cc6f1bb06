// Name primitives and the directory tree (m_mapDir) of CPackFile.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "tools/filepacktools_lib/crealizepack.h"

namespace {

PackDirRecord MakeDirRecord(int32_t nKind, const std::string& strFullPath) {
  PackDirRecord record;
  record.nKind = nKind;
  SetField(record.szFullPath, kPackNameSize, strFullPath);
  return record;
}

// The text after the first occurrence of strAnchor and one separator, or
// false when strAnchor is empty or does not occur.
bool TextBehindAnchor(const std::string& strPath, const std::string& strAnchor, std::string& strRest) {
  if (strAnchor.empty()) return false;
  size_t nPos = strPath.find(strAnchor);
  if (nPos == std::string::npos) return false;
  size_t nStart = nPos + strAnchor.size() + 1;
  strRest = nStart < strPath.size() ? strPath.substr(nStart) : std::string();
  return true;
}

}  // namespace

void CPackFile::MakeLower(char* pszChar) {
  assert(NULL != pszChar);
  assert('\0' != pszChar[0]);
  if (!pszChar) return;
  for (char* p = pszChar; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + ('a' - 'A'));
  }
}

void CPackFile::ReplaceChar(std::string& str, char chFrom, char chTo) {
  if (chFrom == chTo) return;
  std::replace(str.begin(), str.end(), chFrom, chTo);
}

int CPackFile::AddPathToTree(const char* szFilePath, const PackEntry* /*pEntry*/) {
  assert(NULL != szFilePath);
  assert('\0' != szFilePath[0]);
  if (!szFilePath) return 0;
  const std::string strPath(szFilePath);
  std::string strRest;
  if (!TextBehindAnchor(strPath, m_strRootPath, strRest) &&
      !TextBehindAnchor(strPath, FieldString(m_szSrcRoot, sizeof(m_szSrcRoot)), strRest)) {
    return 0;
  }
  return AddRelativeToTree(std::move(strRest));
}

int CPackFile::AddRelativeToTree(std::string strRest) {
  std::string strKey = FieldString(m_header.szRootName, kPackRootNameSize);
  for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
    auto itParent = m_mapDir.find(strKey);
    if (itParent == m_mapDir.end()) return -2;
    std::string strChild = strKey + '\\' + strRest.substr(0, nSep);
    strRest.erase(0, nSep + 1);
    if (m_mapDir.find(strChild) == m_mapDir.end()) {
      itParent->second.push_back(MakeDirRecord(kPackDirKindDir, strChild));
      m_mapDir.emplace(strChild, std::vector<PackDirRecord>());
    }
    strKey = std::move(strChild);
  }
  auto itDir = m_mapDir.find(strKey);
  if (itDir == m_mapDir.end()) return -3;
  itDir->second.push_back(MakeDirRecord(kPackDirKindFile, strKey + '\\' + strRest));
  return 0;
}

int CPackFile::AddRecordToTree(const PackDirRecord& record) {
  const std::string strFullPath = FieldString(record.szFullPath, kPackNameSize);
  const std::string strRootPrefix = m_strRootPath + '\\';
  // Every stored record begins with the root name and a separator; one that
  // does not has no place in this pack's tree.
  if (strFullPath.compare(0, strRootPrefix.size(), strRootPrefix) != 0) return -2;
  std::string strRest = strFullPath.substr(strRootPrefix.size());

  std::string strKey = m_strRootPath;
  for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
    if (m_mapDir.find(strKey) == m_mapDir.end()) return -2;
    strKey += '\\';
    strKey.append(strRest, 0, nSep);
    strRest.erase(0, nSep + 1);
    m_mapDir[strKey];  // the directory's own record comes from the table
  }
  auto itDir = m_mapDir.find(strKey);
  if (itDir == m_mapDir.end()) return -3;
  itDir->second.push_back(record);
  return 0;
}

void CPackFile::AddFile(const char* pszPath) {
  if (pszPath && pszPath[0]) m_vecFileList.emplace_back(pszPath);
}

void CPackFile::SetPackName(const char* pszName) {
  if (pszName && pszName[0]) m_strPackName = pszName;
}
