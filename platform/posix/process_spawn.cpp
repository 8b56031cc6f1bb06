// Starting programs: CreateProcessA (a child we can wait for) and WinExec (a
// detached program that outlives us).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/api_guard.h"
#include "platform/posix/command_line.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/locale_charset.h"
#include "platform/posix/path_lookup.h"
#include "platform/posix/process_object.h"
#include "platform/posix/unique_fd.h"

extern char** environ;

namespace {

// WinExec's result for success: anything above 31.
const UINT kWinExecStarted = 33;

struct CSpawnRequest {
  std::string strProgram;            // absolute POSIX path
  std::vector<std::string> vecArgs;  // in the locale's character set
  bool bOwnEnvironment = false;      // else ours is inherited
  std::vector<std::string> vecEnv;
  std::string strDirectory;  // POSIX path; empty: ours
  bool bNewSession = false;
  bool bNewGroup = false;
};

// A null-terminated char* array over strings that outlive it.
class CArgv {
 public:
  explicit CArgv(const std::vector<std::string>& vecStrings) {
    for (const std::string& str : vecStrings) m_vecPointers.push_back(const_cast<char*>(str.c_str()));
    m_vecPointers.push_back(nullptr);
  }
  char** Get() { return m_vecPointers.data(); }

 private:
  std::vector<char*> m_vecPointers;
};

std::string ToLocale(const std::string& strCp936) { return ConvertCharset(strCp936, LocaleCharset().c_str(), "CP936"); }

// "NAME=value\0NAME=value\0\0" in code page 936.
std::vector<std::string> ParseEnvironmentBlock(const char* pszBlock) {
  std::vector<std::string> vecEnv;
  for (const char* psz = pszBlock; *psz != '\0'; psz += std::string(psz).size() + 1) vecEnv.push_back(ToLocale(psz));
  return vecEnv;
}

DWORD ErrorFromExec(int nErrno) {
  return nErrno == ENOEXEC ? static_cast<DWORD>(ERROR_BAD_EXE_FORMAT) : Win32ErrorFromErrno(nErrno);
}

class CSpawnAttributes {
 public:
  CSpawnAttributes() {
    posix_spawnattr_init(&m_attr);
    posix_spawn_file_actions_init(&m_actions);
  }
  ~CSpawnAttributes() {
    posix_spawn_file_actions_destroy(&m_actions);
    posix_spawnattr_destroy(&m_attr);
  }
  CSpawnAttributes(const CSpawnAttributes&) = delete;
  CSpawnAttributes& operator=(const CSpawnAttributes&) = delete;

  // Signals ignored here (SIGHUP, once the console's Close command is
  // greyed) must not stay ignored in the new program, nor blocked.
  int Prepare(const CSpawnRequest& request) {
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    short nFlags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (request.bNewSession) nFlags |= POSIX_SPAWN_SETSID;
    if (request.bNewGroup) nFlags |= POSIX_SPAWN_SETPGROUP;
    int nResult = posix_spawnattr_setsigdefault(&m_attr, &all);
    if (nResult == 0) nResult = posix_spawnattr_setsigmask(&m_attr, &none);
    if (nResult == 0) nResult = posix_spawnattr_setflags(&m_attr, nFlags);
    if (nResult == 0 && !request.strDirectory.empty())
      nResult = posix_spawn_file_actions_addchdir_np(&m_actions, request.strDirectory.c_str());
    return nResult;
  }

  const posix_spawnattr_t* Attributes() const { return &m_attr; }
  const posix_spawn_file_actions_t* Actions() const { return &m_actions; }

 private:
  posix_spawnattr_t m_attr;
  posix_spawn_file_actions_t m_actions;
};

// Starts the program as our child. Returns 0 or the errno of the failure.
int SpawnChild(const CSpawnRequest& request, pid_t& nPid) {
  CSpawnAttributes attributes;
  int nResult = attributes.Prepare(request);
  if (nResult != 0) return nResult;
  CArgv argv(request.vecArgs);
  CArgv envp(request.vecEnv);
  return posix_spawn(&nPid, request.strProgram.c_str(), attributes.Actions(), attributes.Attributes(), argv.Get(),
                     request.bOwnEnvironment ? envp.Get() : environ);
}

// What the detached program gets as standard input, output and error: the
// terminal where we have one (the console it shares on Windows), else the
// null device, so it never holds a pipe of ours open after we end.
struct CDetachedStdio {
  CUniqueFd fdNull;
  bool bTerminal[3] = {false, false, false};
};

bool PrepareStdio(CDetachedStdio& stdio) {
  stdio.fdNull.Reset(open("/dev/null", O_RDWR | O_CLOEXEC));
  // Keep it clear of 0-2, which dup2 below may overwrite.
  if (stdio.fdNull.IsValid() && stdio.fdNull.Get() <= STDERR_FILENO)
    stdio.fdNull.Reset(fcntl(stdio.fdNull.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  for (int nFd = 0; nFd <= STDERR_FILENO; ++nFd) stdio.bTerminal[nFd] = isatty(nFd) != 0;
  return stdio.fdNull.IsValid();
}

// Runs in the grandchild after fork: async-signal-safe calls only.
[[noreturn]] void ExecDetached(const char* pszProgram, char** argv, char** envp, const CDetachedStdio& stdio,
                               int nReportFd) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  for (int nSignal = 1; nSignal < NSIG; ++nSignal) sigaction(nSignal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int nFd = 0; nFd <= STDERR_FILENO; ++nFd) {
    if (!stdio.bTerminal[nFd]) dup2(stdio.fdNull.Get(), nFd);
  }
  execve(pszProgram, argv, envp);
  int nErrno = errno;
  ssize_t nIgnored = write(nReportFd, &nErrno, sizeof(nErrno));
  (void)nIgnored;
  _exit(127);
}

// Starts the program in a session of its own through an intermediate child
// that ends at once, so the program is not our child: it never becomes our
// zombie (the system's reaper adopts it), a hang-up of our terminal or a
// signal to our process group does not reach it, and it outlives us.
// Returns 0 or the errno of the failure.
int SpawnDetached(const CSpawnRequest& request) {
  CDetachedStdio stdio;
  if (!PrepareStdio(stdio)) return errno;
  int nPipe[2];
  if (pipe2(nPipe, O_CLOEXEC) != 0) return errno;
  CUniqueFd fdRead(nPipe[0]);
  CUniqueFd fdWrite(nPipe[1]);
  CArgv argv(request.vecArgs);
  pid_t nMiddle = fork();
  if (nMiddle < 0) return errno;
  if (nMiddle == 0) {
    setsid();
    pid_t nProgram = fork();
    if (nProgram == 0) ExecDetached(request.strProgram.c_str(), argv.Get(), environ, stdio, fdWrite.Get());
    if (nProgram < 0) {
      int nErrno = errno;
      ssize_t nIgnored = write(fdWrite.Get(), &nErrno, sizeof(nErrno));
      (void)nIgnored;
    }
    _exit(0);
  }
  fdWrite.Reset();
  while (waitpid(nMiddle, nullptr, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes unread when exec succeeds (close-on-exec).
  int nErrno = 0;
  ssize_t nRead;
  while ((nRead = read(fdRead.Get(), &nErrno, sizeof(nErrno))) < 0 && errno == EINTR) {
  }
  return nRead == static_cast<ssize_t>(sizeof(nErrno)) ? nErrno : 0;
}

DWORD ResolveDirectory(LPCSTR pszDirectory, std::string& strPosix) {
  CResolvedPath resolved;
  if (ResolveWin32Path(pszDirectory, resolved) != ERROR_SUCCESS || !resolved.Exists()) return ERROR_DIRECTORY;
  struct stat st;
  if (stat(resolved.m_strPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  strPosix = resolved.m_strPath;
  return ERROR_SUCCESS;
}

// Program and arguments from CreateProcessA's first two parameters.
DWORD PrepareProgram(LPCSTR pszApplication, LPCSTR pszCommandLine, CSpawnRequest& request) {
  std::vector<std::string> vecArgs = SplitCommandLine(pszCommandLine);
  if (pszApplication == nullptr && vecArgs.empty()) return ERROR_INVALID_PARAMETER;
  if (vecArgs.empty()) vecArgs.push_back(pszApplication);
  bool bSearch = pszApplication == nullptr;
  DWORD dwError = FindProgram(bSearch ? vecArgs[0] : std::string(pszApplication), bSearch, request.strProgram);
  if (dwError != ERROR_SUCCESS) return dwError;
  for (const std::string& strArg : vecArgs) request.vecArgs.push_back(ToLocale(strArg));
  return ERROR_SUCCESS;
}

DWORD CheckUnsupported(DWORD dwCreationFlags, const STARTUPINFOA* pStartupInfo) {
  // A suspended or debugged start and handed-over standard handles have no
  // POSIX counterpart here; refusing beats silently doing something else.
  if ((dwCreationFlags & (CREATE_SUSPENDED | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS)) != 0) return ERROR_NOT_SUPPORTED;
  if ((pStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0) return ERROR_NOT_SUPPORTED;
  return ERROR_SUCCESS;
}

BOOL CreateProcessImpl(LPCSTR pszApplication, LPCSTR pszCommandLine, DWORD dwCreationFlags, LPVOID pEnvironment,
                       LPCSTR pszDirectory, LPSTARTUPINFOA pStartupInfo, LPPROCESS_INFORMATION pInfo) {
  if (pStartupInfo == nullptr || pInfo == nullptr) return Fail(FALSE, ERROR_INVALID_PARAMETER);
  DWORD dwError = CheckUnsupported(dwCreationFlags, pStartupInfo);
  CSpawnRequest request;
  if (dwError == ERROR_SUCCESS) dwError = PrepareProgram(pszApplication, pszCommandLine, request);
  if (dwError == ERROR_SUCCESS && pszDirectory != nullptr)
    dwError = ResolveDirectory(pszDirectory, request.strDirectory);
  if (dwError != ERROR_SUCCESS) return Fail(FALSE, dwError);
  if (pEnvironment != nullptr) {
    request.bOwnEnvironment = true;
    request.vecEnv = ParseEnvironmentBlock(static_cast<const char*>(pEnvironment));
  }
  request.bNewSession = (dwCreationFlags & DETACHED_PROCESS) != 0;
  request.bNewGroup = (dwCreationFlags & CREATE_NEW_PROCESS_GROUP) != 0 && !request.bNewSession;
  pid_t nPid = 0;
  int nErrno = SpawnChild(request, nPid);
  if (nErrno != 0) return Fail(FALSE, ErrorFromExec(nErrno));
  std::shared_ptr<CProcessTarget> spTarget = CProcessTarget::Open(nPid, true);
  if (!spTarget) return FALSE;
  pInfo->hProcess = RegisterProcessHandle(kHandleProcess, spTarget, PROCESS_ALL_ACCESS);
  pInfo->hThread = RegisterProcessHandle(kHandleThread, spTarget, PROCESS_ALL_ACCESS);
  pInfo->dwProcessId = static_cast<DWORD>(nPid);
  pInfo->dwThreadId = static_cast<DWORD>(nPid);
  return TRUE;
}

UINT WinExecImpl(LPCSTR pszCmdLine) {
  CSpawnRequest request;
  DWORD dwError = PrepareProgram(nullptr, pszCmdLine, request);
  if (dwError == ERROR_INVALID_PARAMETER) dwError = ERROR_FILE_NOT_FOUND;
  if (dwError == ERROR_SUCCESS) {
    int nErrno = SpawnDetached(request);
    if (nErrno != 0) dwError = nErrno == ENOEXEC ? static_cast<DWORD>(ERROR_BAD_FORMAT) : Win32ErrorFromErrno(nErrno);
  }
  if (dwError != ERROR_SUCCESS) {
    SetLastError(dwError);
    // Codes above 31 would read as success.
    return dwError > 31 ? 0 : static_cast<UINT>(dwError);
  }
  return kWinExecStarted;
}

}  // namespace

// Handles are never inherited (ours are close-on-exec); standard input,
// output and error are. Window, console and priority flags have no meaning
// here and are ignored.
extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                      LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                      DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  return GuardWin32(FALSE, [&] {
    return CreateProcessImpl(lpApplicationName, lpCommandLine, dwCreationFlags, lpEnvironment, lpCurrentDirectory,
                             lpStartupInfo, lpProcessInformation);
  });
}

// The show command has no meaning without windows.
extern "C" UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  (void)uCmdShow;
  return GuardWin32(static_cast<UINT>(0), [&] { return WinExecImpl(lpCmdLine); });
}
