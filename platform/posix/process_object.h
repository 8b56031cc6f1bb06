// The objects behind process and thread handles.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>

#include "platform/posix/handle_table.h"
#include "platform/posix/unique_fd.h"

// One process, shared by its process and thread handles. Where the kernel
// has pidfds, one pins the process, so a recycled id is never signalled or
// waited for; elsewhere the id alone is used.
class CProcessTarget {
 public:
  // Opens process nPid. Fails with ERROR_INVALID_PARAMETER when there is no
  // such process and ERROR_ACCESS_DENIED when we may not signal it. bReap
  // marks a child we started: its exit status is collected once it ends.
  // Processes opened by id are never reaped, so code in this process that
  // waits for its own children is not robbed of their status.
  static std::shared_ptr<CProcessTarget> Open(pid_t nPid, bool bReap);

  CProcessTarget(pid_t nPid, CUniqueFd fdPid, bool bReap);
  ~CProcessTarget();
  CProcessTarget(const CProcessTarget&) = delete;
  CProcessTarget& operator=(const CProcessTarget&) = delete;

  pid_t Pid() const { return m_nPid; }

  // Sends nSignal; false with ERROR_ACCESS_DENIED when the process has ended
  // or may not be signalled, as TerminateProcess fails on Windows.
  bool Signal(int nSignal);

  // WAIT_OBJECT_0 once the process has ended, WAIT_TIMEOUT when
  // dwMilliseconds (INFINITE: never) pass first.
  DWORD Wait(DWORD dwMilliseconds);

 private:
  bool HasEnded();
  void BlockUntilChange(DWORD dwMilliseconds);

  pid_t m_nPid;
  CUniqueFd m_fdPid;  // invalid without pidfd support
  bool m_bReap;
  std::mutex m_mutex;
  bool m_bEnded = false;
};

class CProcessObject : public CHandleObject {
 public:
  // Wait accepts both kinds; TerminateProcess only the process kind.
  static constexpr unsigned kWaitableKinds = kHandleProcess | kHandleThread;

  CProcessObject(EHandleKind eKind, std::shared_ptr<CProcessTarget> spTarget, DWORD dwAccess)
      : CHandleObject(eKind), m_spTarget(std::move(spTarget)), m_dwAccess(dwAccess) {}

  CProcessTarget& Target() const { return *m_spTarget; }
  bool HasAccess(DWORD dwRight) const { return (m_dwAccess & dwRight) == dwRight; }

 private:
  std::shared_ptr<CProcessTarget> m_spTarget;
  DWORD m_dwAccess;
};

// Registers a handle for the process; null with the last error set.
HANDLE RegisterProcessHandle(EHandleKind eKind, const std::shared_ptr<CProcessTarget>& spTarget, DWORD dwAccess);
