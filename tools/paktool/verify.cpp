// paktool verify PACK [--key PREFIX.pub]: every rule of the format checked
// and every entry decoded by the library's VerifyPack, each problem one
// line of output; with a public key, the pack's signature file too.
#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/signing.h"

namespace paktool {

namespace {

struct CVerifyOptions {
  std::string strPack;
  std::string strKey;
  std::string strProduct = kPackProduct;
};

// Checks the signature file against the pack; a refusal is one problem.
size_t CheckSignature(const CPackArg& packArg, const PackPublicKey& key, const std::string& strProduct) {
  const PackSigCheck check = VerifyPackSignature(packArg.strPath, key, strProduct);
  if (check.status == PackSigStatus::kGood) {
    PrintLine(packArg.strShown + ": signed version " + check.strVersion + " of " + check.strProduct);
    return 0;
  }
  PrintLine(packArg.strShown + ": signature refused: " + SignatureText(check));
  return 1;
}

int RunVerify(const CVerifyOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  PackPublicKey key;
  const bool bSigned = !options.strKey.empty();
  if (bSigned && !LoadPublicKey(options.strKey, key)) return kExitFailure;
  size_t nProblems = 0;
  if (!CheckPackFormat(packArg, nProblems)) return kExitFailure;
  if (bSigned) nProblems += CheckSignature(packArg, key, options.strProduct);
  if (nProblems > 0) {
    ReportFailure(packArg.strShown,
                  std::to_string(nProblems) + (nProblems == 1 ? " problem found" : " problems found"));
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
  pSub->add_option("-k,--key", pOptions->strKey, "also check PACK.sig with this public key (PREFIX.pub)")
      ->type_name("FILE");
  pSub->add_option("--product", pOptions->strProduct, "the product PACK.sig must name")
      ->type_name("NAME")
      ->capture_default_str();
  pSub->footer(
      "Checks that the header's regions lie inside the file and the file ends at the\n"
      "end of the free list; that every entry and free block lies inside the data\n"
      "area without overlapping another; that entry names are unique, safe and\n"
      "begin with the root name; that the directory table agrees with the index;\n"
      "and that every entry decodes (compressed pack) or has equal sizes (plain).\n"
      "With --key, the signature file PACK.sig beside the pack must be signed with\n"
      "that key's secret key, name the product, and record the pack's size and\n"
      "SHA-512 digest; the line 'PACK: signed version V of PRODUCT' is printed.\n"
      "Each problem is printed as a line 'PACK: problem' on standard output; the\n"
      "exit status is 1 when there is any, 0 when the line 'PACK: OK' is printed.");
  return {pSub, [pOptions] { return RunVerify(*pOptions); }};
}

}  // namespace paktool
