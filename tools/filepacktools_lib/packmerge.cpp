// Merging an update pack into a client pack in place, all or nothing.
//
// Every changed entry of the update is written over its old slot when it
// fits, else into the first free block large enough, else at the end of the
// data area; new entries below an existing first directory of the client's
// tree join the pack, all others become loose files below the directory that
// was current when the merge started. SaveIndex then rewrites the regions
// behind the data area and the header.
//
// MergePack plans the placement first, saves an undo journal of every byte
// it will overwrite (packjournal.cpp explains the method), then writes. A
// merge that fails, or is interrupted, gives back exactly the old pack.
// Two merges of one pack, in two processes say, never interleave: each
// holds the pack's merge lock (packlock.h) from before it reads the pack.
#include <cassert>
#include <cstring>
#include <set>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packlock.h"
#include "tools/filepacktools_lib/packmerger.h"

namespace {

// Loose files are written under this suffix and renamed when complete.
constexpr char kLooseTempSuffix[] = ".~partial";

// The files of a pack that a loose file must never land on: the pack, its
// journal and the journal being written.
void AddPackKeys(const std::string& strPack, const std::string& strCurrentDir, std::vector<std::string>& vecKeys) {
  vecKeys.push_back(ComparablePath(strPack, strCurrentDir));
  vecKeys.push_back(ComparablePath(JournalPath(strPack), strCurrentDir));
  vecKeys.push_back(ComparablePath(JournalTempPath(strPack), strCurrentDir));
}

// A pack opened for reading only is never a merge's target: the merge would
// fail at its first write, and the journal could not put the pack back.
// (MergePack opens its target with Open, which wants write access anyway;
// this guards MergeFrom's callers.)
bool RefuseReadOnly(const CPackFile& pack) {
  if (!pack.IsReadOnly()) return true;
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

}  // namespace

int CRealizePack::MergePack(const char* pszSrcPack, const char* pszTarPack) {
  assert(NULL != pszSrcPack);
  assert('\0' != pszSrcPack[0]);
  assert(NULL != pszTarPack);
  assert('\0' != pszTarPack[0]);
  if (!pszSrcPack || !pszSrcPack[0] || !pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  m_pSrcPack->Close();
  m_pTarPack->Close();
  // Opening restores either pack from the journal an interrupted merge left.
  // The update is only read, so a read-only one will do.
  if (!m_pSrcPack->OpenForReading(pszSrcPack)) return 0;

  // One merge of a pack at a time: the lock is taken before the target is
  // read, so a second merge fails here (ERROR_SHARING_VIOLATION) having
  // changed nothing, and held until the end, restore included.
  // A target that does not open completely is never written: saving it
  // would drop what did not load. Nothing is written before the journal is
  // safe on disk; after that any failure puts the old pack back.
  CPackLock lock;
  CPackMerger merger(*m_pTarPack, *m_pSrcPack);
  bool bOk = lock.Take(pszTarPack) && RestoreFromJournal(pszTarPack, lock) && m_pTarPack->Open(pszTarPack) &&
             merger.Check(pszSrcPack, pszTarPack, CurrentDirectory()) && merger.Plan() &&
             WriteJournal(pszTarPack, m_pTarPack->m_hPackFile.Get(), CPackMerger::SavedHeader(*m_pTarPack),
                          merger.WriteRanges());
  const bool bJournaled = bOk;
  DWORD dwError = bOk ? ERROR_SUCCESS : GetLastError();
  if (bOk) {
    bOk = merger.Write() && m_pTarPack->SaveIndex(pszTarPack) && RemoveJournal(pszTarPack);
    if (!bOk) dwError = GetLastError();
  }
  m_pSrcPack->Close();
  m_pTarPack->Close();
  // When even this fails, the journal stays and the next Open restores.
  if (!bOk && bJournaled) RestoreFromJournal(pszTarPack, lock);
  if (!bOk) SetLastError(dwError);
  return bOk ? 1 : 0;
}

bool CPackFile::MergeFrom(CPackFile* pSrcPack) {
  CPackMerger merger(*this, *pSrcPack);
  const bool bOk = RefuseReadOnly(*this) && merger.Plan() && merger.Write();
  pSrcPack->m_hFileMapping.Reset();
  // The index in memory no longer matches the file: no save may follow.
  if (!bOk) m_hPackFile.Reset();
  return bOk;
}

std::string CPackMerger::LooseTempPath(const std::string& strPath) { return strPath + kLooseTempSuffix; }

// Refused here: blobs outside the data areas, overlapping client blobs,
// names that could leave the starting directory, loose paths too long for a
// path buffer, and loose files that would land on either pack or its
// journal (a forged journal would be applied to the pack by the next open).
bool CPackMerger::Check(const std::string& strSrcPath, const std::string& strTarPath,
                        const std::string& strCurrentDir) {
  SetLastError(ERROR_INVALID_DATA);
  if (!IsLayoutSound(m_target.m_header, m_target.m_mapEntry, m_target.m_vecFreeBlock)) return false;
  std::vector<std::string> vecPackKeys;
  AddPackKeys(strSrcPath, strCurrentDir, vecPackKeys);
  AddPackKeys(strTarPath, strCurrentDir, vecPackKeys);
  for (const auto& item : m_source.m_mapEntry) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, m_source.m_header.dwIndexOffset)) return false;
    if (m_source.m_byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) return false;
    if (!IsSafeEntryName(item.first)) return false;
    if (m_target.m_mapEntry.count(item.first) || BelongsToTree(m_target, item.first)) continue;

    const std::string strRel = LooseRelative(item.first);
    if (strRel.empty()) continue;  // a name without a directory is passed over
    if (strCurrentDir.empty()) return false;
    const std::string strLoose = JoinPath(strCurrentDir, strRel);
    if (LooseTempPath(strLoose).size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    for (const std::string& strPath : {strLoose, LooseTempPath(strLoose)}) {
      const std::string strKey = ComparablePath(strPath, strCurrentDir);
      for (const std::string& strPackKey : vecPackKeys) {
        if (strKey == strPackKey) {
          SetLastError(ERROR_SHARING_VIOLATION);
          return false;
        }
      }
    }
  }
  if (!AddsCleanly()) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

// The entries a merge adds must keep the tree a tree: none may lie below a
// file of the client (or of the update), none may take the name of a
// directory. Otherwise the saved directory table would hold one path as
// both a file and a directory.
bool CPackMerger::AddsCleanly() const {
  std::set<std::string> setFiles;
  std::set<std::string> setDirs;
  for (const auto& item : m_target.m_mapEntry) setFiles.insert(item.first);
  for (const auto& item : m_target.m_mapDir) {
    setDirs.insert(item.first);
    for (const PackDirRecord& record : item.second) {
      (record.nKind == kPackDirKindDir ? setDirs : setFiles).insert(FieldString(record.szFullPath, kPackNameSize));
    }
  }
  std::vector<const std::string*> vecAdded;
  for (const auto& item : m_source.m_mapEntry) {
    if (m_target.m_mapEntry.count(item.first) || !BelongsToTree(m_target, item.first)) continue;
    vecAdded.push_back(&item.first);
    setFiles.insert(item.first);
    for (size_t nSep = item.first.find('\\'); nSep != std::string::npos; nSep = item.first.find('\\', nSep + 1)) {
      setDirs.insert(item.first.substr(0, nSep));
    }
  }
  for (const std::string* pstrName : vecAdded) {
    if (setDirs.count(*pstrName)) return false;
    for (size_t nSep = pstrName->find('\\'); nSep != std::string::npos; nSep = pstrName->find('\\', nSep + 1)) {
      if (setFiles.count(pstrName->substr(0, nSep))) return false;
    }
  }
  return true;
}

bool CPackMerger::BelongsToTree(const CPackFile& target, const std::string& strName) {
  size_t nFirst = strName.find('\\');
  if (nFirst == std::string::npos) return false;
  size_t nSecond = strName.find('\\', nFirst + 1);
  if (nSecond == std::string::npos) return false;
  return target.m_mapDir.count(strName.substr(0, nSecond)) != 0;
}

std::string CPackMerger::LooseRelative(const std::string& strName) {
  size_t nFirst = strName.find('\\');
  return nFirst == std::string::npos ? std::string() : strName.substr(nFirst + 1);
}
