#include "tools/filepacktools_lib/packclient.h"

#include <vector>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packmanifest.h"

namespace {

bool FileExists(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ReadClientRelease(const std::string& strPackPath, const std::string& strLooseDir,
                       const std::set<std::string>& setRehash, ContentTagMap& mapRelease, std::string& strFailed) {
  mapRelease.clear();
  strFailed.clear();
  std::set<std::string> setLoose;
  if (!ReadLooseRecord(strPackPath, setLoose)) {
    strFailed = LooseRecordPath(strPackPath);
    return false;
  }
  CPackFile pack;
  if (!pack.OpenForReading(strPackPath)) {
    strFailed = strPackPath;
    return false;
  }
  if (!pack.ReleaseManifest(true, mapRelease, strFailed, setRehash)) return false;
  pack.Close();
  std::vector<CContentSource> vecFiles;
  for (const std::string& strName : setLoose) {
    const std::string strFile = LooseFilePath(strLooseDir, strName);
    if (mapRelease.count(strName) == 0 && FileExists(strFile)) vecFiles.push_back({strName, nullptr, strFile});
  }
  return TagContent(vecFiles, CContentPack(), 0, mapRelease, strFailed);
}

bool CheckClientRelease(const std::string& strPackPath, const std::string& strLooseDir, const std::string& strDigest,
                        const std::set<std::string>& setRehash, bool& bHolds, std::string& strFailed) {
  ContentTagMap mapRelease;
  std::string strHeld;
  if (!ReadClientRelease(strPackPath, strLooseDir, setRehash, mapRelease, strFailed) ||
      !ReleaseDigest(mapRelease, strHeld)) {
    return false;
  }
  bHolds = strHeld == strDigest;
  return true;
}
