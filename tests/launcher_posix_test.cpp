// What only POSIX has to get right: the console on a real terminal (a
// pseudo-terminal), the hang-up that closing it sends, image names of
// scripts, processes we may not signal, and detached starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "launcher/processcontrol.h"
#include "platform/scoped_handle.h"
#include "platform/toolhelp.h"
#include "tests/support/child_process.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/launcher_messages.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_dir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using CClock = std::chrono::steady_clock;

// A program running on a pseudo-terminal that is its controlling terminal,
// as in a terminal window. The locale is UTF-8.
class CTerminalChild {
 public:
  CTerminalChild(const fs::path& program, const std::vector<std::string>& vecArgs, const fs::path& cwd) {
    m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMaster < 0 || grantpt(m_nMaster) != 0 || unlockpt(m_nMaster) != 0) throw std::runtime_error("no pty");
    char szSlave[128];
    if (ptsname_r(m_nMaster, szSlave, sizeof(szSlave)) != 0) throw std::runtime_error("no pty name");
    std::vector<std::string> vecEnv{"LC_ALL=C.UTF-8"};
    for (char** ppsz = environ; *ppsz != nullptr; ++ppsz) {
      if (std::strncmp(*ppsz, "LC_ALL=", 7) != 0) vecEnv.push_back(*ppsz);
    }
    std::vector<char*> vecArgv = Pointers(vecArgs);
    std::vector<char*> vecEnvp = Pointers(vecEnv);
    m_nPid = fork();
    if (m_nPid == 0) {
      // A new session whose first terminal opened becomes its controlling one.
      setsid();
      int nSlave = open(szSlave, O_RDWR);
      if (nSlave < 0 || chdir(cwd.c_str()) != 0) _exit(126);
      for (int nFd = 0; nFd <= 2; ++nFd) dup2(nSlave, nFd);
      execve(program.c_str(), vecArgv.data(), vecEnvp.data());
      _exit(127);
    }
  }
  ~CTerminalChild() {
    if (m_nPid > 0 && !m_bEnded) {
      kill(m_nPid, SIGKILL);
      waitpid(m_nPid, nullptr, 0);
    }
    CloseTerminal();
  }
  CTerminalChild(const CTerminalChild&) = delete;
  CTerminalChild& operator=(const CTerminalChild&) = delete;

  // Reads until the output holds strText; false after nTimeoutMs.
  bool ReadUntil(const std::string& strText, int nTimeoutMs) {
    const auto deadline = CClock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (m_strOutput.find(strText) == std::string::npos) {
      if (CClock::now() > deadline || !ReadSome(10)) return false;
    }
    return true;
  }
  // Collects what is left once the program has ended.
  void ReadRest() {
    while (ReadSome(100)) {
    }
  }
  void Type(const std::string& strKeys) {
    ASSERT_EQ(write(m_nMaster, strKeys.data(), strKeys.size()), static_cast<ssize_t>(strKeys.size()));
  }
  // Closes the terminal, as closing its window does: the program is hung up.
  void CloseTerminal() {
    if (m_nMaster >= 0) close(m_nMaster);
    m_nMaster = -1;
  }
  bool HasEnded() { return Poll(0); }
  // Waits for the end; false after nTimeoutMs.
  bool Wait(int nTimeoutMs) {
    const auto deadline = CClock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!Poll(10)) {
      if (CClock::now() > deadline) return false;
    }
    return true;
  }
  bool ExitedWithZero() const { return WIFEXITED(m_nStatus) && WEXITSTATUS(m_nStatus) == 0; }
  int Status() const { return m_nStatus; }
  const std::string& Output() const { return m_strOutput; }

 private:
  static std::vector<char*> Pointers(const std::vector<std::string>& vecStrings) {
    std::vector<char*> vecOut;
    for (const std::string& str : vecStrings) vecOut.push_back(const_cast<char*>(str.c_str()));
    vecOut.push_back(nullptr);
    return vecOut;
  }
  bool ReadSome(int nTimeoutMs) {
    if (m_nMaster < 0) return false;
    struct pollfd pfd = {m_nMaster, POLLIN, 0};
    if (poll(&pfd, 1, nTimeoutMs) < 0) return false;
    if ((pfd.revents & POLLIN) == 0) return (pfd.revents & (POLLHUP | POLLERR)) == 0;
    char byBuffer[4096];
    ssize_t nRead = read(m_nMaster, byBuffer, sizeof(byBuffer));
    if (nRead <= 0) return false;  // EIO: every slave descriptor is closed
    m_strOutput.append(byBuffer, static_cast<size_t>(nRead));
    return true;
  }
  bool Poll(int nSleepMs) {
    if (m_bEnded) return true;
    if (waitpid(m_nPid, &m_nStatus, WNOHANG) == m_nPid) return m_bEnded = true;
    usleep(static_cast<useconds_t>(nSleepMs) * 1000);
    return false;
  }

  int m_nMaster = -1;
  pid_t m_nPid = -1;
  bool m_bEnded = false;
  int m_nStatus = 0;
  std::string m_strOutput;
};

std::vector<std::string> Args(const CToolDir& tool, std::vector<std::string> vecArgs) {
  vecArgs.insert(vecArgs.begin(), tool.Program().u8string());
  return vecArgs;
}

// The client the updater starts is detached: it is reaped in TearDown.
class LauncherConsoleTest : public ::testing::Test {
 protected:
  LauncherConsoleTest() { AdoptOrphans(); }
  void TearDown() override { CollectOrphans(5000); }
};

TEST_F(LauncherConsoleTest, ShowsChineseInTheTerminalsEncodingAndWaitsForOneKeyWithoutEcho) {
  CToolDir tool;
  CTerminalChild child(tool.Program(), Args(tool, {}), tool.Path());
  ASSERT_TRUE(child.ReadUntil(u8"按任意键继续......", 10000)) << child.Output();
  usleep(300 * 1000);
  EXPECT_FALSE(child.HasEnded()) << "it must wait for a key";
  child.Type("x");
  ASSERT_TRUE(child.Wait(5000)) << "one key, no Enter, must end the wait";
  EXPECT_TRUE(child.ExitedWithZero());
  child.ReadRest();
  // The terminal turns "\n" into "\r\n"; the key is not echoed.
  EXPECT_EQ(u8"用法: Patchloom.exe *.pak 版本号(1.01)\r\n参数错误，按任意键退出...\r\n\r\n按任意键继续......",
            child.Output());
}

// A client pack with res\a.txt "old" and an update that changes it to "new!".
void WriteOneEntryUpdate(const CToolDir& tool) {
  CTestPack client("res");
  client.AddEntry("res\\a.txt", "old", "tag-1");
  client.AddTreeForEntries();
  client.WriteTo(tool.Path() / "clientres.pak");
  CTestPack update("res");
  update.AddEntry("res\\a.txt", "new!", "tag-2");
  update.WriteTo(tool.Path() / "update.pak");
}

TEST_F(LauncherConsoleTest, ClosingTheTerminalDoesNotStopTheUpdate) {
  CToolDir tool;
  WriteOneEntryUpdate(tool);

  CTerminalChild child(tool.Program(), Args(tool, {"update.pak", "1.02"}), tool.Path());
  ASSERT_TRUE(child.ReadUntil(u8"正在解压中....../", 10000)) << child.Output();
  child.CloseTerminal();
  ASSERT_TRUE(child.Wait(30000));
  EXPECT_TRUE(child.ExitedWithZero()) << "wait status " << child.Status();
  EXPECT_EQ("1.02", ReadFileBytes(tool.Path() / "version.ver"));
  CTestPack merged = CTestPack::ReadFrom(tool.Path() / "clientres.pak");
  ASSERT_NE(nullptr, merged.FindEntry("res\\a.txt"));
  EXPECT_EQ("new!", merged.StoredBytes(*merged.FindEntry("res\\a.txt")));
  EXPECT_TRUE(CToolDir::WaitForStarts(tool.Path(), 1));
}

TEST_F(LauncherConsoleTest, ReaderThatWentAwayDoesNotStopTheUpdate) {
  CToolDir tool;
  WriteOneEntryUpdate(tool);
  int nPipe[2];
  ASSERT_EQ(0, pipe(nPipe));
  close(nPipe[0]);  // as "Patchloom ... | head -c 0" once head has gone
  std::vector<std::string> vecArgs = Args(tool, {"update.pak", "1.02"});
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);
  const std::string strProgram = tool.Program().string();
  const std::string strDir = tool.Path().string();
  pid_t nChild = fork();
  if (nChild == 0) {
    int nNull = open("/dev/null", O_RDONLY);
    if (nNull < 0 || dup2(nNull, 0) < 0 || dup2(nPipe[1], 1) < 0 || chdir(strDir.c_str()) != 0) _exit(126);
    execv(strProgram.c_str(), vecArgv.data());
    _exit(127);
  }
  close(nPipe[1]);
  int nStatus = 0;
  ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
  EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "wait status " << nStatus;
  EXPECT_EQ("1.02", ReadFileBytes(tool.Path() / "version.ver"));
  EXPECT_TRUE(CToolDir::WaitForStarts(tool.Path(), 1));
}

// A merge that runs out of room while it writes its journal (the process's
// file-size limit standing in for a full disk: the write fails as it
// would there) reports the write's error, never 0, whatever its clean-up
// called afterwards, and leaves the client as it was.
TEST_F(LauncherConsoleTest, AMergeThatRunsOutOfRoomReportsWhy) {
  CToolDir tool;
  WriteOneEntryUpdate(tool);
  const std::string strClient = ReadFileBytes(tool.Path() / "clientres.pak");
  CChildResult result;
  {
    CFileSizeLimit limit(100);  // less than the journal's header
    result = RunChild(tool.Program(), Args(tool, {"update.pak", "1.02"}), tool.Path(), 60000);
  }
  ASSERT_TRUE(result.bEnded);
  const std::string strEnd = MergeFailed(ERROR_FILE_TOO_LARGE) + PressAnyKey();
  ASSERT_GE(result.strOutput.size(), strEnd.size());
  EXPECT_EQ(strEnd, result.strOutput.substr(result.strOutput.size() - strEnd.size()));
  EXPECT_EQ(strClient, ReadFileBytes(tool.Path() / "clientres.pak"));
  EXPECT_FALSE(fs::exists(tool.Path() / "clientres.pak.journal"));
  EXPECT_FALSE(fs::exists(tool.Path() / "version.ver"));
}

// The snapshot entry of process dwId, or an entry with dwSize 0.
PROCESSENTRY32 FindProcess(DWORD dwId) {
  PROCESSENTRY32 found = {};
  CScopedHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL bMore = Process32First(hSnapshot.Get(), &entry); bMore; bMore = Process32Next(hSnapshot.Get(), &entry)) {
    if (entry.th32ProcessID == dwId) found = entry;
  }
  return found;
}

class ProcessPosixTest : public ::testing::Test {
 protected:
  ProcessPosixTest() {
    fs::copy_file(Utf8Path(STANDIN_EXE), m_dir.Path() / CToolDir::kClientName);
    AdoptOrphans();
  }
  void TearDown() override { CollectOrphans(5000); }
  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(ProcessPosixTest, ScriptIsNamedByItsFileNotItsInterpreter) {
  fs::rename(m_dir.Path() / CToolDir::kClientName, m_dir.Path() / "interpreter");
  const fs::path script = m_dir.Path() / CToolDir::kClientName;
  WriteFileBytes(script, "#!" + (m_dir.Path() / "interpreter").string() + " --stay\n");
  fs::permissions(script, fs::perms::owner_all);
  CChildProcess child(script, {CToolDir::kClientName}, m_dir.Path());
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));
  EXPECT_STREQ("Veshmarkland.exe", FindProcess(child.Id()).szExeFile);
  EXPECT_NE(0, KillProcessByName("Veshmarkland.exe"));
  EXPECT_TRUE(child.Wait(5000));
}

TEST_F(ProcessPosixTest, ProcessWeMayNotSignalCannotBeOpened) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(nullptr, OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become an unprivileged user";
  CChildProcess client(m_dir.Path() / CToolDir::kClientName, {CToolDir::kClientName, "--stay"}, m_dir.Path());
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));
  const pid_t nTarget = static_cast<pid_t>(client.Id());
  pid_t nChild = fork();
  if (nChild == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(nTarget));
    if (hProcess != nullptr || GetLastError() != ERROR_ACCESS_DENIED) _exit(11);
    // The name is still found (from the command line) but the walk stops.
    _exit(KillProcessByName("Veshmarkland.exe") == 0 ? 0 : 12);
  }
  int nStatus = 0;
  ASSERT_EQ(nChild, waitpid(nChild, &nStatus, 0));
  ASSERT_TRUE(WIFEXITED(nStatus));
  EXPECT_EQ(0, WEXITSTATUS(nStatus));
  EXPECT_FALSE(client.Wait(200)) << "the client must still run";
}

TEST_F(ProcessPosixTest, WinExecDetachesTheProgramWithDefaultSignals) {
  fs::current_path(m_dir.Path());
  // As after DisableConsoleClose: the started client must not inherit it.
  struct sigaction ignore = {};
  struct sigaction saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &ignore, &saved);
  UINT nResult = WinExec("Veshmarkland.exe --stay", SW_SHOW);
  sigaction(SIGHUP, &saved, nullptr);
  ASSERT_GT(nResult, 31u);
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));

  DWORD dwId = 0;
  {
    CScopedHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32First(hSnapshot.Get(), &entry); bMore; bMore = Process32Next(hSnapshot.Get(), &entry)) {
      if (std::strcmp(entry.szExeFile, "Veshmarkland.exe") == 0) dwId = entry.th32ProcessID;
    }
  }
  ASSERT_NE(0u, dwId);
  const pid_t nPid = static_cast<pid_t>(dwId);
  EXPECT_NE(getsid(0), getsid(nPid)) << "a hang-up of our terminal must not reach it";
  std::ifstream status("/proc/" + std::to_string(nPid) + "/status");
  std::string strLine;
  while (std::getline(status, strLine) && strLine.rfind("SigIgn:", 0) != 0) {
  }
  ASSERT_EQ(0u, strLine.rfind("SigIgn:", 0));
  unsigned long long nIgnored = std::strtoull(strLine.c_str() + 7, nullptr, 16);
  EXPECT_EQ(0u, nIgnored & (1ULL << (SIGHUP - 1))) << "SIGHUP must not stay ignored";
  EXPECT_NE(0, KillProcessByName("Veshmarkland.exe"));
}

}  // namespace
