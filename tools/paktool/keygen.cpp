// paktool keygen PREFIX: a new Ed25519 key pair for signing update packs,
// PREFIX.key (secret, readable by its owner only) and PREFIX.pub.
#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/signing.h"

namespace paktool {

namespace {

struct CKeygenOptions {
  std::string strPrefix;
};

int RunKeygen(const CKeygenOptions& options) {
  const std::string strSecretShown = options.strPrefix + kSecretKeySuffix;
  const std::string strPublicShown = options.strPrefix + kPublicKeySuffix;
  const PackKeyStatus status = GeneratePackKeys(ArgPath(options.strPrefix));
  if (status == PackKeyStatus::kOk) {
    PrintLine(strSecretShown + ": secret key, readable by its owner only: keep it private");
    PrintLine(strPublicShown + ": public key, for 'paktool verify --key' and the updater");
    return kExitOk;
  }
  const DWORD dwError = GetLastError();
  // Name the file that is in the way.
  const bool bPublic = status == PackKeyStatus::kExists && !PathExists(ArgPath(strSecretShown));
  ReportFailure(bPublic ? strPublicShown : strSecretShown, KeyFailureText(status, dwError));
  return kExitFailure;
}

}  // namespace

CCommand AddKeygenCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CKeygenOptions>();
  CLI::App* pSub = app.add_subcommand("keygen", "Make a key pair for signing update packs.");
  pSub->add_option("PREFIX", pOptions->strPrefix, "the key files' path without suffix")
      ->required()
      ->type_name("PREFIX");
  pSub->footer(
      "Writes the Ed25519 secret key PREFIX.key, readable and writable by its owner\n"
      "only, and its public key PREFIX.pub. Neither file is ever replaced: when\n"
      "either exists, nothing is written. Keep PREFIX.key private and backed up:\n"
      "whoever has it can sign updates; without it no new update can be signed.");
  return {pSub, [pOptions] { return RunKeygen(*pOptions); }};
}

}  // namespace paktool
