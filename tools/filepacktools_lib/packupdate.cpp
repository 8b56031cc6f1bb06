// A release update's merge: the merge of packmerge.cpp, with the entries
// the update removes taken out of the client first; its loose files and
// record follow in the merge's commit (packloosecommit.h).
#include <cassert>

#include "platform/last_error.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packplan.h"

namespace {

bool Refuse(std::string& strRefusal, const std::string& strWhy) {
  strRefusal = strWhy;
  SetLastError(ERROR_INVALID_DATA);
  return false;
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
    CKeepLastError keep;
    m_strRefusal = "the client's record of loose files (" + LooseRecordPath(pszTarPack) + ") cannot be read";
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
