// paktool verify PACK [--key PREFIX.pub]: every rule of the format checked
// and every entry decoded by the library's VerifyPack, each problem one
// line of output; with a public key, the pack's signature file too.
// --json: the same as one JSON document.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/signing.h"

namespace paktool {

namespace {

struct CVerifyOptions {
  std::string strPack;
  std::string strKey;
  std::string strProduct = kPackProduct;
  bool bJson = false;
};

nlohmann::json OptionalText(const std::string& strText) {
  return strText.empty() ? nlohmann::json(nullptr) : nlohmann::json(strText);
}

// What a good statement says besides its version and product.
void AddStatementJson(const PackStatement& statement, nlohmann::json& signature) {
  signature["format"] = statement.nFormat;
  signature["key"] = OptionalText(statement.strKey);
  signature["base"] = OptionalText(statement.strBase);
  signature["base_release"] = OptionalText(statement.strBaseRelease);
  signature["release"] = OptionalText(statement.strRelease);
  nlohmann::json removed = nlohmann::json::array();
  for (const std::string& strName : statement.vecRemove) removed.push_back(JsonName(strName));
  signature["remove"] = std::move(removed);
  signature["delta"] = statement.bDelta;
}

void PrintStatement(const CPackArg& packArg, const PackStatement& statement) {
  const std::string strHead = packArg.strShown + ": ";
  if (statement.nFormat == 1) {
    PrintLine(strHead + "a statement of format 1, which names no base: updaters refuse it");
    return;
  }
  if (statement.strBase == kAnyBase) {
    PrintLine(strHead + (statement.IsWholeRelease() ? "a full update, for clients of any version"
                                                    : "for clients of any version"));
  } else {
    PrintLine(strHead + "for clients of version " + statement.strBase +
              (statement.strBaseRelease.empty() ? std::string() : " holding release " + statement.strBaseRelease));
  }
  if (!statement.strRelease.empty()) PrintLine(strHead + "makes release " + statement.strRelease);
  if (statement.bDelta) PrintLine(strHead + "a delta update, rebuilt against the client before it is merged");
  for (const std::string& strName : statement.vecRemove) PrintLine(strHead + "removes " + ShownName(strName));
}

// The signature file's verdict as lines, or with --json as the document's
// "signature" object. Returns the number of problems: 1 for a refusal.
size_t ReportSignature(const CPackArg& packArg, const PackSigCheck& check, bool bJson, nlohmann::json& document) {
  const bool bGood = check.status == PackSigStatus::kGood;
  if (bJson) {
    nlohmann::json signature = {{"status", bGood ? "good" : "refused"}, {"code", static_cast<DWORD>(check.status)}};
    if (bGood) {
      signature["version"] = JsonText(check.strVersion);
      signature["product"] = JsonText(check.strProduct);
      AddStatementJson(check.statement, signature);
    } else {
      signature["reason"] = JsonText(SignatureText(check));
    }
    document["signature"] = signature;
  } else if (bGood) {
    PrintLine(packArg.strShown + ": signed version " + check.strVersion + " of " + check.strProduct);
    PrintStatement(packArg, check.statement);
  } else {
    PrintLine(packArg.strShown + ": signature refused: " + SignatureText(check));
  }
  return bGood ? 0 : 1;
}

int RunVerify(const CVerifyOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  PackPublicKey key;
  const bool bSigned = !options.strKey.empty();
  if (bSigned && !LoadPublicKey(options.strKey, key)) return kExitFailure;
  std::vector<std::string> vecProblems;
  if (!CheckPackFormat(packArg, vecProblems)) return kExitFailure;
  const bool bDelta = IsDeltaFile(packArg.strPath);
  nlohmann::json document = {{"pack", JsonText(packArg.strShown)},
                             {"delta", bDelta},
                             {"problems", nlohmann::json::array()},
                             {"signature", nullptr}};
  if (bDelta && !options.bJson) {
    PrintLine(packArg.strShown + ": a delta update: its patches can be checked only against the client's entries");
  }
  if (options.bJson) {
    for (const std::string& strProblem : vecProblems) document["problems"].push_back(JsonText(strProblem));
  } else {
    PrintProblems(packArg, vecProblems);
  }
  size_t nProblems = vecProblems.size();
  if (bSigned) {
    const PackSigCheck check = VerifyPackSignature(packArg.strPath, key, options.strProduct);
    nProblems += ReportSignature(packArg, check, options.bJson, document);
  }
  if (options.bJson) {
    document["ok"] = nProblems == 0;
    PrintJson(document);
  }
  if (nProblems > 0) {
    ReportFailure(packArg.strShown,
                  std::to_string(nProblems) + (nProblems == 1 ? " problem found" : " problems found"));
    return kExitFailure;
  }
  if (!options.bJson) PrintLine(packArg.strShown + ": OK");
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
  pSub->add_flag("--json", pOptions->bJson, "write the result as one JSON document to standard output");
  pSub->footer(
      "Checks that the header's regions lie inside the file and the file ends at the\n"
      "end of the free list; that every entry and free block lies inside the data\n"
      "area without overlapping another; that entry names are unique, safe and\n"
      "begin with the root name; that the directory table agrees with the index;\n"
      "and that every entry decodes (compressed pack) or has equal sizes (plain).\n"
      "With --key, the signature file PACK.sig beside the pack must be signed with\n"
      "that key's secret key, name the product, and record the pack's size and\n"
      "SHA-512 digest (the size is compared before the pack is read); the line\n"
      "'PACK: signed version V of PRODUCT' is printed, then what the statement\n"
      "binds: the version and release it applies to, the release it makes and each\n"
      "entry it removes. A statement signed with another key names that key's id\n"
      "in the refusal.\n"
      "Each problem is printed as a line 'PACK: problem' on standard output; the\n"
      "exit status is 1 when there is any, 0 when the line 'PACK: OK' is printed.\n"
      "A delta update ('paktool diff --delta') is checked by the rules of its own\n"
      "container, and its whole entries decoded.\n"
      "With --json, standard output is one JSON document instead: pack, delta, ok (true\n"
      "when no problem was found), problems (their texts) and signature (null\n"
      "without --key; else status 'good' or 'refused', code, and version, product,\n"
      "format, key, base, base_release, release and remove, or the reason).");
  return {pSub, [pOptions] { return RunVerify(*pOptions); }};
}

}  // namespace paktool
