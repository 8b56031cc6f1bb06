// paktool sign UPDATE --key PREFIX.key --version V: writes UPDATE.sig, the
// signed statement of the update's product, size, digest and version.
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"
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
  std::string strProduct = kPackProduct;
};

const char kTextRule[] = "1 to 64 printable ASCII characters without spaces";

int RunSign(const CSignOptions& options) {
  if (!IsStatementText(options.strVersion)) return UsageError("sign", "--version: " + std::string(kTextRule));
  if (!IsStatementText(options.strProduct)) return UsageError("sign", "--product: " + std::string(kTextRule));
  PackSecretKey key;
  if (!LoadSecretKey(options.strKey, key)) return kExitFailure;
  // Only a sound pack is signed: a signature makes the updater trust it.
  const CPackArg packArg = PackArg(options.strPack);
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
  if (!SignPack(packArg.strPath, key, options.strVersion, options.strProduct)) {
    ReportError(strSigShown, GetLastError());
    return kExitFailure;
  }
  PrintLine(strSigShown + ": signed version " + options.strVersion + " of " + options.strProduct);
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
  pSub->add_option("-v,--version", pOptions->strVersion, "the version the update brings, as the updater is given it")
      ->required()
      ->type_name("V");
  pSub->add_option("--product", pOptions->strProduct, "the product the update is for")
      ->type_name("NAME")
      ->capture_default_str();
  pSub->footer(
      "UPDATE must pass the checks of 'paktool verify'. UPDATE.sig records the\n"
      "product, UPDATE's size and SHA-512 digest and the version, signed with the\n"
      "Ed25519 key; an older UPDATE.sig is replaced. Check it with\n"
      "'paktool verify UPDATE --key PREFIX.pub'.");
  return {pSub, [pOptions] { return RunSign(*pOptions); }};
}

}  // namespace paktool
