// Any bytes as an update's signature file, checked as the updater checks
// it against a fixed key and pack digest, and its versions held against a
// few installed ones. Checks: a text parses or is refused as malformed,
// never anything else; a parsed statement's fields are in their forms and
// its text reads back to the same statement; a check is good only when the
// signature verifies with the key over the signed bytes, the statement
// names that key (format 2), the product and the digest; a statement that
// is signed so is never refused as badly signed; versions compare
// antisymmetrically, and the updater lets an update through only when its
// version is the command line's and it applies to the installed version.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_sandbox.h"
#include "fuzz/fuzz_statements.h"
#include "launcher/updatetrust.h"
#include "tools/filepacktools_lib/ed25519.h"
#include "tools/filepacktools_lib/packstatement.h"
#include "tools/filepacktools_lib/packversion.h"

namespace {

bool SameStatement(const PackStatement& a, const PackStatement& b) {
  return a.strProduct == b.strProduct && a.strKey == b.strKey && a.digest.qwSize == b.digest.qwSize &&
         std::memcmp(a.digest.byHash, b.digest.byHash, kPackDigestSize) == 0 && a.strVersion == b.strVersion &&
         a.strBase == b.strBase && a.strBaseRelease == b.strBaseRelease && a.strRelease == b.strRelease &&
         a.vecRemove == b.vecRemove;
}

void CheckForms(const PackStatement& statement) {
  if (!IsStatementText(statement.strProduct)) FuzzFail("a product out of its form was taken");
  if (statement.nFormat == 1) {
    if (!statement.strKey.empty() || !statement.strBase.empty()) FuzzFail("a statement of format 1 names more");
    return;
  }
  if (!IsPackKeyId(statement.strKey)) FuzzFail("a signed statement of format 2 names no key");
  if (!IsReleaseVersion(statement.strVersion)) FuzzFail("a version out of its form was taken");
  if (statement.strBase != kAnyBase && !IsReleaseVersion(statement.strBase)) FuzzFail("a bad base was taken");
  for (size_t i = 1; i < statement.vecRemove.size(); ++i) {
    if (statement.vecRemove[i - 1] >= statement.vecRemove[i]) FuzzFail("removals out of order were taken");
  }
  // Its text, as written, reads back to the same statement.
  PackStatement again;
  std::string strField;
  if (ParseStatementText(StatementText(statement), again, strField) != SigFileFault::kNone ||
      !SameStatement(statement, again)) {
    FuzzFail("a statement does not read back from its text");
  }
}

// Dotted versions compare antisymmetrically.
void CheckOrder(const std::string& strA, const std::string& strB) {
  const VersionOrder ab = CompareVersions(strA, strB);
  const VersionOrder ba = CompareVersions(strB, strA);
  const bool bMirrored = (ab == VersionOrder::kNewer && ba == VersionOrder::kOlder) ||
                         (ab == VersionOrder::kOlder && ba == VersionOrder::kNewer) ||
                         (ab == ba && ab != VersionOrder::kNewer && ab != VersionOrder::kOlder);
  if (!bMirrored) FuzzFail("versions do not compare antisymmetrically");
  if ((ab == VersionOrder::kNotDotted) == (IsDottedVersion(strA) && IsDottedVersion(strB))) {
    FuzzFail("a version's form and its comparison disagree");
  }
}

// What the updater lets through for a command line's version and an
// installed one.
void CheckVersionRules(const PackStatement& statement) {
  CheckOrder(statement.strVersion, statement.strBase);
  const std::string strInstalled[] = {"", "1.01", "1.9", "1.10.3", statement.strVersion, statement.strBase, "1.x"};
  const char* const pszArgs[] = {nullptr, "", "1.02", statement.strVersion.c_str()};
  for (const std::string& strHave : strInstalled) {
    CheckOrder(statement.strVersion, strHave);
    for (const char* pszArg : pszArgs) {
      if (CheckUpdateVersions(statement, pszArg, strHave) != ERROR_SUCCESS) continue;
      if (statement.nFormat < 2 || pszArg == nullptr || statement.strVersion != pszArg) {
        FuzzFail("an update passed for another version than the command line's");
      }
      const VersionOrder order = CompareVersions(statement.strVersion, strHave);
      if (statement.strBase == kAnyBase) {
        if (order == VersionOrder::kSame || order == VersionOrder::kOlder) FuzzFail("a full update went back");
      } else if (CompareVersions(strHave, statement.strBase) != VersionOrder::kSame ||
                 CompareVersions(statement.strVersion, statement.strBase) != VersionOrder::kNewer) {
        FuzzFail("an update passed for another base or back to an older version");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  const std::string strText(reinterpret_cast<const char*>(pbyData), nSize);
  const PackPublicKey& key = FuzzSigningKey().publicKey;
  const PackDigest& digest = FuzzPackDigest();

  CSignedStatement parsed;
  std::string strField;
  const SigFileFault fault = ParseSignatureFile(strText, parsed, strField);
  const PackSigCheck read = ParseSignedStatement(strText);
  const PackSigCheck check = CheckPackSignature(strText, digest, key);
  if (fault != SigFileFault::kNone) {
    if (read.status != PackSigStatus::kMalformedSignature || check.status != PackSigStatus::kMalformedSignature) {
      FuzzFail("a malformed signature file was not refused as one");
    }
    return 0;
  }
  if (read.status != PackSigStatus::kGood || !SameStatement(read.statement, parsed.statement)) {
    FuzzFail("two parses of one text disagree");
  }
  if (strText.compare(0, parsed.strSigned.size(), parsed.strSigned) != 0)
    FuzzFail("the signed bytes are not the file's");
  const PackStatement& statement = parsed.statement;
  CheckForms(statement);

  const bool bVerifies = Ed25519Verify(key.byKey, parsed.strSigned, parsed.bySignature);
  const bool bNamesKey = statement.nFormat == 1 || statement.strKey == PackKeyId(key);
  if (check.status == PackSigStatus::kGood) {
    if (!bVerifies || !bNamesKey) FuzzFail("a statement not signed with the key was taken");
    if (statement.strProduct != kPackProduct) FuzzFail("a statement for another product was taken");
    if (CompareSignedDigest(statement, digest) != PackSigStatus::kGood) FuzzFail("another pack's statement was taken");
  } else if (check.status == PackSigStatus::kBadSignature && bVerifies && bNamesKey) {
    FuzzFail("a statement signed with the key was refused");
  }
  if (CheckSignedStatement(strText, FuzzStrangerKey().publicKey).status == PackSigStatus::kGood &&
      statement.nFormat == 2 && statement.strKey != PackKeyId(FuzzStrangerKey().publicKey)) {
    FuzzFail("a statement naming another key was taken");
  }
  CheckVersionRules(statement);
  return 0;
}
