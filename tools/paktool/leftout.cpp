#include "tools/paktool/leftout.h"

#include <nlohmann/json.hpp>

#include "platform/paths.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"

namespace paktool {

namespace {

std::string Reason(const std::vector<CBuildFileName>& vecNames, const CBuildFileName& name,
                   const std::string& strBaseDir) {
  switch (name.eFate) {
    case BuildFileFate::kFolded:
      return "its entry name " + ShownName(name.strName) + " is taken by " +
             ShownFile(vecNames[name.nTakenBy].strFile, strBaseDir) +
             " (entry names are in lower case: names differing only in case fold onto one)";
    case BuildFileFate::kCannotOpen:
      return "cannot be opened: " + ErrorText(name.dwError);
    case BuildFileFate::kNoName:
      return "has no entry name: it is not below the root directory and its path does not hold the root name";
    case BuildFileFate::kPathTooLong:
      return ErrorText(ERROR_FILENAME_EXCED_RANGE);
    case BuildFileFate::kTaken:
      break;
  }
  return std::string();
}

const char* ReasonCode(BuildFileFate eFate) {
  switch (eFate) {
    case BuildFileFate::kFolded:
      return "folded";
    case BuildFileFate::kCannotOpen:
      return "cannot_open";
    case BuildFileFate::kNoName:
      return "no_name";
    case BuildFileFate::kPathTooLong:
      return "path_too_long";
    case BuildFileFate::kTaken:
      break;
  }
  return "taken";
}

}  // namespace

std::string ShownFile(const std::string& strPath, const std::string& strBaseDir) {
  const std::string& strDir = strBaseDir;
  const std::string strDirKey = ComparablePath(strDir, strDir) + '\\';
  const std::string strKey = ComparablePath(strPath, strDir);
  // Only a path already in its absolute form can be cut by position.
  const bool bBelow = !strDir.empty() && strKey.size() == strPath.size() && strKey.size() > strDirKey.size() &&
                      strKey.compare(0, strDirKey.size(), strDirKey) == 0;
  return ShownName(bBelow ? strPath.substr(strDirKey.size()) : strPath);
}

size_t ReportLeftOut(const std::vector<CBuildFileName>& vecNames, const std::string& strBaseDir) {
  size_t nLeftOut = 0;
  for (const CBuildFileName& name : vecNames) {
    if (name.eFate == BuildFileFate::kTaken) continue;
    ReportFailure("left out " + ShownFile(name.strFile, strBaseDir), Reason(vecNames, name, strBaseDir));
    ++nLeftOut;
  }
  return nLeftOut;
}

nlohmann::json LeftOutJson(const std::vector<CBuildFileName>& vecNames, const std::string& strBaseDir) {
  nlohmann::json files = nlohmann::json::array();
  for (const CBuildFileName& name : vecNames) {
    if (name.eFate == BuildFileFate::kTaken) continue;
    nlohmann::json file = {{"file", JsonText(ShownFile(name.strFile, strBaseDir))},
                           {"reason", ReasonCode(name.eFate)}};
    if (name.eFate == BuildFileFate::kFolded) {
      file["entry"] = JsonName(name.strName);
      file["taken_by"] = JsonText(ShownFile(vecNames[name.nTakenBy].strFile, strBaseDir));
    }
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace paktool
