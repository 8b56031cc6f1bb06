// Process handles: OpenProcess, TerminateProcess, WaitForSingleObject, and
// Sleep.
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>
#include <string>
#include <thread>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/process_object.h"

namespace {

using CClock = std::chrono::steady_clock;

// Without pidfds a wait polls at this interval.
const DWORD kPollMilliseconds = 10;

int OpenPidFd(pid_t nPid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, nPid, 0));
#else
  (void)nPid;
  errno = ENOSYS;
  return -1;
#endif
}

int SignalPidFd(int nFd, int nSignal) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(syscall(SYS_pidfd_send_signal, nFd, nSignal, nullptr, 0));
#else
  (void)nFd;
  (void)nSignal;
  errno = ENOSYS;
  return -1;
#endif
}

// A process that has ended but was not reaped is a zombie: state Z (or X).
bool IsZombie(pid_t nPid) {
  std::ifstream stat("/proc/" + std::to_string(nPid) + "/stat");
  std::string strLine;
  if (!std::getline(stat, strLine)) return true;
  size_t nParen = strLine.rfind(')');
  if (nParen == std::string::npos || nParen + 2 >= strLine.size()) return false;
  char chState = strLine[nParen + 2];
  return chState == 'Z' || chState == 'X';
}

}  // namespace

std::shared_ptr<CProcessTarget> CProcessTarget::Open(pid_t nPid, bool bReap) {
  if (nPid <= 0) return Fail(std::shared_ptr<CProcessTarget>(), ERROR_INVALID_PARAMETER);
  if (kill(nPid, 0) != 0) {
    DWORD dwError = errno == ESRCH ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
    return Fail(std::shared_ptr<CProcessTarget>(), dwError);
  }
  CUniqueFd fdPid(OpenPidFd(nPid));
  if (!fdPid.IsValid() && errno == ESRCH) return Fail(std::shared_ptr<CProcessTarget>(), ERROR_INVALID_PARAMETER);
  return std::make_shared<CProcessTarget>(nPid, std::move(fdPid), bReap);
}

CProcessTarget::CProcessTarget(pid_t nPid, CUniqueFd fdPid, bool bReap)
    : m_nPid(nPid), m_fdPid(std::move(fdPid)), m_bReap(bReap) {}

CProcessTarget::~CProcessTarget() {
  // Collect a child that already ended; one still running is left to end on
  // its own (it stays a zombie until this process exits).
  if (m_bReap && !m_bEnded) waitpid(m_nPid, nullptr, WNOHANG);
}

bool CProcessTarget::Signal(int nSignal) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bEnded) return Fail(false, ERROR_ACCESS_DENIED);
  int nResult = m_fdPid.IsValid() ? SignalPidFd(m_fdPid.Get(), nSignal) : kill(m_nPid, nSignal);
  if (nResult != 0) return Fail(false, ERROR_ACCESS_DENIED);
  return true;
}

bool CProcessTarget::HasEnded() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bEnded) return true;
  if (m_bReap) {
    pid_t nResult = waitpid(m_nPid, nullptr, WNOHANG);
    m_bEnded = nResult == m_nPid || (nResult < 0 && errno == ECHILD);
  } else if (m_fdPid.IsValid()) {
    struct pollfd pfd = {m_fdPid.Get(), POLLIN, 0};
    m_bEnded = poll(&pfd, 1, 0) == 1;
  } else {
    m_bEnded = (kill(m_nPid, 0) != 0 && errno == ESRCH) || IsZombie(m_nPid);
  }
  return m_bEnded;
}

// Returns when the process may have ended or dwMilliseconds have passed.
void CProcessTarget::BlockUntilChange(DWORD dwMilliseconds) {
  if (!m_fdPid.IsValid()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(dwMilliseconds, kPollMilliseconds)));
    return;
  }
  struct pollfd pfd = {m_fdPid.Get(), POLLIN, 0};
  poll(&pfd, 1, static_cast<int>(std::min<DWORD>(dwMilliseconds, INT_MAX)));
}

DWORD CProcessTarget::Wait(DWORD dwMilliseconds) {
  const CClock::time_point deadline = CClock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    if (HasEnded()) return WAIT_OBJECT_0;
    DWORD dwLeft = INFINITE;
    if (dwMilliseconds != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CClock::now()).count();
      if (left <= 0) return WAIT_TIMEOUT;
      dwLeft = static_cast<DWORD>(left);
    }
    BlockUntilChange(dwLeft);
  }
}

HANDLE RegisterProcessHandle(EHandleKind eKind, const std::shared_ptr<CProcessTarget>& spTarget, DWORD dwAccess) {
  return RegisterHandle(std::make_shared<CProcessObject>(eKind, spTarget, dwAccess));
}

namespace {

HANDLE OpenProcessImpl(DWORD dwDesiredAccess, DWORD dwProcessId) {
  if (dwProcessId == 0 || dwProcessId > static_cast<DWORD>(INT_MAX))
    return Fail(HANDLE(nullptr), ERROR_INVALID_PARAMETER);
  std::shared_ptr<CProcessTarget> spTarget = CProcessTarget::Open(static_cast<pid_t>(dwProcessId), false);
  if (!spTarget) return nullptr;
  return RegisterProcessHandle(kHandleProcess, spTarget, dwDesiredAccess);
}

BOOL TerminateProcessImpl(HANDLE hProcess) {
  auto spObject = std::static_pointer_cast<CProcessObject>(LookupHandle(hProcess, kHandleProcess));
  if (!spObject) return FALSE;
  if (!spObject->HasAccess(PROCESS_TERMINATE)) return Fail(FALSE, ERROR_ACCESS_DENIED);
  return spObject->Target().Signal(SIGKILL) ? TRUE : FALSE;
}

DWORD WaitImpl(HANDLE hHandle, DWORD dwMilliseconds) {
  auto spObject = std::static_pointer_cast<CProcessObject>(LookupHandle(hHandle, CProcessObject::kWaitableKinds));
  if (!spObject) return WAIT_FAILED;
  if (!spObject->HasAccess(SYNCHRONIZE)) return Fail(WAIT_FAILED, ERROR_ACCESS_DENIED);
  return spObject->Target().Wait(dwMilliseconds);
}

}  // namespace

extern "C" HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  (void)bInheritHandle;  // handles are never inherited across exec
  return GuardWin32(HANDLE(nullptr), [&] { return OpenProcessImpl(dwDesiredAccess, dwProcessId); });
}

// The exit code cannot be chosen on POSIX: the process ends by SIGKILL.
extern "C" BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  (void)uExitCode;
  return GuardWin32(FALSE, [&] { return TerminateProcessImpl(hProcess); });
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return GuardWin32(WAIT_FAILED, [&] { return WaitImpl(hHandle, dwMilliseconds); });
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
