// Patchloom: applies an update pack to the game client in the tool's own
// directory. Stops the client, merges the update into clientres.pak
// (compacting it when merges left much of it in holes), records the new
// version and starts the client again. Exits with 0 in every case:
// the callers that start it rely on that.
//
//   Patchloom update.pak [version]
#include <string>
#include <vector>

#include "launcher/messages.h"
#include "launcher/processcontrol.h"
#include "launcher/updatedriver.h"
#include "launcher/updatekey.h"
#include "launcher/updatetrust.h"
#include "platform/args.h"
#include "platform/console.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

const char kClientImage[] = "Veshmarkland.exe";
const char kHelperImage[] = "Grumvel.exe";
const int kStopPasses = 40;
const DWORD kPassMilliseconds = 100;

void WaitForKey() {
  ConsolePrintf("%s", kMsgPressAnyKey);
  ConsoleWaitKey();
}

void ReportOpenFailure(const char* pszPath, DWORD dwError) {
  ConsolePrintf(kMsgOpenFailed, pszPath, static_cast<int>(dwError));
  WaitForKey();
}

void ReportMergeFailure(DWORD dwError) {
  ConsolePrintf(kMsgMergeFailed, static_cast<int>(dwError));
  WaitForKey();
}

// With keys built in, an update is merged only when it is signed with the
// one its statement names, for the version the command line names, for the
// installed version and release (updatetrust.h). Its bytes are copied where
// no other process can change them before they are digested, and the merge
// reads that copy, so what was checked is merged; checked keeps what was
// signed. Returns 0 to go ahead, else the code to report.
DWORD CheckUpdate(const CUpdatePaths& paths, const char* pszVersion, bool& bHeld, CCheckedUpdate& checked) {
  std::vector<PackPublicKey> vecKeys;
  switch (GetUpdateKeys(vecKeys)) {
    case UpdateKeyState::kNone:
      bHeld = false;
      return ERROR_SUCCESS;
    case UpdateKeyState::kDamaged:
      return static_cast<DWORD>(UpdateRefusal::kDamagedKey);
    case UpdateKeyState::kKey:
      break;
  }
  bHeld = true;
  return CheckSignedUpdate(g_realizePack, paths.szUpdatePack, paths.szToolDir, pszVersion, InstalledVersion(), vecKeys,
                           paths.szClientPack, paths.szToolDir, checked);
}

// Merges the update: a checked one as its statement says (removals
// included) and only when the client then holds the release it promises.
// Returns 0, or the code to report.
DWORD Merge(const CUpdatePaths& paths, bool bHeld, const CCheckedUpdate& checked) {
  if (!bHeld) {
    return g_realizePack.MergePack(paths.szUpdatePack, paths.szClientPack) != 0 ? ERROR_SUCCESS : GetLastError();
  }
  return MergeCheckedUpdate(g_realizePack, checked, paths.szClientPack, paths.szToolDir);
}

// Stops the client in each of 40 passes of 100 ms, not once: a client that
// something restarts during the wait is caught again.
void StopClient() {
  static const char kSpinner[4] = {'|', '/', '-', '\\'};  // pass 1 shows '/'
  for (int nPass = 1; nPass <= kStopPasses; ++nPass) {
    ConsolePrintf(kMsgUnpacking, kSpinner[nPass % 4]);
    KillProcessByName(kClientImage);
    KillProcessByName(kHelperImage);
    Sleep(kPassMilliseconds);
  }
}

// Started by name from the tool's directory, without waiting for it.
void StartClient(const char* pszToolDir) {
  SetCurrentDirectoryA(pszToolDir);
  WinExec(kClientImage, SW_SHOW);
}

void RunUpdate(const std::vector<std::string>& vecArgs) {
  const char* pszUpdateArg = vecArgs[1].c_str();
  const char* pszVersion = vecArgs.size() > 2 ? vecArgs[2].c_str() : nullptr;
  DisableConsoleClose();
  ConsolePrintf(kMsgCommandLine, vecArgs[0].c_str(), pszUpdateArg);
  if (pszVersion != nullptr) ConsolePrintf(kMsgVersion, pszVersion);

  CUpdatePaths paths;
  if (!ResolveUpdatePaths(pszUpdateArg, paths)) {
    // No path could be formed: name the argument as given.
    ReportOpenFailure(pszUpdateArg, GetLastError());
    return;
  }
  // A run cut off in its merge left the client half merged: it is put back
  // before anything below can refuse this run and leave it so.
  g_realizePack.RecoverPack(paths.szClientPack);
  if (!FileExists(paths.szUpdatePack)) {
    ReportOpenFailure(paths.szUpdatePack, GetLastError());
    return;
  }
  bool bHeld = false;
  CCheckedUpdate checked;
  const DWORD dwRefusal = CheckUpdate(paths, pszVersion, bHeld, checked);
  if (dwRefusal != ERROR_SUCCESS) {
    ReportMergeFailure(dwRefusal);  // before any process is stopped or anything written
    return;
  }
  AfterUpdateCheck(paths);
  StopClient();
  ConsolePrintf("%s", kMsgChecking);
  // Loose files of the update belong to the client installation: they go
  // below the tool's directory wherever the player started the tool from.
  SetCurrentDirectoryA(paths.szToolDir);
  const DWORD dwMerge = Merge(paths, bHeld, checked);
  if (dwMerge != ERROR_SUCCESS) {
    ReportMergeFailure(dwMerge);
    return;
  }
  // A failed compaction leaves the merged pack as it is: the update went through.
  CompactClientPack(paths.szClientPack);
  // An unrecorded version would have the same update merged again next time.
  if (pszVersion != nullptr && pszVersion[0] != '\0' && !WriteVersionFile(pszVersion)) {
    ReportMergeFailure(GetLastError());
    return;
  }
  StartClient(paths.szToolDir);
  ConsolePrintf("%s", kMsgStarted);
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    std::vector<std::string> vecArgs = GetProgramArgs(argc, argv);
    // Argument 1 is the update pack's path. Argument 0 is shown as typed and
    // argument 2 is stored byte for byte, so neither is touched.
    TakeArgAsPath(vecArgs, 1);
    if (vecArgs.size() < 2) {
      ConsolePrintf("%s", kMsgUsage);
      ConsolePrintf("%s", kMsgBadArguments);
      WaitForKey();
      return 0;
    }
    RunUpdate(vecArgs);
  } catch (...) {
    // Out of memory for the arguments: nothing sensible to print.
  }
  return 0;
}
