// The fault injector's counting and the undo records of file contents (see
// fault_inject.h; directory operations are in fault_dir_ops.cpp).
#include "platform/fault_inject.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/fault_dir_ops.h"
#include "platform/fault_hook.h"
#include "platform/win32.h"

bool g_bFaultArmed = false;

namespace {

enum class Verdict { kGo, kFail, kStop };

// A file with unflushed writes, reached through a handle of our own so that
// it can be undone after the program closed its handles.
struct CFaultFile {
  uint64_t qwVolume;
  uint64_t qwIndex;
  intptr_t hOwn;  // -1 once everything written to it was flushed
};

// What a file held before one write or truncation: its size, and the bytes
// at qwOffset that the call replaced or cut off.
struct CUndoRecord {
  size_t nFile;
  uint64_t qwOffset;
  std::string strOldBytes;
  uint64_t qwOldSize;
};

struct CFaultState {
  FaultMode eMode = FaultMode::kCount;
  uint32_t nPoint = 0;
  uint32_t nSeen = 0;
  uint32_t nFlushes = 0;
  uint32_t nSyncsSeen = 0;
  uint32_t nPausePoint = 0;
  void (*pfnPause)() = nullptr;
  bool bStopped = false;
  std::vector<CFaultFile> vecFile;
  std::vector<CUndoRecord> vecUndo;
  // The torn part of the last write, for a power cut: it lands after the
  // unflushed writes were undone.
  bool bTornPending = false;
  size_t nTornFile = 0;
  uint64_t qwTornOffset = 0;
  std::string strTornBytes;
};

CFaultState g_faultState;

bool IsPowerCut() {
  return g_faultState.eMode == FaultMode::kPowerCut || g_faultState.eMode == FaultMode::kPowerCutTorn;
}

bool IsTorn() { return g_faultState.eMode == FaultMode::kStopTorn || g_faultState.eMode == FaultMode::kPowerCutTorn; }

// Directory operations are recorded while a power cut is armed and the
// program runs.
void TellDirOps() { FaultDirOpsRecord(g_bFaultArmed && IsPowerCut() && !g_faultState.bStopped); }

Verdict NextPoint() {
  if (g_faultState.bStopped) return Verdict::kFail;  // the program is gone
  const uint32_t nAt = ++g_faultState.nSeen;
  if (nAt == g_faultState.nPausePoint && g_faultState.pfnPause != nullptr) {
    g_bFaultArmed = false;  // what the pause does is not the program's
    TellDirOps();
    g_faultState.pfnPause();
    g_bFaultArmed = true;
    TellDirOps();
  }
  switch (g_faultState.eMode) {
    case FaultMode::kCount:
      return Verdict::kGo;
    case FaultMode::kFail:
      return nAt == g_faultState.nPoint ? Verdict::kFail : Verdict::kGo;
    case FaultMode::kFailOnward:
      return nAt >= g_faultState.nPoint ? Verdict::kFail : Verdict::kGo;
    case FaultMode::kDiskFull:
      return Verdict::kGo;  // the hook asks NeedsSpace
    case FaultMode::kFailSync:
      return Verdict::kGo;
    default:
      return nAt == g_faultState.nPoint ? Verdict::kStop : Verdict::kGo;
  }
}

// True when the disk is full and a call that makes hFile reach qwEnd bytes
// needs space it does not have.
bool NeedsSpace(intptr_t hFile, uint64_t qwEnd) {
  if (g_faultState.eMode != FaultMode::kDiskFull || g_faultState.nSeen < g_faultState.nPoint) return false;
  uint64_t qwSize = 0;
  if (!FaultOsSize(hFile, qwSize)) throw std::runtime_error("fault injection: cannot size a file");
  if (qwEnd <= qwSize) return false;
  SetLastError(ERROR_DISK_FULL);
  return true;
}

// Turns a verdict into the hook's answer: go ahead, or fail the call.
bool Answer(Verdict verdict) {
  if (verdict == Verdict::kFail) {
    SetLastError(ERROR_WRITE_FAULT);
    return false;
  }
  if (verdict == Verdict::kStop) {
    g_faultState.bStopped = true;
    TellDirOps();
    throw CFaultStop();
  }
  return true;
}

// The index of the file hFile is open on, with a handle of our own.
size_t FileOf(intptr_t hFile) {
  uint64_t qwVolume = 0;
  uint64_t qwIndex = 0;
  if (!FaultOsIdentify(hFile, qwVolume, qwIndex)) throw std::runtime_error("fault injection: cannot identify a file");
  std::vector<CFaultFile>& vecFile = g_faultState.vecFile;
  auto it = std::find_if(vecFile.begin(), vecFile.end(),
                         [&](const CFaultFile& file) { return file.qwVolume == qwVolume && file.qwIndex == qwIndex; });
  if (it == vecFile.end()) it = vecFile.insert(vecFile.end(), {qwVolume, qwIndex, -1});
  if (it->hOwn == -1) it->hOwn = FaultOsDuplicate(hFile);
  if (it->hOwn == -1) throw std::runtime_error("fault injection: cannot duplicate a handle");
  return static_cast<size_t>(it - vecFile.begin());
}

// Keeps what [qwOffset, qwOffset + qwLength) and the size of the file are
// now, before a call changes them.
void RecordUndo(intptr_t hFile, uint64_t qwOffset, uint64_t qwLength) {
  const size_t nFile = FileOf(hFile);
  const intptr_t hOwn = g_faultState.vecFile[nFile].hOwn;
  CUndoRecord record{nFile, qwOffset, std::string(), 0};
  if (!FaultOsSize(hOwn, record.qwOldSize)) throw std::runtime_error("fault injection: cannot size a file");
  if (qwOffset < record.qwOldSize) {
    record.strOldBytes.resize(static_cast<size_t>(std::min(qwLength, record.qwOldSize - qwOffset)));
    if (!FaultOsReadAt(hOwn, qwOffset, record.strOldBytes.data(), record.strOldBytes.size()))
      throw std::runtime_error("fault injection: cannot read what a write replaces");
  }
  g_faultState.vecUndo.push_back(std::move(record));
}

void ForgetFile(size_t nFile) {
  std::vector<CUndoRecord>& vecUndo = g_faultState.vecUndo;
  vecUndo.erase(std::remove_if(vecUndo.begin(), vecUndo.end(),
                               [nFile](const CUndoRecord& record) { return record.nFile == nFile; }),
                vecUndo.end());
  // Our handle would keep Windows from renaming or deleting the file.
  FaultOsClose(g_faultState.vecFile[nFile].hOwn);
  g_faultState.vecFile[nFile].hOwn = -1;
}

void CloseAll() {
  for (CFaultFile& file : g_faultState.vecFile) {
    if (file.hOwn != -1) FaultOsClose(file.hOwn);
    file.hOwn = -1;
  }
}

}  // namespace

void FaultInjectArm(FaultMode eMode, uint32_t nPoint) {
  FaultInjectDisarm();
  g_faultState.eMode = eMode;
  g_faultState.nPoint = nPoint;
  g_bFaultArmed = true;
  TellDirOps();
}

void FaultInjectPauseAt(uint32_t nPoint, void (*pfnPause)()) {
  g_faultState.nPausePoint = nPoint;
  g_faultState.pfnPause = pfnPause;
}

void FaultInjectDisarm() {
  g_bFaultArmed = false;
  CloseAll();
  FaultDirOpsForget();
  g_faultState = CFaultState();
  TellDirOps();
}

uint32_t FaultInjectPoints() { return g_faultState.nSeen; }

uint32_t FaultInjectFlushes() { return g_faultState.nFlushes; }

void FaultInjectStop() {
  if (IsPowerCut()) {
    const std::vector<CUndoRecord>& vecUndo = g_faultState.vecUndo;
    for (auto it = vecUndo.rbegin(); it != vecUndo.rend(); ++it) {
      const intptr_t hOwn = g_faultState.vecFile[it->nFile].hOwn;
      FaultOsTruncate(hOwn, it->qwOldSize);
      FaultOsWriteAt(hOwn, it->qwOffset, it->strOldBytes.data(), it->strOldBytes.size());
    }
    if (g_faultState.bTornPending) {
      const intptr_t hOwn = g_faultState.vecFile[g_faultState.nTornFile].hOwn;
      FaultOsWriteAt(hOwn, g_faultState.qwTornOffset, g_faultState.strTornBytes.data(),
                     g_faultState.strTornBytes.size());
    }
    // Our handles would keep Windows from deleting or moving the files.
    CloseAll();
    FaultDirOpsPowerCut(IsTorn());
  }
  CloseAll();
  FaultDirOpsForget();
  FaultOsExit(kFaultExitCode);
}

bool FaultHookWrite(intptr_t hFile, const void* pData, uint32_t dwSize, bool bAtOffset, uint64_t qwOffset) {
  if (!FaultOsIsDiskFile(hFile)) return true;
  const Verdict verdict = NextPoint();
  if (verdict == Verdict::kFail) return Answer(verdict);
  if (!bAtOffset && !FaultOsPosition(hFile, qwOffset)) throw std::runtime_error("fault injection: no file position");
  if (NeedsSpace(hFile, qwOffset + dwSize)) return false;
  const uint32_t dwTorn = dwSize / 2;
  if (verdict == Verdict::kStop && IsTorn() && dwTorn > 0) {
    if (IsPowerCut()) {
      g_faultState.bTornPending = true;
      g_faultState.nTornFile = FileOf(hFile);
      g_faultState.qwTornOffset = qwOffset;
      g_faultState.strTornBytes.assign(static_cast<const char*>(pData), dwTorn);
    } else {
      FaultOsWriteAt(hFile, qwOffset, pData, dwTorn);
    }
  }
  if (verdict == Verdict::kGo && IsPowerCut() && !FaultOsIsWriteThrough(hFile)) RecordUndo(hFile, qwOffset, dwSize);
  return Answer(verdict);
}

bool FaultHookFlush(intptr_t hFile) {
  if (!FaultOsIsDiskFile(hFile)) return true;
  const Verdict verdict = NextPoint();
  if (verdict == Verdict::kGo) ++g_faultState.nFlushes;
  if (verdict == Verdict::kGo && IsPowerCut()) ForgetFile(FileOf(hFile));
  return Answer(verdict);
}

bool FaultHookTruncate(intptr_t hFile) {
  if (!FaultOsIsDiskFile(hFile)) return true;
  const Verdict verdict = NextPoint();
  uint64_t qwPosition = 0;
  if (!FaultOsPosition(hFile, qwPosition)) throw std::runtime_error("fault injection: no file position");
  if (NeedsSpace(hFile, qwPosition)) return false;
  if (verdict == Verdict::kGo && IsPowerCut()) RecordUndo(hFile, qwPosition, UINT64_MAX);  // whatever the cut removes
  return Answer(verdict);
}

bool FaultHookNameChange() { return Answer(NextPoint()); }

bool FaultHookSyncFails() {
  if (g_faultState.bStopped || g_faultState.eMode != FaultMode::kFailSync) return false;
  return ++g_faultState.nSyncsSeen == g_faultState.nPoint;
}
