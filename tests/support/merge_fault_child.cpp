// A merge, an open, a compaction, a build or a version.ver write with
// fault injection armed: the child process of the crash tests, so that a
// stop at any point ends a process of its own.
//
//   merge_fault_child MODE POINT UPDATE CLIENT   merge UPDATE into CLIENT
//   merge_fault_child MODE POINT --open CLIENT   open CLIENT (restoring it)
//   merge_fault_child MODE POINT --compact PACK  compact PACK
//   merge_fault_child MODE POINT --build ROOT OUT
//       build OUT\<root name>.pak from the files below ROOT, deleting them
//   merge_fault_child MODE POINT --version DIR TEXT
//       write TEXT as DIR\version.ver (WriteVersionFile)
//   merge_fault_child MODE POINT --merge-version UPDATE CLIENT DIR TEXT
//       merge as the updater does, then on success write version.ver
//   merge_fault_child MODE POINT --merge-delta DELTA CLIENT
//       merge a delta update (rebuilt against CLIENT first)
//   merge_fault_child MODE POINT --merge-update UPDATE CLIENT NAMES
//       merge a release update removing the entries NAMES lists (separated
//       by ';'), keeping the client's record of loose files
//   merge_fault_child MODE POINT --extract PACK
//       open PACK for reading and extract its root directory into the
//       current directory (a reader of the pack)
//
// MODE is count, fail, fail-onward, stop, stop-torn, power-cut or
// power-cut-torn; POINT the 1-based point it acts on. Loose files go below
// the current directory. Prints "result R error E points P flushes F syncs
// S" and exits with 0 when the call returned; a stop ends the process with
// kFaultExitCode, and so does a power-cut mode whose point came after the
// last: the power is cut once the call returned.
// PATCHLOOM_MERGE_WORKERS, when set, is the merge's worker count;
// PATCHLOOM_LOCK_WAIT, when set, how long a merge waits for the pack's
// readers (milliseconds).
//
// MODE "pause" runs the operation holding still at POINT: it creates the
// file "paused" in the current directory and waits until "resume" appears
// there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "launcher/updatedriver.h"
#include "platform/args.h"
#include "platform/fault_inject.h"
#include "platform/file_io.h"
#include "tests/support/fault_modes.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

// The number of arguments after MODE and POINT, the operation's included.
size_t ArgCount(const std::string& strOp) {
  if (strOp == "--open" || strOp == "--extract") return 2;
  if (strOp == "--build" || strOp == "--version") return 3;
  if (strOp == "--merge-version") return 5;
  if (strOp == "--merge-update") return 4;
  if (strOp == "--merge-delta") return 3;
  return 2;  // UPDATE CLIENT
}

bool SetExeDir(const std::string& strDir) {
  if (strDir.size() >= MAX_PATH) return false;
  std::memset(g_szExeDir, 0, sizeof(g_szExeDir));
  std::memcpy(g_szExeDir, strDir.data(), strDir.size());
  return true;
}

int Run(const std::vector<std::string>& vecArgs) {
  const std::string& strOp = vecArgs[3];
  if (strOp == "--open") {
    CPackFile pack;
    return pack.Open(vecArgs[4]) ? 1 : 0;
  }
  if (strOp == "--build") {
    CPackFile pack;
    pack.SetRootPath(vecArgs[4].c_str());
    pack.CollectFiles(vecArgs[4].c_str());
    return pack.CreatePack(vecArgs[4].c_str(), vecArgs[5].c_str(), false, nullptr, nullptr, true) ? 1 : 0;
  }
  if (strOp == "--version") return SetExeDir(vecArgs[4]) && WriteVersionFile(vecArgs[5].c_str()) ? 1 : 0;
  if (strOp == "--extract") {
    CPackFile pack;
    if (!pack.OpenForReading(vecArgs[4])) return 0;
    return pack.ExtractPath(pack.GetRootName(), 1, "unused");
  }
  CRealizePack realize;
  if (const char* pszWorkers = std::getenv("PATCHLOOM_MERGE_WORKERS")) realize.SetMergeWorkers(std::atoi(pszWorkers));
  if (const char* pszWait = std::getenv("PATCHLOOM_LOCK_WAIT")) realize.SetLockWait(std::strtoul(pszWait, nullptr, 10));
  if (strOp == "--merge-version") {
    if (realize.MergePack(vecArgs[4].c_str(), vecArgs[5].c_str()) == 0) return 0;
    return SetExeDir(vecArgs[6]) && WriteVersionFile(vecArgs[7].c_str()) ? 1 : 0;
  }
  if (strOp == "--compact") return realize.CompactPack(vecArgs[4].c_str()) ? 1 : 0;
  if (strOp == "--merge-delta") {
    std::string strDelta;
    CDeltaOutcome outcome;
    if (!ReadWholeFile(vecArgs[4].c_str(), strDelta)) return 0;
    return realize.MergeDeltaUpdate(reinterpret_cast<const unsigned char*>(strDelta.data()), strDelta.size(),
                                    vecArgs[5].c_str(), CUpdateRemovals(), outcome);
  }
  if (strOp == "--merge-update") {
    CUpdateRemovals removals;
    for (size_t nStart = 0; nStart < vecArgs[6].size();) {
      const size_t nEnd = std::min(vecArgs[6].find(';', nStart), vecArgs[6].size());
      removals.vecNames.push_back(vecArgs[6].substr(nStart, nEnd - nStart));
      nStart = nEnd + 1;
    }
    return realize.MergeUpdate(vecArgs[4].c_str(), vecArgs[5].c_str(), removals);
  }
  return realize.MergePack(vecArgs[3].c_str(), vecArgs[4].c_str());
}

// The directory the child started in: an extraction changes the current one.
std::filesystem::path g_startDir;

// Holds the operation still until the test lets it go on.
void Pause() {
  std::FILE* pMarker = std::fopen((g_startDir / "paused").string().c_str(), "w");
  if (pMarker != nullptr) std::fclose(pMarker);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(g_startDir / "resume") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  g_startDir = std::filesystem::current_path();
  std::vector<std::string> vecArgs = GetProgramArgs(argc, argv);
  FaultMode eMode = FaultMode::kCount;
  const bool bPause = vecArgs.size() > 1 && vecArgs[1] == "pause";
  if (vecArgs.size() < 5 || (!bPause && !ParseFaultMode(vecArgs[1], eMode)) ||
      vecArgs.size() != 3 + ArgCount(vecArgs[3])) {
    std::fprintf(stderr, "usage: merge_fault_child MODE POINT (UPDATE|--open|--build|...) ARGS...\n");
    return 2;
  }
  // Every argument after the operation is a path but a version's text.
  const bool bEndsWithText =
      vecArgs[3] == "--version" || vecArgs[3] == "--merge-version" || vecArgs[3] == "--merge-update";
  for (size_t i = 3; i + (bEndsWithText ? 1 : 0) < vecArgs.size(); ++i) {
    if (vecArgs[i].compare(0, 2, "--") != 0) TakeArgAsPath(vecArgs, i);
  }
  const uint32_t nPoint = static_cast<uint32_t>(std::strtoul(vecArgs[2].c_str(), nullptr, 10));
  FaultInjectArm(eMode, bPause ? 0 : nPoint);
  if (bPause) FaultInjectPauseAt(nPoint, Pause);
  int nResult = 0;
  try {
    nResult = Run(vecArgs);
  } catch (const CFaultStop&) {
    FaultInjectStop();
  }
  const DWORD dwError = GetLastError();
  std::printf("result %d error %lu points %u flushes %u syncs %u\n", nResult, static_cast<unsigned long>(dwError),
              FaultInjectPoints(), FaultInjectFlushes(), FaultInjectDirSyncs());
  std::fflush(stdout);
  if (IsPowerCutMode(eMode)) FaultInjectStop();
  FaultInjectDisarm();
  return 0;
}
