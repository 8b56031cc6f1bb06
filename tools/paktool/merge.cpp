// paktool merge UPDATE TARGET: the library's in-place merge of an update
// pack into a client pack, without the updater's process handling.
#include <memory>

#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CMergeOptions {
  std::string strUpdate;
  std::string strTarget;
  std::string strDir;
};

// Opens a pack once on its own, so that a pack that does not open is named
// in the report; the merge opens both again.
bool CanOpen(const CPackArg& pack) { return OpenPack(pack) != nullptr; }

int RunMerge(const CMergeOptions& options) {
  CPackArg update = PackArg(options.strUpdate);
  CPackArg target = PackArg(options.strTarget);
  // Loose files land below the current directory: resolve the packs first.
  update.strPath = AbsolutePath(update.strPath);
  target.strPath = AbsolutePath(target.strPath);
  if (!CanOpen(update) || !CanOpen(target)) return kExitFailure;

  CWorkingDirGuard guard;
  if (!options.strDir.empty() && !SetCurrentDirectoryA(ArgPath(options.strDir).c_str())) {
    ReportError(options.strDir, GetLastError());
    return kExitFailure;
  }
  int nMerged = 0;
  DWORD dwError = ERROR_SUCCESS;
  std::string strRefusal;
  {
    CSpinner spinner("merging " + ShortName(update.strShown, 30) + " into " + ShortName(target.strShown, 30));
    CRealizePack realizePack;
    nMerged = realizePack.MergePack(update.strPath.c_str(), target.strPath.c_str());
    dwError = GetLastError();
    strRefusal = realizePack.GetMergeRefusal();
  }
  if (nMerged != 1) {
    // The refusal names the entry and the rule; the error code alone cannot.
    ReportFailure("cannot merge " + update.strShown + " into " + target.strShown,
                  strRefusal.empty() ? ErrorText(dwError) : ShownName(strRefusal) + " (" + ErrorText(dwError) + ")");
    return kExitFailure;
  }
  PrintLine("merged " + update.strShown + " into " + target.strShown);
  return kExitOk;
}

}  // namespace

CCommand AddMergeCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CMergeOptions>();
  CLI::App* pSub = app.add_subcommand("merge", "Merge an update pack into a client pack in place.");
  pSub->add_option("UPDATE", pOptions->strUpdate, "the update pack")->required()->type_name("FILE");
  pSub->add_option("TARGET", pOptions->strTarget, "the client pack, changed in place")->required()->type_name("FILE");
  pSub->add_option("-C,--directory", pOptions->strDir, "write loose files below DIR (default: the current directory)")
      ->type_name("DIR");
  pSub->footer(
      "TARGET takes over every entry of UPDATE whose tag differs from its own entry\n"
      "of that name, or that it lacks. New entries whose first directory is not in\n"
      "TARGET are written as loose files below DIR, at their path without the root\n"
      "name. Nothing is written when either pack fails the merge's checks. Run\n"
      "'paktool verify TARGET' afterwards to check the result.");
  return {pSub, [pOptions] { return RunMerge(*pOptions); }};
}

}  // namespace paktool
