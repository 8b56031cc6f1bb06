#include "tools/filepacktools_lib/packmergecheck.h"

#include <set>
#include <vector>

#include "platform/paths.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packcompactor.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packnames.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packstage.h"

namespace {

std::string Quoted(const std::string& strName) { return "\"" + strName + "\""; }

bool Refuse(std::string& strRefusal, const std::string& strReason, DWORD dwError = ERROR_INVALID_DATA) {
  strRefusal = strReason;
  SetLastError(dwError);
  return false;
}

// The updater's own files, which lie in the directory loose files go below
// (the tool's directory): the installed version, the file it is written
// through, and the programs of the updater and of the client. Loose files
// are refused these names in the file system's way, letter case aside.
const char* const kUpdaterFiles[] = {"version.ver", "version.ver.tmp",  "patchloom.exe",
                                     "patchloom",   "veshmarkland.exe", "grumvel.exe"};

// The files of a pack that a loose file must never land on: the pack, its
// journal, the journal being written, the compacted pack being written
// (which the next compaction or merge removes), and the record of loose
// files with its staged name.
void AddPackKeys(const std::string& strPack, const std::string& strCurrentDir, std::vector<std::string>& vecKeys) {
  const std::string strRecord = LooseRecordPath(strPack);
  for (const std::string& strPath : {strPack, JournalPath(strPack), JournalTempPath(strPack), CompactTempPath(strPack),
                                     strRecord, StagedPath(strRecord)}) {
    vecKeys.push_back(ComparablePath(strPath, strCurrentDir));
  }
}

bool IsUpdaterFile(const std::string& strKey, const std::string& strCurrentDir) {
  for (const char* pszName : kUpdaterFiles) {
    if (strKey == ComparablePath(JoinPath(strCurrentDir, pszName), strCurrentDir)) return true;
  }
  return false;
}

bool CheckLooseFile(const CMergeCheckInput& input, const std::string& strName,
                    const std::vector<std::string>& vecPackKeys, std::string& strRefusal) {
  const std::string strRel = LooseRelative(strName);
  if (strRel.empty()) return true;  // a name without a directory is passed over
  if (input.strCurrentDir.empty()) {
    return Refuse(strRefusal,
                  "entry " + Quoted(strName) + " would be a loose file, but the current directory cannot be named");
  }
  const std::string strLoose = JoinPath(input.strCurrentDir, strRel);
  if (StagedPath(strLoose).size() >= MAX_PATH) {
    return Refuse(strRefusal, "entry " + Quoted(strName) + " would be a loose file with a path too long",
                  ERROR_FILENAME_EXCED_RANGE);
  }
  for (const std::string& strPath : {strLoose, StagedPath(strLoose)}) {
    const std::string strKey = ComparablePath(strPath, input.strCurrentDir);
    if (IsUpdaterFile(strKey, input.strCurrentDir)) {
      return Refuse(strRefusal, "entry " + Quoted(strName) +
                                    " would be a loose file written over a file of the updater or the client");
    }
    for (const std::string& strPackKey : vecPackKeys) {
      if (strKey == strPackKey) {
        return Refuse(
            strRefusal,
            "entry " + Quoted(strName) + " would be a loose file written over one of the packs or its journal",
            ERROR_SHARING_VIOLATION);
      }
    }
  }
  return true;
}

// The entries a merge adds must keep the tree a tree: none may lie below a
// file of the client (or of the update), none may take the name of a
// directory.
bool CheckAdds(const CMergeCheckInput& input, std::string& strRefusal) {
  std::set<std::string> setFiles;
  std::set<std::string> setDirs;
  for (const auto& item : input.mapTarget) setFiles.insert(item.first);
  for (const auto& item : input.mapTargetDir) {
    setDirs.insert(item.first);
    for (const PackDirRecord& record : item.second) {
      (record.nKind == kPackDirKindDir ? setDirs : setFiles).insert(FieldString(record.szFullPath, kPackNameSize));
    }
  }
  std::vector<const std::string*> vecAdded;
  for (const auto& item : input.mapSource) {
    if (input.mapTarget.count(item.first) || !BelongsToTree(input.mapTargetDir, item.first)) continue;
    vecAdded.push_back(&item.first);
    setFiles.insert(item.first);
    for (size_t nSep = item.first.find('\\'); nSep != std::string::npos; nSep = item.first.find('\\', nSep + 1)) {
      setDirs.insert(item.first.substr(0, nSep));
    }
  }
  for (const std::string* pstrName : vecAdded) {
    if (setDirs.count(*pstrName)) {
      return Refuse(strRefusal, "new entry " + Quoted(*pstrName) + " has the name of a directory");
    }
    for (size_t nSep = pstrName->find('\\'); nSep != std::string::npos; nSep = pstrName->find('\\', nSep + 1)) {
      const std::string strParent = pstrName->substr(0, nSep);
      if (setFiles.count(strParent)) {
        return Refuse(strRefusal, "new entry " + Quoted(*pstrName) + " would lie below the file " + Quoted(strParent));
      }
    }
  }
  return true;
}

}  // namespace

bool CheckMerge(const CMergeCheckInput& input, std::string& strRefusal) {
  strRefusal.clear();
  const std::string strLayout = LayoutProblem(input.targetHeader, input.mapTarget, input.vecTargetFree);
  if (!strLayout.empty()) return Refuse(strRefusal, "the client pack is damaged: " + strLayout);
  std::vector<std::string> vecPackKeys;
  AddPackKeys(input.strSourcePath, input.strCurrentDir, vecPackKeys);
  AddPackKeys(input.strTargetPath, input.strCurrentDir, vecPackKeys);
  for (const auto& item : input.mapSource) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, input.sourceHeader.dwIndexOffset)) {
      return Refuse(strRefusal, "entry " + Quoted(item.first) + " lies outside the update's data area");
    }
    if (input.sourceHeader.byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) {
      return Refuse(strRefusal, "entry " + Quoted(item.first) + " of a plain update has differing sizes");
    }
    if (!IsSafeEntryName(item.first)) {
      return Refuse(strRefusal, "entry " + Quoted(item.first) + " has a name that is not safe on disk");
    }
    if (input.mapTarget.count(item.first) || BelongsToTree(input.mapTargetDir, item.first)) continue;
    if (!CheckLooseFile(input, item.first, vecPackKeys, strRefusal)) return false;
  }
  if (!CheckAdds(input, strRefusal)) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}
