#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "tests/support/child_process.h"

extern char** environ;

namespace {

class CFileActions {
 public:
  CFileActions() { posix_spawn_file_actions_init(&m_actions); }
  ~CFileActions() { posix_spawn_file_actions_destroy(&m_actions); }
  CFileActions(const CFileActions&) = delete;
  CFileActions& operator=(const CFileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

CChildProcess::CChildProcess(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                             const std::filesystem::path& workDir, bool bWithStderr) {
  int nPipe[2];
  if (pipe2(nPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  CFileActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.Get(), nPipe[1], STDOUT_FILENO);
  if (bWithStderr) posix_spawn_file_actions_adddup2(actions.Get(), nPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(actions.Get(), workDir.c_str());
  std::vector<char*> vecArgv;
  for (const std::string& strArg : vecArgs) vecArgv.push_back(const_cast<char*>(strArg.c_str()));
  vecArgv.push_back(nullptr);
  pid_t nPid = 0;
  int nResult = posix_spawn(&nPid, program.c_str(), actions.Get(), nullptr, vecArgv.data(), environ);
  close(nPipe[1]);
  if (nResult != 0) {
    close(nPipe[0]);
    throw std::runtime_error("cannot start " + program.string());
  }
  m_dwId = static_cast<uint32_t>(nPid);
  m_hOutput = nPipe[0];
}

CChildProcess::~CChildProcess() {
  if (!m_bEnded) Kill();
  if (m_hOutput >= 0) close(static_cast<int>(m_hOutput));
}

void CChildProcess::Kill() {
  kill(static_cast<pid_t>(m_dwId), SIGKILL);
  while (waitpid(static_cast<pid_t>(m_dwId), nullptr, 0) < 0 && errno == EINTR) {
  }
  m_bEnded = true;
}

bool CChildProcess::Wait(int nTimeoutMs) {
  if (m_bEnded) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
  int nFd = static_cast<int>(m_hOutput);
  char byBuffer[4096];
  while (nFd >= 0) {
    struct pollfd pfd = {nFd, POLLIN, 0};
    int nReady = poll(&pfd, 1, MillisecondsLeft(deadline));
    if (nReady < 0 && errno == EINTR) continue;
    if (nReady <= 0) return false;
    ssize_t nRead = read(nFd, byBuffer, sizeof(byBuffer));
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead <= 0) break;
    m_strOutput.append(byBuffer, static_cast<size_t>(nRead));
  }
  // Output closed: the child is ending (or handed its output to a child of
  // its own, which the poll above would still be waiting for).
  int nStatus = 0;
  struct rusage usage = {};
  for (;;) {
    pid_t nDone = wait4(static_cast<pid_t>(m_dwId), &nStatus, WNOHANG, &usage);
    if (nDone == static_cast<pid_t>(m_dwId)) break;
    if (nDone < 0 && errno != EINTR) return false;
    if (MillisecondsLeft(deadline) == 0) return false;
    usleep(2000);
  }
  m_bEnded = true;
  m_nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  m_qwPeakMemory = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // KiB on Linux
  return true;
}

CChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                      const std::filesystem::path& workDir, int nTimeoutMs, bool bWithStderr) {
  CChildProcess child(program, vecArgs, workDir, bWithStderr);
  CChildResult result;
  result.bEnded = child.Wait(nTimeoutMs);
  result.nExitCode = child.ExitCode();
  result.strOutput = child.Output();
  result.qwPeakMemory = child.PeakMemoryBytes();
  return result;
}

void AdoptOrphans() {
#ifdef PR_SET_CHILD_SUBREAPER
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
}

void CollectOrphans(int nTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
  for (;;) {
    pid_t nDone = waitpid(-1, nullptr, WNOHANG);
    if (nDone > 0 || (nDone < 0 && errno == EINTR)) continue;
    if (nDone < 0 || MillisecondsLeft(deadline) == 0) return;  // no children left, or out of time
    usleep(5000);
  }
}
