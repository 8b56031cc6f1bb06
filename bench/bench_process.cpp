#include "bench/bench_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace bench {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

namespace {

// The spawner hands its result to the bench on this descriptor.
constexpr int kResultFd = 3;

std::string CommandText(const std::vector<std::string>& vecArgs) {
  std::string str;
  for (const std::string& strArg : vecArgs) str += (str.empty() ? "" : " ") + strArg;
  return str;
}

std::vector<char*> Argv(const std::vector<std::string>& vecArgs) {
  std::vector<char*> vecArgv;
  for (const std::string& strArg : vecArgs) vecArgv.push_back(const_cast<char*>(strArg.c_str()));
  vecArgv.push_back(nullptr);
  return vecArgv;
}

// In the spawner's child: redirect, change directory, exec; never returns.
[[noreturn]] void ExecProgram(char** ppszArgv, const char* pszStdout, const char* pszDir) {
  close(kResultFd);
  const int fdOut = open(pszStdout, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fdOut < 0 || dup2(fdOut, STDOUT_FILENO) < 0) _exit(126);
  close(fdOut);
  const int fdIn = open("/dev/null", O_RDONLY);
  if (fdIn >= 0) dup2(fdIn, STDIN_FILENO);
  if (std::string(pszDir) != "-" && chdir(pszDir) != 0) _exit(126);
  execvp(ppszArgv[0], ppszArgv);
  _exit(127);
}

}  // namespace

// A child's ru_maxrss includes what it held before exec, and a forked child
// holds a copy of its parent: forked from the bench, which has held data
// of its own, a program would be charged with the bench's memory. So a
// fresh, small copy of this program (the spawner) forks and times it.
int RunSpawner(int argc, char** argv) {
  if (argc < 5) return 2;
  const double dStart = Now();
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) ExecProgram(argv + 4, argv[2], argv[3]);
  int nStatus = 0;
  struct rusage usage = {};
  while (wait4(pid, &nStatus, 0, &usage) < 0) {
  }
  const std::string strResult = std::to_string(Now() - dStart) + " " + std::to_string(usage.ru_maxrss) + " " +
                                std::to_string(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128) + "\n";
  return write(kResultFd, strResult.data(), strResult.size()) == static_cast<ssize_t>(strResult.size()) ? 0 : 1;
}

CRun RunChild(const std::vector<std::string>& vecArgs, const std::string& strStdout, const std::string& strDir) {
  std::vector<std::string> vecSpawn = {"/proc/self/exe", "spawn", strStdout, strDir.empty() ? "-" : strDir};
  vecSpawn.insert(vecSpawn.end(), vecArgs.begin(), vecArgs.end());
  std::vector<char*> vecArgv = Argv(vecSpawn);
  int fdPipe[2];
  if (pipe2(fdPipe, O_CLOEXEC) != 0) throw std::runtime_error("cannot start " + CommandText(vecArgs));
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start " + CommandText(vecArgs));
  if (pid == 0) {
    if (dup2(fdPipe[1], kResultFd) < 0) _exit(126);
    execv(vecArgv[0], vecArgv.data());
    _exit(127);
  }
  close(fdPipe[1]);
  std::string strResult;
  char szBuffer[256];
  for (ssize_t n; (n = read(fdPipe[0], szBuffer, sizeof(szBuffer))) != 0;) {
    if (n > 0) strResult.append(szBuffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  close(fdPipe[0]);
  int nStatus = 0;
  while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  CRun run;
  int nExit = -1;
  if (std::sscanf(strResult.c_str(), "%lf %ld %d", &run.dSeconds, &run.nMaxRssKiB, &nExit) != 3) {
    throw std::runtime_error("cannot start " + CommandText(vecArgs));
  }
  run.bOk = nExit == 0;
  return run;
}

CRun RunChecked(const std::vector<std::string>& vecArgs, const std::string& strStdout, const std::string& strDir) {
  CRun run = RunChild(vecArgs, strStdout, strDir);
  if (!run.bOk) throw std::runtime_error("failed: " + CommandText(vecArgs));
  return run;
}

void SyncAll() { sync(); }

std::vector<CRun> BestOf(int nReps, const std::vector<std::function<CRun()>>& vecContenders) {
  std::vector<CRun> vecBest(vecContenders.size());
  for (int i = 0; i < nReps; ++i) {
    for (size_t n = 0; n < vecContenders.size(); ++n) {
      const CRun run = vecContenders[n]();
      const long nMaxRssKiB = std::max(vecBest[n].nMaxRssKiB, run.nMaxRssKiB);
      if (i == 0 || run.dSeconds < vecBest[n].dSeconds) vecBest[n] = run;
      vecBest[n].nMaxRssKiB = nMaxRssKiB;
    }
  }
  return vecBest;
}

CRun TimeHere(const std::function<void()>& fn) {
  CRun run;
  const double dStart = Now();
  fn();
  run.dSeconds = Now() - dStart;
  run.bOk = true;
  return run;
}

}  // namespace bench
