#include "tools/filepacktools_lib/packtree.h"

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
