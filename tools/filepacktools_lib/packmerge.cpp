// Merging an update pack into a client pack in place, all or nothing.
//
// A merge checks both packs (packmergecheck.cpp), plans where every changed
// and new entry goes from the two indexes alone (packplan.cpp), saves an
// undo journal of every byte the plan will overwrite (packjournal.cpp
// explains the method), carries the plan out (packmergewrite.cpp) and
// rewrites the regions behind the data area and the header (SaveIndex). A
// merge that fails, or is interrupted, gives back exactly the old pack.
// Two merges of one pack, in two processes say, never interleave: each
// holds the pack's merge lock (packlock.h) from before it reads the pack.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/private_copy.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcompactor.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packlock.h"
#include "tools/filepacktools_lib/packloosecommit.h"
#include "tools/filepacktools_lib/packmergecheck.h"
#include "tools/filepacktools_lib/packmergewrite.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packremove.h"

namespace {

// A pack opened for reading only is never a merge's target: the merge would
// fail at its first write, and the journal could not put the pack back.
// (MergePack opens its target with Open, which wants write access anyway;
// this guards MergeFrom's callers.)
bool RefuseReadOnly(const CPackFile& pack) {
  if (!pack.IsReadOnly()) return true;
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

// Every stretch of the client that the writes and the save will change: the
// header, the blobs, and everything from the old end of the data area on,
// which the save rewrites or cuts off.
std::vector<CWriteRange> JournalRanges(const CMergePlan& plan) {
  std::vector<CWriteRange> vecRanges;
  vecRanges.push_back({0, kPackHeaderSize});
  for (const CMergeStep& step : plan.vecSteps) {
    if (step.eAction != MergeAction::kLoose) vecRanges.push_back({step.dwOffset, step.dwSize});
  }
  // Offsets stay below 4 GiB, so this reaches past any end of the file.
  vecRanges.push_back({plan.dwOldIndexOffset, uint64_t{1} << 32});
  return vecRanges;
}

// Why a failure after the checks happened, when it is the update's fault.
std::string FailureReason(DWORD dwError, const std::string& strName) {
  if (dwError == ERROR_INVALID_DATA) return "entry \"" + strName + "\" of the update does not decode";
  if (dwError == ERROR_FILE_TOO_LARGE) return "the client pack would reach 4 GiB";
  return std::string();
}

}  // namespace

int CRealizePack::MergePack(const char* pszSrcPack, const char* pszTarPack) {
  assert(NULL != pszSrcPack);
  assert('\0' != pszSrcPack[0]);
  assert(NULL != pszTarPack);
  assert('\0' != pszTarPack[0]);
  if (!pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!OpenUpdate(pszSrcPack)) return 0;
  return MergeHeld(pszTarPack, nullptr);
}

bool CRealizePack::StartUpdate(const char* pszSrcPack) {
  ReleaseHeldUpdate();
  m_strRefusal.clear();
  m_pSrcPack->Close();
  m_pTarPack->Close();
  if (pszSrcPack && pszSrcPack[0]) return true;
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

// The update is only read, so a read-only one will do; a journal beside it
// is left alone.
bool CRealizePack::OpenUpdate(const char* pszSrcPack) {
  if (!StartUpdate(pszSrcPack) || !m_pSrcPack->OpenPack(pszSrcPack, CPackFile::OpenMode::kUpdate)) return false;
  m_strHeldUpdate = pszSrcPack;
  return true;
}

bool CRealizePack::RecoverPack(const char* pszPack) {
  assert(NULL != pszPack);
  assert('\0' != pszPack[0]);
  if (!pszPack || !pszPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return RestoreFromJournal(pszPack);
}

bool CRealizePack::HoldUpdate(const char* pszSrcPack) {
  if (!StartUpdate(pszSrcPack)) return false;
  m_hHeldFile.Reset(
      CreateFileA(pszSrcPack, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_hHeldFile) return false;
  m_strHeldUpdate = pszSrcPack;
  return true;
}

bool CRealizePack::GetHeldUpdateSize(uint64_t& qwSize) const {
  if (!m_hHeldFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return FileSize(m_hHeldFile.Get(), qwSize);
}

bool CRealizePack::CopyHeldUpdate(uint64_t qwSize, const char* pszCopyDir,
                                  const std::function<bool(const unsigned char*, size_t)>& fnSink) {
  m_hHeldCopy.Reset();
  if (!m_hHeldFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  constexpr size_t kPiece = 1 << 20;
  std::unique_ptr<unsigned char[]> pbyBuffer(new (std::nothrow) unsigned char[kPiece]);
  if (!pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  PrivateCopyKind eKind = PrivateCopyKind::kMemory;
  CScopedHandle hCopy(CreatePrivateCopy(pszCopyDir, qwSize, &eKind));
  LARGE_INTEGER liPos;
  if (!hCopy || !SeekFile(m_hHeldFile.Get(), liPos, 0)) return false;
  for (uint64_t qwDone = 0; qwDone < qwSize;) {
    const size_t nPiece = static_cast<size_t>(std::min<uint64_t>(kPiece, qwSize - qwDone));
    // Exactly the bytes asked for, never past them: a file that grew since
    // its size was read gives no more.
    if (!ReadAll(m_hHeldFile.Get(), pbyBuffer.get(), nPiece) || !WriteAll(hCopy.Get(), pbyBuffer.get(), nPiece)) {
      return false;
    }
    if (!fnSink(pbyBuffer.get(), nPiece)) return false;
    qwDone += nPiece;
  }
  if (!SealPrivateCopy(hCopy.Get())) return false;
  m_hHeldCopy = std::move(hCopy);
  m_eCopyKind = eKind;
  return true;
}

PrivateCopyKind CRealizePack::GetHeldCopyKind() const { return m_eCopyKind; }

bool CRealizePack::OpenHeldCopy() {
  m_pTarPack->Close();
  if (m_bHeldCopyOpen) {  // a rebuilt delta's copy, opened and checked already
    m_bHeldCopyOpen = false;
    return true;
  }
  m_pSrcPack->Close();
  if (!m_hHeldCopy || m_strHeldUpdate.empty()) {
    ReleaseHeldUpdate();
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (m_pSrcPack->OpenPackHandle(std::move(m_hHeldCopy))) return true;
  const DWORD dwError = GetLastError();
  ReleaseHeldUpdate();
  m_pSrcPack->Close();
  SetLastError(dwError);
  return false;
}

void CRealizePack::ReleaseHeldUpdate() {
  m_bHeldCopyOpen = false;
  m_hHeldCopy.Reset();
  m_hHeldFile.Reset();
  m_strHeldUpdate.clear();
}

int CRealizePack::MergeHeldUpdate(const char* pszTarPack) {
  if (!OpenHeldCopy()) return 0;
  return MergeHeld(pszTarPack, nullptr);
}

int CRealizePack::MergeHeld(const char* pszTarPack, const CUpdateRemovals* pRemovals) {
  assert(NULL != pszTarPack);
  assert('\0' != pszTarPack[0]);
  m_setMerged.clear();
  if (m_strHeldUpdate.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::string strSrcPack = std::move(m_strHeldUpdate);
  m_strHeldUpdate.clear();
  const char* pszSrcPack = strSrcPack.c_str();

  CPackFile& source = *m_pSrcPack;
  CPackFile& target = *m_pTarPack;
  CFirstError first;  // goes last: the rollback and the lock's release are no cause
  CMergePlan plan;
  CPackLock lock;
  CRemovalPlan removal;
  bool bJournaled = false;
  if (!PlanHeld(pszSrcPack, pszTarPack, lock, plan, pRemovals ? &removal : nullptr, pRemovals)) first.Fail();
  DWORD dwCommitted = ERROR_SUCCESS;  // a committed merge's last error: a sync that failed after its commit
  if (first.Ok()) {
    RemoveCompactLeftover(pszTarPack);
    const std::string strLooseDir = FieldString(target.m_szWorkDir, sizeof(target.m_szWorkDir));
    const CLooseCommit loose(pszTarPack, strLooseDir, plan, pRemovals ? &removal : nullptr);
    // The workers decode ahead while the journal is saved; the first byte
    // of the pack is written only once the journal is safe on disk.
    const CIndexLayout layout = LayoutIndex(target.m_header.dwIndexOffset, target.Regions());
    const PackHeader newHeader = HeaderForLayout(target.m_header, layout);
    auto writeJournal = [&] {
      bJournaled = WriteJournal(pszTarPack, target.m_hPackFile.Get(), newHeader, layout.End(), JournalRanges(plan),
                                loose.JournalFiles());
      return bJournaled;
    };
    CMergeWriter writer(source.Reader(), target.m_byCompressed != 0, target.m_hPackFile.Get(), strLooseDir);
    writer.SetWorkers(m_nMergeWorkers);
    if (!writer.Write(plan, writeJournal)) {
      first.Fail();
      if (bJournaled) m_strRefusal = FailureReason(first.Error(), writer.FailedName());
    } else if (!target.SaveIndex(pszTarPack) || !loose.Install() || !RemoveJournal(pszTarPack)) {
      // The loose files and the record take their new state before the
      // commit, so that a rollback puts them back with the pack.
      first.Fail();
    } else {
      dwCommitted = GetLastError();
      loose.Tidy();
    }
  }
  if (first.Ok()) {
    for (const CMergeStep& step : plan.vecSteps) m_setMerged.insert(*step.pstrName);
  }
  source.Close();
  target.Close();
  m_hHeldFile.Reset();  // the held update file, when the source was its copy
  // When even this fails, the journal stays and the next Open restores.
  if (!first.Ok() && bJournaled) RestoreFromJournal(pszTarPack, lock);
  if (first.Ok()) SetLastError(dwCommitted);
  return first.Ok() ? 1 : 0;
}

// One merge of a pack at a time: the lock is taken before the target is
// read, so a second merge fails here (ERROR_SHARING_VIOLATION) having
// changed nothing, and is held until the end, restore included. A target
// that does not open completely is never written: saving it would drop what
// did not load. Nothing is written before the journal is safe on disk;
// after that any failure puts the old pack back.
bool CRealizePack::PlanHeld(const char* pszSrcPack, const char* pszTarPack, CPackLock& lock, CMergePlan& plan,
                            CRemovalPlan* pRemoval, const CUpdateRemovals* pRemovals) {
  CPackFile& source = *m_pSrcPack;
  CPackFile& target = *m_pTarPack;
  bool bOk = lock.Take(pszTarPack, m_dwLockWait) && RestoreFromJournal(pszTarPack, lock);
  bOk = bOk && target.OpenPack(pszTarPack, CPackFile::OpenMode::kMergeTarget);
  if (!bOk) {
    m_strRefusal = lock.Busy() ? "another merge or a reader holds the client pack" : "the client pack does not open";
  }
  if (bOk && !lock.Guards(target.m_hPackFile.Get())) {
    bOk = false;
    m_strRefusal = "the client pack was replaced as the merge began";
  }
  bOk = bOk && CheckMerge({source.m_header, source.m_mapEntry, target.m_header, target.m_mapEntry, target.m_mapDir,
                           target.m_vecFreeBlock, pszSrcPack, pszTarPack, CurrentDirectory()},
                          m_strRefusal);
  bOk = bOk && (!pRemovals || TakeRemovals(pszTarPack, *pRemovals, *pRemoval));
  bOk = bOk && target.PlanMergeFrom(source, plan, m_nMergeWorkers);
  if (!bOk && m_strRefusal.empty()) m_strRefusal = FailureReason(GetLastError(), plan.strFailedName);
  return bOk;
}

bool CPackFile::MergeFrom(CPackFile* pSrcPack) {
  CMergePlan plan;
  bool bOk = RefuseReadOnly(*this) && PlanMergeFrom(*pSrcPack, plan, 0);
  if (bOk) {
    const std::string strLooseDir = FieldString(m_szWorkDir, sizeof(m_szWorkDir));
    CMergeWriter writer(pSrcPack->Reader(), m_byCompressed != 0, m_hPackFile.Get(), strLooseDir);
    // Without a journal there is no commit to wait for: staged loose files
    // go into place once all are written.
    bOk = writer.Write(plan) && CLooseCommit(std::string(), strLooseDir, plan, nullptr).Install();
  }
  pSrcPack->m_hFileMapping.Reset();
  // The index in memory no longer matches the file: no save may follow.
  if (!bOk) CloseFile();
  return bOk;
}

// The plan is taken over into this pack's index, tree, free list and header;
// on a failure they are spoilt and the pack must be closed without saving.
bool CPackFile::PlanMergeFrom(const CPackFile& source, CMergePlan& plan, int nWorkers) {
  SetField(m_szWorkDir, sizeof(m_szWorkDir), CurrentDirectory());
  CMergeWriter sizer(source.Reader(), m_byCompressed != 0, nullptr, std::string());
  sizer.SetWorkers(nWorkers);
  const CMergeInput input{
      source.m_mapEntry,
      m_mapEntry,
      m_mapDir,
      m_vecFreeBlock,
      m_header.dwIndexOffset,
      m_byCompressed != 0,
      [&sizer](const PackEntry& entry, uint32_t& dwSize) { return sizer.StoredSize(entry, dwSize); }};
  if (m_byCompressed != 0 && source.m_byCompressed == 0) {
    // The sizes are known only once encoded: the entries that will take
    // blobs (a plan with every size 0 lists them) are encoded on every core
    // first, and the real plan takes their sizes from there.
    CMergeInput sizeless = input;
    sizeless.fnStoredSize = [](const PackEntry&, uint32_t& dwSize) {
      dwSize = 0;
      return true;
    };
    CMergePlan draft;
    std::vector<const PackEntry*> vecBlobs;
    if (!PlanMerge(sizeless, draft)) return false;
    for (const CMergeStep& step : draft.vecSteps) {
      if (step.eAction != MergeAction::kLoose) vecBlobs.push_back(step.pSource);
    }
    if (!sizer.MeasureStoredSizes(vecBlobs)) return false;
  }
  if (!PlanMerge(input, plan)) return false;

  for (const CMergeStep& step : plan.vecSteps) {
    const PackEntry& from = *step.pSource;
    if (step.eAction == MergeAction::kInPlace || step.eAction == MergeAction::kMove) {
      PackEntry& entry = *m_mapEntry.at(*step.pstrName);
      entry.dwOrigSize = from.dwOrigSize;
      entry.dwStoredSize = step.dwSize;
      entry.dwOffset = step.dwOffset;
      std::memcpy(entry.szTag, from.szTag, kPackTagSize);
    } else if (step.eAction == MergeAction::kAdd) {
      auto pEntry = std::make_unique<PackEntry>();
      std::memset(pEntry.get(), 0, sizeof(PackEntry));
      std::memcpy(pEntry->szName, from.szName, kPackNameSize);
      pEntry->dwOrigSize = from.dwOrigSize;
      pEntry->dwStoredSize = step.dwSize;
      pEntry->dwOffset = step.dwOffset;
      std::memcpy(pEntry->szTag, from.szTag, kPackTagSize);
      AddPathToTree(step.pstrName->c_str(), pEntry.get());
      m_vecNewEntry.push_back(std::move(pEntry));
      ++m_header.nEntryCount;
    }
  }
  m_vecFreeBlock = plan.vecFree;
  m_header.dwIndexOffset = plan.dwIndexOffset;
  if (!LayoutIndex(m_header.dwIndexOffset, Regions()).Fits()) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // offsets and counts are 32 bits wide
    return false;
  }
  return true;
}

void CRealizePack::SetMergeWorkers(int nWorkers) { m_nMergeWorkers = nWorkers > 0 ? nWorkers : 0; }

void CRealizePack::SetLockWait(DWORD dwMilliseconds) { m_dwLockWait = dwMilliseconds; }

int CPackFile::AllocSpace(uint32_t dwSize, uint32_t* pdwOffset) {
  return TakeFreeSpace(m_vecFreeBlock, m_header.dwIndexOffset, dwSize, *pdwOffset);
}
