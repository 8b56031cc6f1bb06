// A merge, or an open, with fault injection armed: the child process of the
// crash tests, so that a stop at any point ends a process of its own.
//
//   merge_fault_child MODE POINT UPDATE CLIENT   merge UPDATE into CLIENT
//   merge_fault_child MODE POINT --open CLIENT   open CLIENT (restoring it)
//
// MODE is count, fail, fail-onward, stop, stop-torn, power-cut or
// power-cut-torn; POINT the 1-based point it acts on. Loose files go below
// the current directory. Prints "result R error E points P" and exits with 0
// when the call returned; a stop ends the process with kFaultExitCode.
// PATCHLOOM_MERGE_WORKERS, when set, is the merge's worker count.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/args.h"
#include "platform/faultinject.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

bool ParseMode(const std::string& strMode, FaultMode& eMode) {
  static const struct {
    const char* pszName;
    FaultMode eMode;
  } kModes[] = {{"count", FaultMode::kCount},         {"fail", FaultMode::kFail},
                {"fail-onward", FaultMode::kFailOnward}, {"stop", FaultMode::kStop},
                {"stop-torn", FaultMode::kStopTorn},   {"power-cut", FaultMode::kPowerCut},
                {"power-cut-torn", FaultMode::kPowerCutTorn}};
  for (const auto& mode : kModes) {
    if (strMode == mode.pszName) {
      eMode = mode.eMode;
      return true;
    }
  }
  return false;
}

int Run(const std::vector<std::string>& vecArgs) {
  if (vecArgs[3] == "--open") {
    CPackFile pack;
    return pack.Open(vecArgs[4]) ? 1 : 0;
  }
  CRealizePack realize;
  if (const char* pszWorkers = std::getenv("PATCHLOOM_MERGE_WORKERS")) realize.SetMergeWorkers(std::atoi(pszWorkers));
  return realize.MergePack(vecArgs[3].c_str(), vecArgs[4].c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> vecArgs = GetProgramArgs(argc, argv);
  FaultMode eMode = FaultMode::kCount;
  if (vecArgs.size() != 5 || !ParseMode(vecArgs[1], eMode)) {
    std::fprintf(stderr, "usage: merge_fault_child MODE POINT (UPDATE|--open) CLIENT\n");
    return 2;
  }
  TakeArgAsPath(vecArgs, 3);
  TakeArgAsPath(vecArgs, 4);
  FaultInjectArm(eMode, static_cast<uint32_t>(std::strtoul(vecArgs[2].c_str(), nullptr, 10)));
  int nResult = 0;
  try {
    nResult = Run(vecArgs);
  } catch (const CFaultStop&) {
    FaultInjectStop();
  }
  const DWORD dwError = GetLastError();
  const uint32_t nPoints = FaultInjectPoints();
  FaultInjectDisarm();
  std::printf("result %d error %lu points %u\n", nResult, static_cast<unsigned long>(dwError), nPoints);
  return 0;
}
