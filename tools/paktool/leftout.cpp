#include "tools/paktool/leftout.h"

#include <CLI/CLI.hpp>
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
    case BuildFileFate::kExcluded:
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
    case BuildFileFate::kExcluded:
      return "excluded";
    case BuildFileFate::kTaken:
      break;
  }
  return "taken";
}

// The path of strFile below strRootDir, its case kept, or the whole path
// made absolute when it does not lie there.
std::string BelowRoot(const std::string& strFile, const std::string& strRootKey, const std::string& strCurrentDir) {
  const std::string strKey = ComparablePath(strFile, strCurrentDir);
  if (strRootKey.empty() || strKey.size() <= strRootKey.size() ||
      strKey.compare(0, strRootKey.size(), strRootKey) != 0) {
    return strKey;
  }
  const std::string strFull = AbsolutePath(strFile, strCurrentDir);
  return strFull.substr(strFull.size() - (strKey.size() - strRootKey.size()));
}

}  // namespace

void AddExcludeOption(CLI::App& command, std::vector<std::string>& vecExcludes) {
  const CLI::Validator named(
      [](std::string& strPattern) {
        return strPattern.find_first_not_of("/\\") == std::string::npos ? std::string("a pattern needs a name")
                                                                        : std::string();
      },
      "");
  command
      .add_option("--exclude", vecExcludes,
                  "leave out the files whose path below the root matches PATTERN, in any letter case ('*' and '?' "
                  "within a name, '**' for any directories; without a '/' it matches a name in any directory); "
                  "repeatable")
      ->type_name("PATTERN")
      ->allow_extra_args(false)
      ->check(named);
}

std::string ShownFile(const std::string& strPath, const std::string& strBaseDir) {
  const std::string& strDir = strBaseDir;
  const std::string strDirKey = ComparablePath(strDir, strDir) + '\\';
  const std::string strKey = ComparablePath(strPath, strDir);
  // Only a path already in its absolute form can be cut by position.
  const bool bBelow = !strDir.empty() && strKey.size() == strPath.size() && strKey.size() > strDirKey.size() &&
                      strKey.compare(0, strDirKey.size(), strDirKey) == 0;
  return ShownName(bBelow ? strPath.substr(strDirKey.size()) : strPath);
}

void CLeftOutFiles::Add(const std::vector<CBuildFileName>& vecNames, const std::string& strRootDir) {
  const size_t nEarlier = m_vecItems.size();
  const std::string& strCurrentDir = m_strBaseDir;  // where relative paths of a list start
  const std::string strRootKey = strRootDir.empty() ? std::string() : ComparablePath(strRootDir, strCurrentDir) + '\\';
  for (size_t i = 0; i < vecNames.size(); ++i) {
    const CBuildFileName& name = vecNames[i];
    if (name.eFate == BuildFileFate::kTaken) continue;
    std::string strKey = std::string(ReasonCode(name.eFate)) + '\n' +
                         BelowRoot(name.strFile, strRootKey, strCurrentDir) + '\n' + name.strName;
    const auto itEarlier = m_mapKeys.find(strKey);
    if (itEarlier != m_mapKeys.end() && itEarlier->second < nEarlier &&
        m_vecItems[itEarlier->second].strAlsoFile.empty()) {
      m_vecItems[itEarlier->second].strAlsoFile = name.strFile;
      continue;
    }
    m_mapKeys.emplace(std::move(strKey), m_vecItems.size());
    m_vecItems.push_back({&vecNames, i, std::string()});
  }
}

std::string CLeftOutFiles::Told(const CItem& item) const {
  const std::string strFile = Shown(item.Name().strFile);
  return item.strAlsoFile.empty() ? strFile : strFile + " (and " + Shown(item.strAlsoFile) + ")";
}

size_t CLeftOutFiles::Report() const {
  size_t nLeftOut = 0;
  for (const CItem& item : m_vecItems) {
    if (item.Name().eFate == BuildFileFate::kExcluded) continue;
    ReportFailure("left out " + Told(item), Reason(*item.pNames, item.Name(), m_strBaseDir));
    ++nLeftOut;
  }
  const size_t nExcluded = ExcludedCount();
  if (nExcluded > 0) {
    PrintErrorLine("excluded " + std::to_string(nExcluded) + (nExcluded == 1 ? " file" : " files") +
                   " on purpose (--exclude)");
  }
  return nLeftOut;
}

size_t CLeftOutFiles::ExcludedCount() const {
  size_t nExcluded = 0;
  for (const CItem& item : m_vecItems) nExcluded += item.Name().eFate == BuildFileFate::kExcluded;
  return nExcluded;
}

nlohmann::json CLeftOutFiles::LeftOutJson() const {
  nlohmann::json files = nlohmann::json::array();
  for (const CItem& item : m_vecItems) {
    const CBuildFileName& name = item.Name();
    if (name.eFate == BuildFileFate::kExcluded) continue;
    nlohmann::json file = {{"file", JsonText(Shown(name.strFile))}, {"reason", ReasonCode(name.eFate)}};
    if (name.eFate == BuildFileFate::kFolded) {
      file["entry"] = JsonName(name.strName);
      file["taken_by"] = JsonText(Shown((*item.pNames)[name.nTakenBy].strFile));
    }
    if (!item.strAlsoFile.empty()) file["also"] = JsonText(Shown(item.strAlsoFile));
    files.push_back(std::move(file));
  }
  return files;
}

nlohmann::json CLeftOutFiles::ExcludedJson() const {
  nlohmann::json files = nlohmann::json::array();
  for (const CItem& item : m_vecItems) {
    const CBuildFileName& name = item.Name();
    if (name.eFate != BuildFileFate::kExcluded) continue;
    nlohmann::json file = {{"file", JsonText(Shown(name.strFile))}, {"entry", JsonName(name.strName)}};
    if (!item.strAlsoFile.empty()) file["also"] = JsonText(Shown(item.strAlsoFile));
    files.push_back(std::move(file));
  }
  return files;
}

}  // namespace paktool
