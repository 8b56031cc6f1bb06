// Runs the crash tests' child process (merge_fault_child) and reads what it
// printed, and what its exit must be for the fault mode it ran in.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fault_inject.h"
#include "platform/win32.h"
#include "tests/support/child_process.h"

// The modes that interrupt an operation, by the child's names for them.
const char* const kFaultModes[] = {"fail",      "fail-onward", "disk-full",     "stop",
                                   "stop-torn", "power-cut",   "power-cut-torn"};

// The modes in which calls fail and the operation returns, rather than the
// process stopping.
inline bool IsFailMode(const std::string& strMode) {
  return strMode.compare(0, 4, "fail") == 0 || strMode == "disk-full";
}

// A disk that fills up at a point fails what needs space after it; an
// operation that needs none after that point succeeds.
inline bool IsDiskFullMode(const std::string& strMode) { return strMode == "disk-full"; }

struct CFaultChildRun {
  bool bEnded = false;
  int nExitCode = -1;
  int nResult = -1;
  unsigned long nError = 0;
  unsigned nPoints = 0;
  unsigned nFlushes = 0;
  unsigned nSyncs = 0;
};

// Runs child in workDir with MODE, POINT and the operation's arguments.
inline CFaultChildRun RunFaultChild(const std::filesystem::path& child, const std::filesystem::path& workDir,
                                    const std::string& strMode, uint32_t nPoint,
                                    const std::vector<std::string>& vecOpArgs) {
  std::vector<std::string> vecArgs = {"merge_fault_child", strMode, std::to_string(nPoint)};
  vecArgs.insert(vecArgs.end(), vecOpArgs.begin(), vecOpArgs.end());
  const CChildResult result = RunChild(child, vecArgs, workDir, 60000);
  CFaultChildRun run;
  run.bEnded = result.bEnded;
  run.nExitCode = result.nExitCode;
  std::sscanf(result.strOutput.c_str(), "result %d error %lu points %u flushes %u syncs %u", &run.nResult, &run.nError,
              &run.nPoints, &run.nFlushes, &run.nSyncs);
  return run;
}

// The error an operation that failed in a disk-full run reports: the full
// disk, whatever its clean-up did afterwards.
inline void ExpectDiskFullError(const CFaultChildRun& run) {
  if (run.nResult != 0) return;
  EXPECT_TRUE(run.nError == ERROR_DISK_FULL || run.nError == ERROR_HANDLE_DISK_FULL)
      << "the operation failed with error " << run.nError << ", not with the full disk";
}

// A failing call fails the whole operation, which returns with the call's
// error; a full disk fails it too when it needs space after the point; any
// other mode ends the child where it acted.
inline void ExpectFaultExit(const CFaultChildRun& run, const std::string& strMode) {
  ASSERT_TRUE(run.bEnded);
  if (IsDiskFullMode(strMode)) {
    EXPECT_EQ(0, run.nExitCode);
    ExpectDiskFullError(run);
  } else if (IsFailMode(strMode)) {
    EXPECT_EQ(0, run.nExitCode);
    EXPECT_EQ(0, run.nResult) << "a failed call must fail the whole operation";
    EXPECT_EQ(static_cast<unsigned long>(ERROR_WRITE_FAULT), run.nError);
  } else {
    EXPECT_EQ(kFaultExitCode, run.nExitCode) << "the child did not stop";
  }
}
