#include "launcher/updatetrust.h"

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/packversion.h"

namespace {

constexpr char kVersionFileName[] = "\\version.ver";
constexpr uint64_t kMaxVersionFile = 4096;

DWORD Code(PackSigStatus status) { return static_cast<DWORD>(status); }
DWORD Code(UpdateRefusal refusal) { return static_cast<DWORD>(refusal); }

// The digest of exactly the bytes the merge will read.
bool DigestHeld(CRealizePack& realize, PackDigest& digest) {
  CPackDigester digester;
  const bool bRead = realize.ReadHeldUpdate([&digester](const unsigned char* pbyData, size_t nSize) {
    digester.Add(pbyData, nSize);
    return true;
  });
  return bRead && digester.Finish(digest);
}

}  // namespace

DWORD CheckSignedUpdate(CRealizePack& realize, const char* pszUpdatePack, const char* pszVersion,
                        const std::string& strInstalled, const PackPublicKey& key) {
  std::string strSigText;
  const PackSigCheck read = ReadPackSignature(pszUpdatePack, strSigText);
  if (read.status != PackSigStatus::kGood) return Code(read.status);
  if (!realize.HoldUpdate(pszUpdatePack)) return GetLastError();
  PackDigest digest;
  if (!DigestHeld(realize, digest)) return Code(PackSigStatus::kUnreadablePack);
  const PackSigCheck check = CheckPackSignature(strSigText, digest, key);
  if (check.status != PackSigStatus::kGood) return Code(check.status);
  if (pszVersion == nullptr || pszVersion[0] == '\0') return Code(UpdateRefusal::kNoVersionArgument);
  if (check.strVersion != pszVersion) return Code(UpdateRefusal::kVersionDiffers);
  const VersionOrder order = CompareVersions(check.strVersion, strInstalled);
  if (order == VersionOrder::kSame || order == VersionOrder::kOlder) return Code(UpdateRefusal::kNotNewer);
  return ERROR_SUCCESS;
}

std::string InstalledVersion() {
  std::string strText;
  if (!ReadWholeFile((std::string(g_szExeDir) + kVersionFileName).c_str(), strText, kMaxVersionFile)) return "";
  while (!strText.empty() && (strText.back() == '\n' || strText.back() == '\r' || strText.back() == ' ')) {
    strText.pop_back();
  }
  return strText;
}
