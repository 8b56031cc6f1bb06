// Child processes for tests: a program started with arguments in a working
// directory, standard input from the null device, standard output captured,
// and its exit code. Standard error is shared with the test, so a sanitizer
// report of the child shows in the test's output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class CChildProcess {
 public:
  // Starts program with vecArgs, argument 0 included (the caller chooses how
  // the program sees its own name), in workDir. Arguments are UTF-8. With
  // bWithStderr, standard error goes into the captured output too. Throws
  // std::runtime_error when the program cannot be started.
  CChildProcess(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                const std::filesystem::path& workDir, bool bWithStderr = false);
  // Kills the child if it still runs and collects it: a test that fails
  // half way leaves no process behind.
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  // Reads standard output to its end and waits for the child to end, for at
  // most nTimeoutMs. Returns false on timeout (the child still runs).
  bool Wait(int nTimeoutMs);

  // After a successful Wait: the exit code, or -1 when the child was ended
  // by a signal (POSIX). Everything the child wrote to standard output.
  int ExitCode() const { return m_nExitCode; }
  const std::string& Output() const { return m_strOutput; }
  // After a successful Wait: the child's peak memory (POSIX: its largest
  // resident set; Windows: its peak working set) in bytes, or 0 where the
  // system does not tell.
  uint64_t PeakMemoryBytes() const { return m_qwPeakMemory; }
  uint32_t Id() const { return m_dwId; }

 private:
  void Kill();

  uint32_t m_dwId = 0;
  intptr_t m_hProcess = -1;  // the process handle on Windows; unused on POSIX
  intptr_t m_hOutput = -1;   // read end of the output pipe (fd or handle)
  bool m_bEnded = false;
  int m_nExitCode = -1;
  std::string m_strOutput;
  uint64_t m_qwPeakMemory = 0;
};

struct CChildResult {
  bool bEnded = false;  // false: killed after the time-out
  int nExitCode = -1;
  std::string strOutput;
  uint64_t qwPeakMemory = 0;  // CChildProcess::PeakMemoryBytes
};

// Runs a program to its end (at most nTimeoutMs) and returns what it did.
CChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                      const std::filesystem::path& workDir, int nTimeoutMs = 60000, bool bWithStderr = false);

// Detached programs that the tested programs start (the updater starts the
// client so) are orphans: where the system allows it (Linux: a child
// subreaper) this makes the test process their parent, so that
// CollectOrphans can reap them and no ended process is left behind even
// where the system's first process does not reap. No-op elsewhere.
void AdoptOrphans();

// Reaps adopted orphans, waiting up to nTimeoutMs for those still running.
// It collects any child, so call it only while no CChildProcess is alive.
void CollectOrphans(int nTimeoutMs);
