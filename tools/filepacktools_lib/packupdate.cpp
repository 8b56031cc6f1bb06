// A release update's merge: the merge of packmerge.cpp, with the entries
// the update removes taken out of the client first and the client's loose
// files kept in step with its release.
#include <cassert>

#include "platform/dir_sync.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packplan.h"

namespace {

bool Refuse(std::string& strRefusal, const std::string& strWhy) {
  strRefusal = strWhy;
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

// Removes a loose file and the directories below strLooseDir it leaves
// empty. A file already gone is fine; one that cannot be removed stays
// (it is no longer part of the release, which the record tells).
void DeleteLooseFile(const std::string& strLooseDir, const std::string& strName) {
  std::string strPath = LooseFilePath(strLooseDir, strName);
  if (!DeleteFileA(strPath.c_str())) return;
  FlushDirectoryOf(strPath.c_str());
  for (size_t nSep = LastSeparator(strPath); nSep != std::string::npos && nSep > strLooseDir.size();
       nSep = LastSeparator(strPath)) {
    strPath.resize(nSep);
    if (!RemoveDirectoryA(strPath.c_str())) return;
    FlushDirectoryOf(strPath.c_str());
  }
}

}  // namespace

int CRealizePack::MergeUpdate(const char* pszSrcPack, const char* pszTarPack, const CUpdateRemovals& removals) {
  assert(NULL != pszSrcPack);
  assert(NULL != pszTarPack);
  if (!pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!OpenUpdate(pszSrcPack)) return 0;
  return MergeHeld(pszTarPack, &removals);
}

int CRealizePack::MergeHeldUpdate(const char* pszTarPack, const CUpdateRemovals& removals) {
  if (!OpenHeldCopy()) return 0;
  return MergeHeld(pszTarPack, &removals);
}

bool CRealizePack::TakeRemovals(const char* pszTarPack, const CUpdateRemovals& removals, CRemovalPlan& removal) {
  CPackFile& source = *m_pSrcPack;
  CPackFile& target = *m_pTarPack;
  if (!ReadLooseRecord(pszTarPack, removal.setRecord)) {
    const DWORD dwError = GetLastError();
    m_strRefusal = "the client's record of loose files (" + LooseRecordPath(pszTarPack) + ") cannot be read";
    SetLastError(dwError);
    return false;
  }
  const std::vector<std::string> vecRecorded(removal.setRecord.begin(), removal.setRecord.end());
  const std::vector<std::string> vecNames = NamesToRemove(removals, source.m_mapEntry, target.m_mapEntry, vecRecorded);
  for (const std::string& strName : vecNames) {
    if (source.m_mapEntry.count(strName) != 0) {
      return Refuse(m_strRefusal, "entry \"" + strName + "\" is both brought and removed by the update");
    }
    if (target.m_mapEntry.count(strName) != 0) {
      removal.vecFromPack.push_back(strName);
    } else if (removal.setRecord.erase(strName) != 0) {
      removal.vecLoose.push_back(strName);
    }
  }
  RemoveEntries(removal.vecFromPack, target.m_strRootPath, target.m_mapEntry, target.m_mapDir, target.m_vecFreeBlock);
  return true;
}

bool CRealizePack::FinishRemovals(const char* pszTarPack, const std::string& strLooseDir, const CMergePlan& plan,
                                  const CRemovalPlan& removal) {
  std::set<std::string> setRecord = removal.setRecord;
  for (const CMergeStep& step : plan.vecSteps) {
    if (step.eAction == MergeAction::kLoose) setRecord.insert(*step.pstrName);
  }
  for (const std::string& strName : removal.vecLoose) DeleteLooseFile(strLooseDir, strName);
  if (WriteLooseRecord(pszTarPack, setRecord)) return true;
  const DWORD dwError = GetLastError();
  m_strRefusal = "the update is merged, but the record of loose files could not be written";
  SetLastError(dwError);
  return false;
}
