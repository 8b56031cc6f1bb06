#include "launcher/updatetrust.h"

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/packclient.h"
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

// The digest of exactly the bytes the merge will read.
bool DigestHeld(CRealizePack& realize, PackDigest& digest) {
  CPackDigester digester;
  const bool bRead = realize.ReadHeldUpdate([&digester](const unsigned char* pbyData, size_t nSize) {
    digester.Add(pbyData, nSize);
    return true;
  });
  return bRead && digester.Finish(digest);
}

// The versions: the command line's, the installed one, the base.
DWORD CheckVersions(const PackStatement& statement, const char* pszVersion, const std::string& strInstalled) {
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

// The digest of the release the client holds: 0, or the system's error.
DWORD HeldRelease(const char* pszClientPack, const char* pszLooseDir, const std::set<std::string>& setRehash,
                  std::string& strDigest) {
  ContentTagMap mapRelease;
  std::string strFailed;
  const bool bRead = ReadClientRelease(pszClientPack, pszLooseDir, setRehash, mapRelease, strFailed) &&
                     ReleaseDigest(mapRelease, strDigest);
  return bRead ? ERROR_SUCCESS : SystemError();
}

}  // namespace

DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszVersion,
                        const std::string& strInstalled, const PackPublicKey& key, const char* pszClientPack,
                        const char* pszLooseDir, CCheckedUpdate& checked) {
  checked = CCheckedUpdate();
  std::string strSigText;
  const PackSigCheck read = ReadPackSignature(pszUpdatePack, strSigText);
  if (read.status != PackSigStatus::kGood) return Code(read.status);
  if (!realize.HoldUpdate(pszUpdatePack)) return SystemError();
  PackDigest digest;
  if (!DigestHeld(realize, digest)) return Code(PackSigStatus::kUnreadablePack);
  const PackSigCheck check = CheckPackSignature(strSigText, digest, key);
  if (check.status != PackSigStatus::kGood) return Code(check.status);
  checked.statement = check.statement;
  const PackStatement& statement = checked.statement;
  const DWORD dwVersions = CheckVersions(statement, pszVersion, strInstalled);
  if (dwVersions != ERROR_SUCCESS || statement.strBaseRelease.empty()) return dwVersions;
  std::string strHeld;
  const DWORD dwRead = HeldRelease(pszClientPack, pszLooseDir, {}, strHeld);
  if (dwRead != ERROR_SUCCESS) return dwRead;
  checked.bMerged = strHeld == statement.strRelease;
  return strHeld == statement.strBaseRelease || checked.bMerged ? ERROR_SUCCESS : Code(UpdateRefusal::kClientNotBase);
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
