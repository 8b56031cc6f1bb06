// paktool sign UPDATE --key PREFIX.key: writes UPDATE.sig, the signed
// statement 'paktool diff' left beside the update (UPDATE.statement); for a
// hand-made update without one, the statement of --version and --base.
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/packversion.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/signing.h"

namespace paktool {

namespace {

struct CSignOptions {
  std::string strPack;
  std::string strKey;
  std::string strVersion;
  std::string strBase;
  std::string strProduct = kPackProduct;
  const CLI::Option* pProduct = nullptr;
};

const char kTextRule[] = "1 to 64 printable ASCII characters without spaces";
const char kVersionRule[] = "a release version: dotted decimal numbers, at most 8 of at most 9 digits (1.02)";

// The statement to sign: the one beside the pack, whose values the command
// line may repeat but not change, or a hand-made one. Returns 0, or the exit
// status of a reported failure.
int TakeStatement(const CSignOptions& options, const CPackArg& packArg, PackStatement& statement, bool& bMade) {
  std::string strWhy;
  bMade = ReadPackStatement(packArg.strPath, statement, strWhy);
  if (!bMade && GetLastError() != ERROR_FILE_NOT_FOUND) {
    ReportFailure(PackStatementPath(packArg.strShown),
                  strWhy.empty() ? ErrorText(GetLastError()) : "not a statement: " + strWhy);
    return kExitFailure;
  }
  const bool bProductGiven = options.pProduct != nullptr && options.pProduct->count() > 0;
  if (bMade) {
    const std::pair<const char*, bool> clashes[] = {
        {"--version", !options.strVersion.empty() && options.strVersion != statement.strVersion},
        {"--base", !options.strBase.empty() && options.strBase != statement.strBase},
        {"--product", bProductGiven && options.strProduct != statement.strProduct},
    };
    for (const auto& clash : clashes) {
      if (clash.second) {
        return UsageError("sign", std::string(clash.first) + " differs from " + PackStatementPath(packArg.strShown) +
                                      ", which diff wrote for the update");
      }
    }
    return kExitOk;
  }
  if (options.strVersion.empty()) {
    return UsageError("sign", "--version is needed: " + PackStatementPath(packArg.strShown) + " does not exist");
  }
  if (!IsReleaseVersion(options.strVersion)) return UsageError("sign", std::string("--version: ") + kVersionRule);
  if (!options.strBase.empty() && options.strBase != kAnyBase && !IsReleaseVersion(options.strBase)) {
    return UsageError("sign", std::string("--base: 'any' or ") + kVersionRule);
  }
  if (!IsStatementText(options.strProduct)) return UsageError("sign", "--product: " + std::string(kTextRule));
  statement.strProduct = options.strProduct;
  statement.strVersion = options.strVersion;
  statement.strBase = options.strBase.empty() ? kAnyBase : options.strBase;
  return kExitOk;
}

// "version 1.02 of Veshmarkland for clients of 1.01, removing 2 entries"
std::string Summary(const PackStatement& statement) {
  std::string strText = "version " + statement.strVersion + " of " + statement.strProduct;
  if (statement.strBase == kAnyBase) {
    strText += statement.IsWholeRelease() ? ", a full update for any release" : " for clients of any version";
  } else {
    strText += " for clients of " + statement.strBase;
  }
  const size_t nRemoved = statement.vecRemove.size();
  if (nRemoved > 0) strText += ", removing " + std::to_string(nRemoved) + (nRemoved == 1 ? " entry" : " entries");
  return strText;
}

int RunSign(const CSignOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  PackStatement statement;
  bool bFromDiff = false;
  const int nStatus = TakeStatement(options, packArg, statement, bFromDiff);
  if (nStatus != kExitOk) return nStatus;
  PackSecretKey key;
  if (!LoadSecretKey(options.strKey, key)) return kExitFailure;
  // Only a sound pack is signed: a signature makes the updater trust it.
  std::vector<std::string> vecProblems;
  const bool bRead = CheckPackFormat(packArg, vecProblems);
  PrintProblems(packArg, vecProblems);
  if (!bRead) return kExitFailure;
  const size_t nProblems = vecProblems.size();
  if (nProblems > 0) {
    ReportFailure(packArg.strShown,
                  "not signed: " + std::to_string(nProblems) + (nProblems == 1 ? " problem found" : " problems found"));
    return kExitFailure;
  }
  const std::string strSigShown = PackSignaturePath(packArg.strShown);
  const bool bSigned =
      bFromDiff ? SignPackStatement(packArg.strPath, key, statement)
                : SignPack(packArg.strPath, key, statement.strVersion, statement.strProduct, statement.strBase);
  if (!bSigned) {
    const DWORD dwError = GetLastError();
    if (bFromDiff && dwError == ERROR_INVALID_DATA) {
      ReportFailure(packArg.strShown, "not signed: it changed since " + PackStatementPath(packArg.strShown) +
                                          " was written (run 'paktool diff' again)");
    } else {
      ReportError(strSigShown, dwError);
    }
    return kExitFailure;
  }
  PrintLine(strSigShown + ": signed " + Summary(statement));
  return kExitOk;
}

}  // namespace

CCommand AddSignCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CSignOptions>();
  CLI::App* pSub = app.add_subcommand("sign", "Sign an update pack: write UPDATE.sig beside it.");
  pSub->add_option("UPDATE", pOptions->strPack, "the update pack (read only, never changed)")
      ->required()
      ->type_name("FILE");
  pSub->add_option("-k,--key", pOptions->strKey, "the secret key (PREFIX.key)")->required()->type_name("FILE");
  pSub->add_option("-v,--version", pOptions->strVersion,
                   "the version the update brings, as the updater is given it (needed without UPDATE.statement)")
      ->type_name("V");
  pSub->add_option("--base", pOptions->strBase,
                   "without UPDATE.statement: the version the update applies to, or 'any' (the default)")
      ->type_name("B");
  pOptions->pProduct = pSub->add_option("--product", pOptions->strProduct, "the product the update is for")
                           ->type_name("NAME")
                           ->capture_default_str();
  pSub->footer(
      "UPDATE must pass the checks of 'paktool verify'. The statement signed is\n"
      "UPDATE.statement, which 'paktool diff --from B --to V' wrote: UPDATE's size\n"
      "and SHA-512 digest, the version it brings, the version and release it applies\n"
      "to, the release it makes and the entries it removes; UPDATE must not have\n"
      "changed since. Without UPDATE.statement, a hand-made update: the statement of\n"
      "UPDATE's digest, --version and --base, without releases or removals. An older\n"
      "UPDATE.sig is replaced. Check it with 'paktool verify UPDATE --key PREFIX.pub'.");
  return {pSub, [pOptions] { return RunSign(*pOptions); }};
}

}  // namespace paktool
