// The directory operations a power cut can lose: each one recorded with the
// units (directories, or a volume) it changed, until syncs of those units
// make it durable (see fault_inject.h).
#include "platform/fault_dir_ops.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/fault_hook.h"
#include "platform/fault_inject.h"
#include "platform/win32.h"

namespace {

bool g_bRecording = false;

struct CUnit {
  uint64_t qwVolume = 0;
  uint64_t qwUnit = 0;
  bool operator==(const CUnit& other) const { return qwVolume == other.qwVolume && qwUnit == other.qwUnit; }
};

// One operation: strPath is what was created, deleted or moved away,
// strTarget a move's new name; strKept holds what a move replaced (its name
// strReplaced) or what a deletion removed. unitA holds strPath, unitB
// strTarget (the same unit for the others).
struct CDirRecord {
  FaultDirOp eOp = FaultDirOp::kCreateFile;
  FaultPath strPath;
  FaultPath strTarget;
  FaultPath strReplaced;
  FaultPath strKept;
  CUnit unitA;
  CUnit unitB;
  bool bSyncedA = false;
  bool bSyncedB = false;
};

struct CDirState {
  std::vector<CDirRecord> vecPending;
  CDirRecord current;  // between CFaultDirOp's construction and Done
  uint32_t nKeepSerial = 0;
  uint32_t nSyncs = 0;
};

CDirState g_dirState;

// The fault layer cannot go on without its own file operations: a test
// must not pass on an undo that could not be kept.
[[noreturn]] void Fatal(const char* pszWhat) {
  std::fprintf(stderr, "fault injection: %s\n", pszWhat);
  std::fflush(stderr);
  std::abort();
}

bool ParentUnit(const FaultPath& strPath, CUnit& unit) {
  return FaultOsParentUnit(strPath, unit.qwVolume, unit.qwUnit);
}

// The fault layer's own file operations must not change the program's last
// error.
class CKeepLastError {
 public:
  CKeepLastError() : m_dwError(GetLastError()) {}
  ~CKeepLastError() { SetLastError(m_dwError); }

 private:
  DWORD m_dwError;
};

// Keeps strPath under a hidden name; empty when there is nothing to keep.
FaultPath Keep(const FaultPath& strPath) {
  if (!FaultOsExists(strPath)) return FaultPath();
  const FaultPath strKept = FaultOsKeepName(strPath, ++g_dirState.nKeepSerial);
  if (!FaultOsLink(strPath, strKept)) Fatal("cannot keep a file under a hidden name");
  return strKept;
}

void Discard(const FaultPath& strKept) {
  if (!strKept.empty()) FaultOsRemoveFile(strKept);
}

void Undo(const CDirRecord& record) {
  bool bOk = true;
  switch (record.eOp) {
    case FaultDirOp::kCreateFile:
      bOk = FaultOsRemoveFile(record.strPath);
      break;
    case FaultDirOp::kCreateDirectory:
      bOk = FaultOsRemoveTree(record.strPath);
      break;
    case FaultDirOp::kMove:
      bOk = FaultOsRename(record.strTarget, record.strPath);
      if (bOk && !record.strKept.empty()) bOk = FaultOsRename(record.strKept, record.strReplaced);
      break;
    case FaultDirOp::kDelete:
      bOk = record.strKept.empty() || FaultOsRename(record.strKept, record.strPath);
      break;
    case FaultDirOp::kRemoveDirectory:
      bOk = FaultOsMakeDirectory(record.strPath);
      break;
  }
  if (!bOk) std::fprintf(stderr, "fault injection: a directory operation could not be undone\n");
}

// Marks the operations in unit as synced and drops those now durable.
void SyncUnit(const CUnit& unit) {
  std::vector<CDirRecord> vecStill;
  for (CDirRecord& record : g_dirState.vecPending) {
    record.bSyncedA = record.bSyncedA || record.unitA == unit;
    record.bSyncedB = record.bSyncedB || record.unitB == unit;
    if (record.bSyncedA && record.bSyncedB) {
      Discard(record.strKept);
    } else {
      vecStill.push_back(std::move(record));
    }
  }
  g_dirState.vecPending = std::move(vecStill);
}

}  // namespace

// A call whose directories cannot be found fails by itself: nothing to
// record then.
CFaultDirOp::CFaultDirOp(FaultDirOp eOp, const FaultPath& strPath, const FaultPath& strTarget,
                         const FaultPath& strReplaced) {
  if (!g_bRecording) return;
  CKeepLastError keepError;
  CDirRecord record;
  record.eOp = eOp;
  record.strPath = FaultOsFullPath(strPath);
  if (!ParentUnit(record.strPath, record.unitA)) return;
  record.unitB = record.unitA;
  if (eOp == FaultDirOp::kMove) {
    record.strTarget = FaultOsFullPath(strTarget);
    if (!ParentUnit(record.strTarget, record.unitB)) return;
    if (!strReplaced.empty() && FaultOsExists(strReplaced) && !FaultOsSameFile(strPath, strReplaced)) {
      record.strReplaced = FaultOsFullPath(strReplaced);
      record.strKept = Keep(record.strReplaced);
    }
  } else if (eOp == FaultDirOp::kDelete) {
    record.strKept = Keep(record.strPath);
  }
  g_dirState.current = std::move(record);
  m_bActive = true;
}

CFaultDirOp::~CFaultDirOp() {
  if (!m_bActive) return;
  CKeepLastError keepError;
  Discard(g_dirState.current.strKept);
  g_dirState.current = CDirRecord();
}

void CFaultDirOp::Done() {
  if (!m_bActive) return;
  m_bActive = false;
  g_dirState.vecPending.push_back(std::move(g_dirState.current));
  g_dirState.current = CDirRecord();
}

void FaultHookDirSynced(const FaultPath& strDir) {
  ++g_dirState.nSyncs;
  if (!g_bRecording) return;
  CKeepLastError keepError;
  CUnit unit;
  if (!FaultOsDirUnit(strDir, unit.qwVolume, unit.qwUnit)) Fatal("cannot identify a synced directory");
  SyncUnit(unit);
}

uint32_t FaultInjectDirSyncs() { return g_dirState.nSyncs; }

void FaultDirOpsRecord(bool bRecord) { g_bRecording = bRecord; }

void FaultDirOpsPowerCut(bool bLandLast) {
  std::vector<CDirRecord>& vecPending = g_dirState.vecPending;
  if (bLandLast && !vecPending.empty()) {
    const CDirRecord last = vecPending.back();
    SyncUnit(last.unitA);
    SyncUnit(last.unitB);
  }
  for (auto it = vecPending.rbegin(); it != vecPending.rend(); ++it) Undo(*it);
  vecPending.clear();
}

void FaultDirOpsForget() {
  for (const CDirRecord& record : g_dirState.vecPending) Discard(record.strKept);
  g_dirState = CDirState();
}
