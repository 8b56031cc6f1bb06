#include "launcher/updatetrust.h"

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/packmanifest.h"
#include "tools/filepacktools_lib/packversion.h"

namespace {

constexpr char kVersionFileName[] = "\\version.ver";
constexpr uint64_t kMaxVersionFile = 4096;

DWORD Code(PackSigStatus status) { return static_cast<DWORD>(status); }
DWORD Code(UpdateRefusal refusal) { return static_cast<DWORD>(refusal); }

// The system's error, never 0: a failure must not read as success.
DWORD SystemError() {
  const DWORD dwError = GetLastError();
  return dwError != ERROR_SUCCESS ? dwError : static_cast<DWORD>(ERROR_INVALID_DATA);
}

}  // namespace

DWORD CheckUpdateVersions(const PackStatement& statement, const char* pszVersion, const std::string& strInstalled) {
  if (statement.nFormat < 2) return Code(UpdateRefusal::kOldStatement);
  if (pszVersion == nullptr || pszVersion[0] == '\0') return Code(UpdateRefusal::kNoVersionArgument);
  if (statement.strVersion != pszVersion) return Code(UpdateRefusal::kVersionDiffers);
  if (statement.strBase == kAnyBase) {
    const VersionOrder order = CompareVersions(statement.strVersion, strInstalled);
    const bool bNotNewer = order == VersionOrder::kSame || order == VersionOrder::kOlder;
    return bNotNewer ? Code(UpdateRefusal::kNotNewer) : ERROR_SUCCESS;
  }
  if (!IsDottedVersion(strInstalled)) return Code(UpdateRefusal::kNoInstalledVersion);
  if (CompareVersions(strInstalled, statement.strBase) != VersionOrder::kSame) return Code(UpdateRefusal::kWrongBase);
  if (CompareVersions(statement.strVersion, statement.strBase) != VersionOrder::kNewer) {
    return Code(UpdateRefusal::kNotNewer);
  }
  return ERROR_SUCCESS;
}

namespace {

// The digest of the release the client holds: 0, or the system's error.
DWORD HeldRelease(const char* pszClientPack, const char* pszLooseDir, const std::set<std::string>& setRehash,
                  std::string& strDigest) {
  ContentTagMap mapRelease;
  std::string strFailed;
  const bool bRead = ReadClientRelease(pszClientPack, pszLooseDir, setRehash, mapRelease, strFailed) &&
                     ReleaseDigest(mapRelease, strDigest);
  return bRead ? ERROR_SUCCESS : SystemError();
}

// Steps 1 and 2: the statement, trusted once its signature verifies with
// the key it names.
DWORD CheckSignature(const char* pszUpdatePack, const std::vector<PackPublicKey>& vecKeys, PackStatement& statement) {
  std::string strSigText;
  const PackSigCheck read = ReadPackSignature(pszUpdatePack, strSigText);
  if (read.status != PackSigStatus::kGood) return Code(read.status);
  const PackSigCheck parsed = ParseSignedStatement(strSigText);
  if (parsed.status != PackSigStatus::kGood) return Code(parsed.status);
  if (parsed.statement.nFormat < 2) return Code(UpdateRefusal::kOldStatement);
  const PackPublicKey* pKey = FindPackKey(vecKeys, parsed.strKey);
  if (pKey == nullptr) return Code(UpdateRefusal::kUnknownKey);
  const PackSigCheck check = CheckSignedStatement(strSigText, *pKey);
  if (check.status != PackSigStatus::kGood) return Code(check.status);
  statement = check.statement;
  return ERROR_SUCCESS;
}

// Steps 4 and 5: the signed size, then the signed bytes, copied where no
// one else can change them.
DWORD CheckBytes(CRealizePack& realize, const char* pszUpdatePack, const char* pszCopyDir,
                 const PackStatement& statement) {
  uint64_t qwSize = 0;
  if (!realize.HoldUpdate(pszUpdatePack) || !realize.GetHeldUpdateSize(qwSize)) return SystemError();
  if (qwSize != statement.digest.qwSize) return Code(PackSigStatus::kSizeMismatch);
  CPackDigester digester;
  const bool bCopied =
      realize.CopyHeldUpdate(qwSize, pszCopyDir, [&digester](const unsigned char* pbyData, size_t nSize) {
        digester.Add(pbyData, nSize);
        return true;
      });
  if (!bCopied) return SystemError();
  PackDigest digest;
  if (!digester.Finish(digest)) return Code(PackSigStatus::kNoCrypto);
  return Code(CompareSignedDigest(statement, digest));
}

// Step 7: a delta is rebuilt against the client into the update it was
// made from, held in its place. A damaged client entry refuses it: the full
// update is the way back for such a client.
DWORD RebuildDelta(CRealizePack& realize, const char* pszClientPack) {
  CDeltaOutcome outcome;
  if (realize.RebuildHeldDelta(pszClientPack, outcome)) return ERROR_SUCCESS;
  return outcome.eFault == DeltaFault::kBase ? Code(UpdateRefusal::kClientEntryDiffers) : SystemError();
}

// Step 6: the client holds the base release, or already the release the
// update makes (bMerged).
DWORD CheckBase(const char* pszClientPack, const char* pszLooseDir, const PackStatement& statement, bool& bMerged) {
  std::string strHeld;
  const DWORD dwRead = HeldRelease(pszClientPack, pszLooseDir, {}, strHeld);
  if (dwRead != ERROR_SUCCESS) return dwRead;
  bMerged = strHeld == statement.strRelease;
  return strHeld == statement.strBaseRelease || bMerged ? ERROR_SUCCESS : Code(UpdateRefusal::kClientNotBase);
}

}  // namespace

DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszCopyDir,
                        const char* pszVersion, const std::string& strInstalled,
                        const std::vector<PackPublicKey>& vecKeys, const char* pszClientPack, const char* pszLooseDir,
                        CCheckedUpdate& checked) {
  checked = CCheckedUpdate();
  PackStatement signedStatement;
  DWORD dwCode = CheckSignature(pszUpdatePack, vecKeys, signedStatement);
  if (dwCode == ERROR_SUCCESS) dwCode = CheckUpdateVersions(signedStatement, pszVersion, strInstalled);
  if (dwCode == ERROR_SUCCESS) dwCode = CheckBytes(realize, pszUpdatePack, pszCopyDir, signedStatement);
  if (dwCode == ERROR_SUCCESS && !signedStatement.strBaseRelease.empty()) {
    dwCode = CheckBase(pszClientPack, pszLooseDir, signedStatement, checked.bMerged);
  }
  if (dwCode == ERROR_SUCCESS && signedStatement.bDelta && !checked.bMerged) {
    dwCode = RebuildDelta(realize, pszClientPack);
  }
  if (dwCode != ERROR_SUCCESS) {
    realize.ReleaseHeldUpdate();
    return dwCode;
  }
  checked.statement = signedStatement;
  return ERROR_SUCCESS;
}

DWORD MergeCheckedUpdate(CRealizePack& realize, const CCheckedUpdate& checked, const char* pszClientPack,
                         const char* pszLooseDir) {
  const PackStatement& statement = checked.statement;
  if (!checked.bMerged) {
    CUpdateRemovals removals;
    removals.vecNames = statement.vecRemove;
    removals.bAllOthers = statement.IsWholeRelease();
    if (realize.MergeHeldUpdate(pszClientPack, removals) == 0) return SystemError();
  }
  if (statement.strRelease.empty()) return ERROR_SUCCESS;
  std::string strHeld;
  const DWORD dwRead = HeldRelease(pszClientPack, pszLooseDir, realize.GetMergedNames(), strHeld);
  if (dwRead != ERROR_SUCCESS) return dwRead;
  return strHeld == statement.strRelease ? ERROR_SUCCESS : Code(UpdateRefusal::kWrongResult);
}

std::string InstalledVersion() {
  std::string strText;
  if (!ReadWholeFile((std::string(g_szExeDir) + kVersionFileName).c_str(), strText, kMaxVersionFile)) return "";
  while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' ')) {
    strText.pop_back();
  }
  return strText;
}
