#include "tools/filepacktools_lib/packremove.h"

#include <algorithm>
#include <set>

namespace {

// The directory part of a path (before its last backslash), or "" when it
// has none.
std::string ParentKey(const std::string& strPath) {
  const size_t nSep = strPath.rfind('\\');
  return nSep == std::string::npos ? std::string() : strPath.substr(0, nSep);
}

// Takes the record of strPath out of its directory's list; a directory left
// empty goes too, with its own record in its parent's list.
void RemoveRecord(const std::string& strPath, const std::string& strRootKey, PackDirMap& mapDir) {
  std::string strChild = strPath;
  for (;;) {
    const std::string strKey = ParentKey(strChild);
    auto itDir = mapDir.find(strKey);
    if (itDir == mapDir.end()) return;
    std::vector<PackDirRecord>& vecList = itDir->second;
    vecList.erase(std::remove_if(vecList.begin(), vecList.end(),
                                 [&strChild](const PackDirRecord& record) {
                                   return FieldString(record.szFullPath, kPackNameSize) == strChild;
                                 }),
                  vecList.end());
    if (!vecList.empty() || strKey == strRootKey) return;
    mapDir.erase(itDir);
    strChild = strKey;
  }
}

}  // namespace

std::vector<std::string> NamesToRemove(const CUpdateRemovals& removals, const PackEntryMap& mapSource,
                                       const PackEntryMap& mapTarget, const std::vector<std::string>& vecLoose) {
  std::set<std::string> setNames;
  if (removals.bAllOthers) {
    for (const auto& item : mapTarget) {
      if (mapSource.count(item.first) == 0) setNames.insert(item.first);
    }
    for (const std::string& strName : vecLoose) {
      if (mapSource.count(strName) == 0) setNames.insert(strName);
    }
  } else {
    setNames.insert(removals.vecNames.begin(), removals.vecNames.end());
  }
  return std::vector<std::string>(setNames.begin(), setNames.end());
}

void RemoveEntries(const std::vector<std::string>& vecNames, const std::string& strRootKey, PackEntryMap& mapEntry,
                   PackDirMap& mapDir, PackFreeList& vecFree) {
  for (const std::string& strName : vecNames) {
    auto itEntry = mapEntry.find(strName);
    if (itEntry == mapEntry.end()) continue;
    const PackEntry& entry = *itEntry->second;
    if (entry.dwStoredSize > 0) vecFree.push_back({entry.dwOffset, entry.dwStoredSize});
    mapEntry.erase(itEntry);
    RemoveRecord(strName, strRootKey, mapDir);
  }
}
