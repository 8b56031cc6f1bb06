#include "tools/filepacktools_lib/packloosecommit.h"

#include <set>

#include "platform/paths.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packstage.h"

CLooseCommit::CLooseCommit(const std::string& strPackPath, const std::string& strLooseDir, const CMergePlan& plan,
                           const CRemovalPlan* pRemoval)
    : m_strLooseDir(strLooseDir) {
  std::set<std::string> setDirs;
  for (const CMergeStep& step : plan.vecSteps) {
    if (step.eAction != MergeAction::kLoose) continue;
    m_vecWritten.push_back(LooseFilePath(strLooseDir, *step.pstrName));
    for (const std::string& strDir : LooseDirectories(strLooseDir, *step.pstrName)) {
      if (setDirs.insert(strDir).second) m_files.vecDirectories.push_back(strDir);
    }
  }
  m_files.vecFiles = m_vecWritten;
  if (!pRemoval) return;
  for (const std::string& strName : pRemoval->vecLoose) m_vecDeleted.push_back(LooseFilePath(strLooseDir, strName));
  m_files.vecFiles.insert(m_files.vecFiles.end(), m_vecDeleted.begin(), m_vecDeleted.end());
  std::set<std::string> setRecord = pRemoval->setRecord;
  for (const CMergeStep& step : plan.vecSteps) {
    if (step.eAction == MergeAction::kLoose) setRecord.insert(*step.pstrName);
  }
  m_bRecord = true;
  m_strRecordPath = AbsolutePath(LooseRecordPath(strPackPath));
  m_strRecordText = LooseRecordText(setRecord);
  m_files.vecFiles.push_back(m_strRecordPath);
}

bool CLooseCommit::Install() const {
  for (const std::string& strPath : m_vecWritten) {
    if (!InstallStaged(strPath)) return false;
  }
  for (const std::string& strPath : m_vecDeleted) {
    if (!RemoveDurably(strPath)) return false;
  }
  if (!m_bRecord) return true;
  if (m_strRecordText.empty()) return RemoveDurably(m_strRecordPath);
  return StageFile(m_strRecordPath, m_strRecordText.data(), m_strRecordText.size()) && InstallStaged(m_strRecordPath);
}

void CLooseCommit::Tidy() const {
  for (std::string strPath : m_vecDeleted) {
    for (size_t nSep = LastSeparator(strPath); nSep != std::string::npos && nSep > m_strLooseDir.size();
         nSep = LastSeparator(strPath)) {
      strPath.resize(nSep);
      if (!RemoveDirectoryA(strPath.c_str())) break;
    }
  }
}
