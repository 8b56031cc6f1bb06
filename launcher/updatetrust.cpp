#include "launcher/updatetrust.h"

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/packclient.h"
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

// Whether the client holds the release strDigest: 0, eWrong's code, or the
// system's error.
DWORD CheckRelease(const char* pszClientPack, const char* pszLooseDir, const std::string& strDigest,
                   const std::set<std::string>& setRehash, UpdateRefusal eWrong) {
  bool bHolds = false;
  std::string strFailed;
  if (!CheckClientRelease(pszClientPack, pszLooseDir, strDigest, setRehash, bHolds, strFailed)) return SystemError();
  return bHolds ? ERROR_SUCCESS : Code(eWrong);
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

}  // namespace

DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszCopyDir,
                        const char* pszVersion, const std::string& strInstalled,
                        const std::vector<PackPublicKey>& vecKeys, const char* pszClientPack, const char* pszLooseDir,
                        PackStatement& statement) {
  PackStatement signedStatement;
  DWORD dwCode = CheckSignature(pszUpdatePack, vecKeys, signedStatement);
  if (dwCode == ERROR_SUCCESS) dwCode = CheckUpdateVersions(signedStatement, pszVersion, strInstalled);
  if (dwCode == ERROR_SUCCESS) dwCode = CheckBytes(realize, pszUpdatePack, pszCopyDir, signedStatement);
  if (dwCode == ERROR_SUCCESS && !signedStatement.strBaseRelease.empty()) {
    dwCode =
        CheckRelease(pszClientPack, pszLooseDir, signedStatement.strBaseRelease, {}, UpdateRefusal::kClientNotBase);
  }
  if (dwCode != ERROR_SUCCESS) {
    realize.ReleaseHeldUpdate();
    return dwCode;
  }
  statement = signedStatement;
  return ERROR_SUCCESS;
}

CUpdateRemovals StatementRemovals(const PackStatement& statement) {
  CUpdateRemovals removals;
  removals.vecNames = statement.vecRemove;
  removals.bAllOthers = statement.IsWholeRelease();
  return removals;
}

DWORD CheckMergedRelease(const CRealizePack& realize, const PackStatement& statement, const char* pszClientPack,
                         const char* pszLooseDir) {
  if (statement.strRelease.empty()) return ERROR_SUCCESS;
  return CheckRelease(pszClientPack, pszLooseDir, statement.strRelease, realize.GetMergedNames(),
                      UpdateRefusal::kWrongResult);
}

std::string InstalledVersion() {
  std::string strText;
  if (!ReadWholeFile((std::string(g_szExeDir) + kVersionFileName).c_str(), strText, kMaxVersionFile)) return "";
  while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' ')) {
    strText.pop_back();
  }
  return strText;
}
