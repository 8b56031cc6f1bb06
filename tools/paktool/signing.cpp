#include "tools/paktool/signing.h"

#include <vector>

#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/packverify.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

bool IsFileFailure(PackKeyStatus status) {
  return status == PackKeyStatus::kUnreadable || status == PackKeyStatus::kWriteFailed;
}

// Reports a key that did not load; true when it did.
bool KeyLoaded(const std::string& strArg, PackKeyStatus status) {
  if (status == PackKeyStatus::kOk) return true;
  ReportFailure(strArg, KeyFailureText(status, GetLastError()));
  return false;
}

}  // namespace

std::string KeyFailureText(PackKeyStatus status, DWORD dwError) {
  return IsFileFailure(status) ? ErrorText(dwError) : PackKeyReason(status);
}

bool LoadPublicKey(const std::string& strArg, PackPublicKey& key) {
  return KeyLoaded(strArg, ReadPackPublicKey(ArgPath(strArg), key));
}

bool LoadSecretKey(const std::string& strArg, PackSecretKey& key) {
  return KeyLoaded(strArg, ReadPackSecretKey(ArgPath(strArg), key));
}

std::string SignatureText(const PackSigCheck& check) {
  const bool bFileFailure =
      check.status == PackSigStatus::kUnreadableSignature || check.status == PackSigStatus::kUnreadablePack;
  return bFileFailure ? PackSigText(check) + ": " + ErrorText(check.dwError) : PackSigText(check);
}

bool IsDeltaFile(const std::string& strPath) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  char szMagic[kPackMagicSize] = {};
  return hFile && ReadAll(hFile.Get(), szMagic, sizeof(szMagic)) && IsDeltaMagic(szMagic, sizeof(szMagic));
}

bool CheckPackFormat(const CPackArg& packArg, std::vector<std::string>& vecProblems) {
  bool bRead = false;
  DWORD dwError = ERROR_SUCCESS;
  if (IsDeltaFile(packArg.strPath)) {
    size_t nPatches = 0;
    bRead = VerifyDelta(packArg.strPath, vecProblems, nPatches);
    if (!bRead) ReportError(packArg.strShown, GetLastError());
    for (std::string& strProblem : vecProblems) strProblem = ShownName(strProblem);
    return bRead;
  }
  {
    CStepProgress progress("verifying");
    bRead = VerifyPack(packArg.strPath.c_str(), vecProblems,
                       [&progress](size_t nDone, size_t nTotal) { progress.Step(nDone, nTotal); });
    dwError = GetLastError();
  }
  for (std::string& strProblem : vecProblems) strProblem = ShownName(strProblem);
  if (!bRead) ReportError(packArg.strShown, dwError);
  return bRead;
}

void PrintProblems(const CPackArg& packArg, const std::vector<std::string>& vecProblems) {
  for (const std::string& strProblem : vecProblems) PrintLine(packArg.strShown + ": " + strProblem);
}

}  // namespace paktool
