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
    PackPublicKey key;
    const std::string strId =
        ReadPackPublicKey(ArgPath(strPublicShown), key) == PackKeyStatus::kOk ? PackKeyId(key) : std::string();
    PrintLine(strSecretShown + ": secret key, readable by its owner only: keep it private");
    PrintLine(strPublicShown + ": public key, for 'paktool verify --key' and the updater");
    PrintLine("key id " + strId + ": every statement signed with it names it.");
    PrintLine("To replace a key: ship an updater built with the old and the new public key");
    PrintLine("  (PATCHLOOM_UPDATE_KEY=\"old.pub;new.pub\"), then sign with the new key only;");
    PrintLine("  a later updater built with the new key alone stops trusting the old one.");
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
      "only, and its public key PREFIX.pub, both naming the key's id (the first 8\n"
      "bytes of the public key's SHA-512, in hex). Neither file is ever replaced:\n"
      "when either exists, nothing is written. Keep PREFIX.key private and backed\n"
      "up: whoever has it can sign updates; without it no new update can be signed.\n"
      "Every statement names the id of the key that signed it, and an updater may\n"
      "trust several keys, taking each update with the key its statement names. To\n"
      "replace a key (one that leaked, say): make a new pair; ship an updater built\n"
      "with the old and the new public key (PATCHLOOM_UPDATE_KEY=\"old.pub;new.pub\"),\n"
      "still through updates signed with the old key; then sign with the new key\n"
      "only; a later updater built with the new key alone stops trusting the old.");
  return {pSub, [pOptions] { return RunKeygen(*pOptions); }};
}

}  // namespace paktool
