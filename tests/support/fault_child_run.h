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
const char* const kFaultModes[] = {"fail", "fail-onward", "stop", "stop-torn", "power-cut", "power-cut-torn"};

inline bool IsFailMode(const std::string& strMode) { return strMode.compare(0, 4, "fail") == 0; }

struct CFaultChildRun {
  bool bEnded = false;
  int nExitCode = -1;
  int nResult = -1;
  unsigned long nError = 0;
  unsigned nPoints = 0;
  unsigned nFlushes = 0;
  unsigned nSyncs = 0;
};

// Runs pszChild in workDir with MODE, POINT and the operation's arguments.
inline CFaultChildRun RunFaultChild(const char* pszChild, const std::filesystem::path& workDir,
                                    const std::string& strMode, uint32_t nPoint,
                                    const std::vector<std::string>& vecOpArgs) {
  std::vector<std::string> vecArgs = {"merge_fault_child", strMode, std::to_string(nPoint)};
  vecArgs.insert(vecArgs.end(), vecOpArgs.begin(), vecOpArgs.end());
  const CChildResult result = RunChild(pszChild, vecArgs, workDir, 60000);
  CFaultChildRun run;
  run.bEnded = result.bEnded;
  run.nExitCode = result.nExitCode;
  std::sscanf(result.strOutput.c_str(), "result %d error %lu points %u flushes %u syncs %u", &run.nResult,
              &run.nError, &run.nPoints, &run.nFlushes, &run.nSyncs);
  return run;
}

// A failing call fails the whole operation, which returns; any other mode
// ends the child where it acted.
inline void ExpectFaultExit(const CFaultChildRun& run, const std::string& strMode) {
  ASSERT_TRUE(run.bEnded);
  if (IsFailMode(strMode)) {
    EXPECT_EQ(0, run.nExitCode);
    EXPECT_EQ(0, run.nResult) << "a failed call must fail the whole operation";
    EXPECT_EQ(static_cast<unsigned long>(ERROR_WRITE_FAULT), run.nError);
  } else {
    EXPECT_EQ(kFaultExitCode, run.nExitCode) << "the child did not stop";
  }
}
