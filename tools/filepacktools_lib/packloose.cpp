#include "tools/filepacktools_lib/packloose.h"

#include "platform/dir_sync.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/packmanifest.h"
#include "tools/filepacktools_lib/packnames.h"
#include "tools/filepacktools_lib/packplan.h"

namespace {

constexpr char kRecordHeader[] = "patchloom-loose-files 1\n";
constexpr char kTempSuffix[] = ".tmp";
// Far more than any client's loose entries take; a larger file is refused.
constexpr uint64_t kMaxRecordSize = 64ull << 20;

bool Damaged() {
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

bool ParseRecord(const std::string& strText, std::set<std::string>& setNames) {
  const std::string strHeader = kRecordHeader;
  if (strText.compare(0, strHeader.size(), strHeader) != 0) return Damaged();
  std::string strLast;
  for (size_t nStart = strHeader.size(); nStart < strText.size();) {
    const size_t nEnd = strText.find('\n', nStart);
    if (nEnd == std::string::npos) return Damaged();
    std::string strName;
    // Only names a merge could have written: the record names files to
    // delete, so one that would leave the client's directory is damage.
    if (!DecodeNameText(strText.substr(nStart, nEnd - nStart), strName) || !IsSafeEntryName(strName)) {
      return Damaged();
    }
    if (!setNames.empty() && strName <= strLast) return Damaged();  // ascending, each once
    setNames.insert(setNames.end(), strName);
    strLast = std::move(strName);
    nStart = nEnd + 1;
  }
  return true;
}

}  // namespace

std::string LooseRecordPath(const std::string& strPackPath) { return strPackPath + kLooseRecordSuffix; }

std::string LooseFilePath(const std::string& strLooseDir, const std::string& strName) {
  return JoinPath(strLooseDir, LooseRelative(strName));
}

std::vector<std::string> LooseDirectories(const std::string& strLooseDir, const std::string& strName) {
  std::vector<std::string> vecDirs;
  std::vector<std::string> vecParts = SplitPath(LooseRelative(strName));
  if (!vecParts.empty()) vecParts.pop_back();
  std::string strPath = strLooseDir;
  for (const std::string& strPart : vecParts) {
    strPath = JoinPath(strPath, strPart);
    vecDirs.push_back(strPath);
  }
  return vecDirs;
}

std::string LooseRecordText(const std::set<std::string>& setNames) {
  if (setNames.empty()) return std::string();
  std::string strText = kRecordHeader;
  for (const std::string& strName : setNames) strText += EncodeNameText(strName) + '\n';
  return strText;
}

bool ReadLooseRecord(const std::string& strPackPath, std::set<std::string>& setNames) {
  setNames.clear();
  std::string strText;
  if (!ReadWholeFile(LooseRecordPath(strPackPath).c_str(), strText, kMaxRecordSize)) {
    const DWORD dwError = GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
  }
  if (ParseRecord(strText, setNames)) return true;
  setNames.clear();
  return false;
}

bool WriteLooseRecord(const std::string& strPackPath, const std::set<std::string>& setNames) {
  const std::string strPath = LooseRecordPath(strPackPath);
  if (setNames.empty()) {
    if (DeleteFileA(strPath.c_str())) return FlushDirectoryOf(strPath.c_str()) != FALSE;
    const DWORD dwError = GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
  }
  const std::string strText = LooseRecordText(setNames);
  const std::string strTemp = strPath + kTempSuffix;
  CScopedHandle hTemp = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hTemp) return false;
  return CompleteReplacement(WriteAll(hTemp.Get(), strText.data(), strText.size()), hTemp, strTemp, strPath);
}
