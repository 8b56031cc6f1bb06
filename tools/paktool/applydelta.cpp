// paktool apply-delta DELTA --client CLIENT -o UPDATE: the full update a
// delta update was made from, rebuilt against the client it was made for,
// as a player's updater rebuilds it, for the publisher to inspect.
#include <memory>

#include "platform/file_io.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/paktool/build.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CApplyDeltaOptions {
  std::string strDelta;
  std::string strClient;
  std::string strOutput;
};

std::string FaultText(const CDeltaOutcome& outcome, const std::string& strClient) {
  switch (outcome.eFault) {
    case DeltaFault::kDamaged:
      return outcome.strName.empty()
                 ? "a damaged delta: " + outcome.strWhy
                 : "a damaged delta: entry \"" + ShownName(outcome.strName) + "\" does not give its recorded bytes";
    case DeltaFault::kBase:
      return strClient + "'s entry \"" + ShownName(outcome.strName) +
             "\" is not the one the delta was made against (a damaged client, or another release)";
    case DeltaFault::kNone:
    case DeltaFault::kSystem:
      break;
  }
  return std::string();
}

int RunApplyDelta(const CApplyDeltaOptions& options) {
  CBuildTarget target;
  if (!MakeBuildTarget(options.strOutput, target)) return UsageError("apply-delta", "-o needs a file name before .pak");
  std::string strDelta;
  if (!ReadWholeFile(ArgPath(options.strDelta).c_str(), strDelta)) {
    ReportError(options.strDelta, GetLastError());
    return kExitFailure;
  }
  const std::unique_ptr<CPackFile> pClient = OpenPack(PackArg(options.strClient));
  if (!pClient) return kExitFailure;
  CPackFile writer;
  CDeltaOutcome outcome;
  bool bRebuilt = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("rebuilding " + ShortName(target.strShown, 40));
    bRebuilt = writer.RebuildDeltaUpdate(reinterpret_cast<const unsigned char*>(strDelta.data()), strDelta.size(),
                                         *pClient, target.strDir.c_str(),
                                         target.strFileName.empty() ? nullptr : target.strFileName.c_str(), outcome);
    dwError = GetLastError();
  }
  if (!bRebuilt) {
    const std::string strWhy = FaultText(outcome, options.strClient);
    ReportFailure(strWhy.empty() ? target.strShown : options.strDelta, strWhy.empty() ? ErrorText(dwError) : strWhy);
    return kExitFailure;
  }
  uint64_t qwSize = 0;
  FileSize(TargetPath(target, pClient->ReleaseRoot()), qwSize);
  PrintLine("wrote " + target.strShown + ": the full update, plain, " + std::to_string(qwSize) + " bytes");
  return kExitOk;
}

}  // namespace

CCommand AddApplyDeltaCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CApplyDeltaOptions>();
  CLI::App* pSub = app.add_subcommand("apply-delta", "Rebuild the full update from a delta update and its client.");
  pSub->add_option("DELTA", pOptions->strDelta, "the delta update ('paktool diff --delta')")
      ->required()
      ->type_name("FILE");
  pSub->add_option("-c,--client", pOptions->strClient, "the client pack the delta was made for (read only)")
      ->required()
      ->type_name("PACK");
  pSub->add_option("-o,--output", pOptions->strOutput, "the update pack to write")->required()->type_name("FILE");
  pSub->footer(
      "Applies each patch of DELTA to CLIENT's entry of its name and decodes each\n"
      "whole entry, checking every entry's bytes against the MD5 DELTA records for\n"
      "it (and each patch's base against its recorded size and MD5), and writes the\n"
      "plain update 'paktool diff' writes for the same releases without -z. Nothing\n"
      "is written when an entry does not check out: the client's entry is not the\n"
      "base the delta was made against (a damaged client, or another release), or\n"
      "the delta is damaged.");
  return {pSub, [pOptions] { return RunApplyDelta(*pOptions); }};
}

}  // namespace paktool
