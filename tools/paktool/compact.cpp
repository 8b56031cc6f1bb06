// paktool compact PACK [--if-holes PERCENT]: the library's compaction, which
// rewrites a pack without the holes merges leave in its data area.
#include <cstdio>
#include <memory>

#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CCompactOptions {
  std::string strPack;
  double dIfHoles = -1;  // percent; below 0: compact whatever the holes
};

std::string Percent(double dShare) {
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.1f%%", dShare * 100);
  return szText;
}

int RunCompact(const CCompactOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  uint64_t qwBefore = 0;
  double dHoles = 0;
  {
    const std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
    if (!pPack) return kExitFailure;
    dHoles = pPack->GetHoleShare();
  }
  FileSize(packArg.strPath, qwBefore);
  if (options.dIfHoles >= 0 && dHoles * 100 <= options.dIfHoles) {
    PrintLine(packArg.strShown + ": " + Percent(dHoles) + " of " + std::to_string(qwBefore) +
              " bytes in holes, not over " + Percent(options.dIfHoles / 100) + ": left as it is");
    return kExitOk;
  }
  bool bCompacted = false;
  DWORD dwError = ERROR_SUCCESS;
  std::string strRefusal;
  {
    CSpinner spinner("compacting " + ShortName(packArg.strShown, 50));
    CRealizePack realizePack;
    bCompacted = realizePack.CompactPack(packArg.strPath.c_str());
    dwError = GetLastError();
    strRefusal = realizePack.GetCompactRefusal();
  }
  if (!bCompacted) {
    ReportFailure("cannot compact " + packArg.strShown,
                  strRefusal.empty() ? ErrorText(dwError) : ShownName(strRefusal) + " (" + ErrorText(dwError) + ")");
    return kExitFailure;
  }
  uint64_t qwAfter = 0;
  FileSize(packArg.strPath, qwAfter);
  PrintLine(packArg.strShown + ": compacted from " + std::to_string(qwBefore) + " to " + std::to_string(qwAfter) +
            " bytes (" + Percent(dHoles) + " in holes)");
  return kExitOk;
}

}  // namespace

CCommand AddCompactCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CCompactOptions>();
  CLI::App* pSub = app.add_subcommand("compact", "Rewrite a pack without the holes merges left in it.");
  pSub->add_option("PACK", pOptions->strPack, "the pack, replaced by its compacted form")->required()->type_name("FILE");
  pSub->add_option("--if-holes", pOptions->dIfHoles, "compact only when holes are over PERCENT of the file")
      ->type_name("PERCENT")
      ->check(CLI::Range(0.0, 100.0));
  pSub->footer(
      "Every entry keeps its stored bytes, in the order they lie in the pack; they\n"
      "are moved together, and the index, the directory table and an empty free\n"
      "list follow them. The new pack is written beside PACK (PACK.compact.new) and\n"
      "moved over it once complete, so PACK is never left half written. A pack that\n"
      "fails 'paktool verify', or whose disk has no room for the new pack beside it,\n"
      "is left as it is. Prints the sizes before and after; 'paktool info' shows\n"
      "the holes.");
  return {pSub, [pOptions] { return RunCompact(*pOptions); }};
}

}  // namespace paktool
