#include "tools/filepacktools_lib/packtree.h"

#include <cstddef>
#include <cstring>

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

// The length of a record's directory part (the bytes before its last
// backslash), or npos when it has none.
size_t DirLength(const char* pszPath) {
  for (size_t n = strnlen(pszPath, kPackNameSize); n > 0; --n) {
    if (pszPath[n - 1] == '\\') return n - 1;
  }
  return std::string::npos;
}

// True when the path lies directly in the directory of nDir bytes at pszDir.
bool IsInDir(const char* pszPath, const char* pszDir, size_t nDir) {
  const size_t nLength = strnlen(pszPath, kPackNameSize);
  return nLength > nDir && pszPath[nDir] == '\\' && std::memcmp(pszPath, pszDir, nDir) == 0 &&
         !std::memchr(pszPath + nDir + 1, '\\', nLength - nDir - 1);
}

const char* PathOf(const unsigned char* pbyTable, uint64_t qwIndex) {
  return reinterpret_cast<const char*>(pbyTable + qwIndex * kPackDirRecordSize + offsetof(PackDirRecord, szFullPath));
}

}  // namespace

void TreeLoadTable(PackDirMap& mapDir, const std::string& strRootKey, const unsigned char* pbyTable, uint64_t qwCount) {
  PackDirRecord record;
  for (uint64_t i = 0; i < qwCount;) {
    const char* pszPath = PathOf(pbyTable, i);
    const size_t nDir = DirLength(pszPath);
    uint64_t qwEnd = i + 1;
    while (nDir != std::string::npos && qwEnd < qwCount && IsInDir(PathOf(pbyTable, qwEnd), pszPath, nDir)) ++qwEnd;
    std::memcpy(&record, pbyTable + i * kPackDirRecordSize, sizeof(record));
    if (TreeAddRecord(mapDir, strRootKey, record) != 0 || nDir == std::string::npos) {
      ++i;  // the rest of the run is tried record by record
      continue;
    }
    std::vector<PackDirRecord>& vecList = mapDir[std::string(pszPath, nDir)];
    vecList.reserve(vecList.size() + static_cast<size_t>(qwEnd - i - 1));
    for (++i; i < qwEnd; ++i) {
      std::memcpy(&record, pbyTable + i * kPackDirRecordSize, sizeof(record));
      vecList.push_back(record);
    }
  }
}

int TreeAddPath(PackDirMap& mapDir, const std::string& strRootKey, const std::string& strRootPath,
                const std::string& strSrcRoot, const std::string& strPath) {
  std::string strRest;
  if (!TextBehindAnchor(strPath, strRootPath, strRest) && !TextBehindAnchor(strPath, strSrcRoot, strRest)) return 0;
  return TreeAddBelowRoot(mapDir, strRootKey, std::move(strRest));
}

int TreeAddBelowRoot(PackDirMap& mapDir, const std::string& strRootKey, std::string strRest) {
  std::string strKey = strRootKey;
  for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
    auto itParent = mapDir.find(strKey);
    if (itParent == mapDir.end()) return -2;
    std::string strChild = strKey + '\\' + strRest.substr(0, nSep);
    strRest.erase(0, nSep + 1);
    if (mapDir.find(strChild) == mapDir.end()) {
      itParent->second.push_back(MakeDirRecord(kPackDirKindDir, strChild));
      mapDir.emplace(strChild, std::vector<PackDirRecord>());
    }
    strKey = std::move(strChild);
  }
  auto itDir = mapDir.find(strKey);
  if (itDir == mapDir.end()) return -3;
  itDir->second.push_back(MakeDirRecord(kPackDirKindFile, strKey + '\\' + strRest));
  return 0;
}

int TreeAddRecord(PackDirMap& mapDir, const std::string& strRootKey, const PackDirRecord& record) {
  const std::string strFullPath = FieldString(record.szFullPath, kPackNameSize);
  const std::string strRootPrefix = strRootKey + '\\';
  // Every stored record begins with the root name and a separator; one that
  // does not has no place in this pack's tree.
  if (strFullPath.compare(0, strRootPrefix.size(), strRootPrefix) != 0) return -2;
  std::string strRest = strFullPath.substr(strRootPrefix.size());

  std::string strKey = strRootKey;
  for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
    if (mapDir.find(strKey) == mapDir.end()) return -2;
    strKey += '\\';
    strKey.append(strRest, 0, nSep);
    strRest.erase(0, nSep + 1);
    mapDir[strKey];  // the directory's own record comes from the table
  }
  auto itDir = mapDir.find(strKey);
  if (itDir == mapDir.end()) return -3;
  itDir->second.push_back(record);
  return 0;
}
