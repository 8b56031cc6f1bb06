// The files beside the client pack that a merge changes, as part of its
// commit: the loose files it writes (the merge writer stages their new
// contents, packstage.h), the loose files of the entries it removes, and
// the client's record of loose files (packloose.h). The journal saves them
// all before the merge writes anything (JournalFiles); once the pack is
// saved, Install puts every one in its new state, durably, and only then is
// the journal removed. A merge that fails or is interrupted before that is
// rolled back with them.
#pragma once

#include <string>
#include <vector>

#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packremove.h"

class CLooseCommit {
 public:
  //   strPackPath  the client pack (for its record; not used without
  //                pRemoval).
  //   strLooseDir  the absolute directory loose files go below.
  //   plan         the merge's plan: its loose steps are the files written.
  //   pRemoval     a release update's removals, whose loose files go and
  //                whose record is rewritten to name every loose file the
  //                client then holds; null for a merge that keeps no record.
  CLooseCommit(const std::string& strPackPath, const std::string& strLooseDir, const CMergePlan& plan,
               const CRemovalPlan* pRemoval);

  // What the journal saves: every file Install writes or deletes, and the
  // directories the writer may make for the loose files.
  const CJournalFiles& JournalFiles() const { return m_files; }

  // After the pack is saved: moves each staged loose file into place,
  // deletes the loose files of removed entries, and writes the record (or
  // deletes it, when no loose file is left), each step durable. False,
  // with the last error set, at the first step that fails (or whose
  // durability cannot be made sure): the merge is rolled back then.
  bool Install() const;

  // After the commit: the directories below the loose directory that the
  // deletions left empty go too.
  void Tidy() const;

 private:
  std::string m_strLooseDir;
  std::vector<std::string> m_vecWritten;
  std::vector<std::string> m_vecDeleted;
  bool m_bRecord = false;
  std::string m_strRecordPath;
  std::string m_strRecordText;  // empty: no record
  CJournalFiles m_files;
};
