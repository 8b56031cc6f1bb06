// Timing: a monotonic clock, child processes with their wall time and peak
// memory, and the best of several interleaved runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

// Seconds on a monotonic clock.
double Now();

struct CRun {
  double dSeconds = 0;     // wall time from fork to exit
  long nMaxRssKiB = 0;     // the child's ru_maxrss
  bool bOk = false;        // exited with status 0
};

// Runs a program (found on PATH) with its standard output on strStdout and
// its standard error on the bench's, in strDir when given, through a fresh
// copy of this program (see RunSpawner). Throws when the program cannot be
// started.
CRun RunChild(const std::vector<std::string>& vecArgs, const std::string& strStdout = "/dev/null",
              const std::string& strDir = std::string());

// The spawner: "spawn STDOUT DIR PROGRAM ARGS..." runs the program as
// RunChild describes and writes its seconds, peak memory (KiB) and exit
// status to descriptor 3.
int RunSpawner(int argc, char** argv);

// Like RunChild, but a failure throws: the benchmark cannot go on.
CRun RunChecked(const std::vector<std::string>& vecArgs, const std::string& strStdout = "/dev/null",
                const std::string& strDir = std::string());

// Writes back every dirty page, so that one measurement does not pay for
// the writes of the step before it.
void SyncAll();

// The fastest of nReps runs of each contender, run in turns (A B C A B C
// ...), so that a burst of load on the shared machine hits all alike; the
// peak memory is the largest of a contender's runs. Each function prepares
// untimed, then returns what it measured.
std::vector<CRun> BestOf(int nReps, const std::vector<std::function<CRun()>>& vecContenders);

// Times fn in this process.
CRun TimeHere(const std::function<void()>& fn);

}  // namespace bench
