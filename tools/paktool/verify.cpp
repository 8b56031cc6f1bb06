// paktool verify PACK: every rule of the format checked and every entry
// decoded by the library's VerifyPack; each problem is one line of output.
#include <vector>

#include "tools/filepacktools_lib/packverify.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CVerifyOptions {
  std::string strPack;
};

int RunVerify(const CVerifyOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  std::vector<std::string> vecProblems;
  bool bRead = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CStepProgress progress("verifying");
    bRead = VerifyPack(packArg.strPath.c_str(), vecProblems,
                       [&progress](size_t nDone, size_t nTotal) { progress.Step(nDone, nTotal); });
    dwError = GetLastError();
  }
  for (const std::string& strProblem : vecProblems) PrintLine(packArg.strShown + ": " + ShownName(strProblem));
  if (!bRead) {
    ReportError(packArg.strShown, dwError);
    return kExitFailure;
  }
  if (!vecProblems.empty()) {
    ReportFailure(packArg.strShown, std::to_string(vecProblems.size()) +
                                        (vecProblems.size() == 1 ? " problem found" : " problems found"));
    return kExitFailure;
  }
  PrintLine(packArg.strShown + ": OK");
  return kExitOk;
}

}  // namespace

CCommand AddVerifyCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CVerifyOptions>();
  CLI::App* pSub = app.add_subcommand("verify", "Check every rule of the pack format and decode every entry.");
  pSub->add_option("PACK", pOptions->strPack, "the pack (read only, never changed)")->required()->type_name("FILE");
  pSub->footer(
      "Checks that the header's regions lie inside the file and the file ends at the\n"
      "end of the free list; that every entry and free block lies inside the data\n"
      "area without overlapping another; that entry names are unique, safe and\n"
      "begin with the root name; that the directory table agrees with the index;\n"
      "and that every entry decodes (compressed pack) or has equal sizes (plain).\n"
      "Each problem is printed as a line 'PACK: problem' on standard output; the\n"
      "exit status is 1 when there is any, 0 when the line 'PACK: OK' is printed.");
  return {pSub, [pOptions] { return RunVerify(*pOptions); }};
}

}  // namespace paktool
