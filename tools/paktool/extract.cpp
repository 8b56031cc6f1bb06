// paktool extract PACK [PATH] [-C DIR]: the whole pack, one directory or one
// entry written below DIR with its full pack path, as tar does: the entry
// res\ui\a.txt becomes DIR\res\ui\a.txt whatever was asked for.
//
// The walk is done here and the files go through ExtractFiles, one request
// per entry, so that each entry can be counted on the progress line and
// each failure reported with its name and reason. It keeps to the library's
// rules for untrusted packs: every component made on disk is a safe name
// (IsSafeEntryName), every record lies directly in the directory that
// lists it, and no path reaches MAX_PATH; whatever breaks them is skipped
// and reported.
#include <memory>
#include <set>
#include <vector>

#include "platform/cp936.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/packnames.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CExtractOptions {
  std::string strPack;
  std::string strPath;
  std::string strDir = ".";
};

const char* const kNoEntry = "the directory table lists it, but the index has no such entry";

// A record to extract: its full name, its directory's name, its kind.
struct CItem {
  std::string strName;
  std::string strParent;
  bool bDirectory;
};

class CExtractor {
 public:
  CExtractor(CPackFile& pack, std::string strShownPack, std::string strDest)
      : m_pack(pack), m_strShownPack(std::move(strShownPack)), m_strDest(std::move(strDest)) {}

  // The pack directory strKey and everything below it.
  void ExtractDirectory(const std::string& strKey);
  // The entry strName alone.
  void ExtractEntry(const std::string& strName);

  size_t Files() const { return m_nFiles; }
  size_t Failures() const { return m_nFailures; }

 private:
  void Collect(const std::string& strKey, std::vector<CItem>& vecItems, std::set<std::string>& setWalked);
  bool MakeDirectories(const std::string& strName, size_t nComponents);
  bool ExtractOne(const std::string& strName);
  void Fail(const std::string& strName, const std::string& strReason);
  void FailExtract(const std::string& strName, DWORD dwError);
  std::string DiskPath(const std::string& strName) const { return JoinPath(m_strDest, strName); }

  CPackFile& m_pack;
  std::string m_strShownPack;
  std::string m_strDest;
  size_t m_nFiles = 0;
  size_t m_nFailures = 0;
};

void CExtractor::Fail(const std::string& strName, const std::string& strReason) {
  ++m_nFailures;
  ReportFailure(m_strShownPack + ": " + ShownName(strName), strReason);
}

// The records below strKey in the order the table lists them, a directory
// before its children; a directory listed twice is walked once.
void CExtractor::Collect(const std::string& strKey, std::vector<CItem>& vecItems, std::set<std::string>& setWalked) {
  auto itDir = m_pack.GetDirMap().find(strKey);
  if (itDir == m_pack.GetDirMap().end() || !setWalked.insert(strKey).second) return;
  for (const PackDirRecord& record : itDir->second) {
    const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
    const std::string strPrefix = strKey + '\\';
    const std::string strLeaf =
        strPath.compare(0, strPrefix.size(), strPrefix) == 0 ? strPath.substr(strPrefix.size()) : std::string();
    if (strLeaf.empty() || Cp936StrChr(strLeaf.c_str(), '\\')) {
      Fail(strPath, "skipped: the record does not lie in the directory that lists it");
    } else if (!IsSafeEntryName(strLeaf)) {
      Fail(strPath, "skipped: not a safe file name");
    } else if (DiskPath(strPath).size() >= MAX_PATH) {
      Fail(strPath, "skipped: " + ErrorText(ERROR_FILENAME_EXCED_RANGE));
    } else {
      const bool bDirectory = record.nKind == kPackDirKindDir;
      vecItems.push_back({strPath, strKey, bDirectory});
      if (bDirectory) Collect(strPath, vecItems, setWalked);
    }
  }
}

// Makes the disk directories of the first nComponents components of strName.
bool CExtractor::MakeDirectories(const std::string& strName, size_t nComponents) {
  std::string strPath = m_strDest;
  const std::vector<std::string> vecParts = SplitPath(strName);
  for (size_t i = 0; i < nComponents && i < vecParts.size(); ++i) {
    strPath = JoinPath(strPath, vecParts[i]);
    if (strPath.size() >= MAX_PATH) {
      Fail(strName, ErrorText(ERROR_FILENAME_EXCED_RANGE));
      return false;
    }
    if (IsDirectory(strPath)) continue;
    if (!CreateDirectoryA(strPath.c_str(), nullptr) && !IsDirectory(strPath)) {
      Fail(strName, "cannot create the directory: " + ErrorText(GetLastError()));
      return false;
    }
  }
  return true;
}

void CExtractor::FailExtract(const std::string& strName, DWORD dwError) {
  Fail(strName, dwError == ERROR_INVALID_DATA ? "the entry cannot be read or decoded" : ErrorText(dwError));
}

bool CExtractor::ExtractOne(const std::string& strName) {
  ++m_nFiles;
  if (!m_pack.GetEntryMap()->count(strName)) {
    Fail(strName, kNoEntry);
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  if (m_pack.ExtractFile(strName.c_str(), DiskPath(strName).c_str())) return true;
  FailExtract(strName, GetLastError());
  return false;
}

void CExtractor::ExtractDirectory(const std::string& strKey) {
  if (!IsSafeEntryName(strKey)) {
    Fail(strKey, "not a safe path; nothing extracted");
    return;
  }
  if (!MakeDirectories(strKey, SplitPath(strKey).size())) return;
  std::vector<CItem> vecItems;
  std::set<std::string> setWalked;
  Collect(strKey, vecItems, setWalked);
  size_t nTotal = 0;
  for (const CItem& item : vecItems) nTotal += item.bDirectory ? 0 : 1;

  // Directories first, in table order; then the files, which the library
  // decodes on every core and writes in this same order.
  std::set<std::string> setFailedDirs;  // their subtrees are skipped, reported once
  std::vector<CPackFile::ExtractRequest> vecRequests;
  for (const CItem& item : vecItems) {
    if (setFailedDirs.count(item.strParent)) {
      if (item.bDirectory) setFailedDirs.insert(item.strName);
      continue;
    }
    if (item.bDirectory) {
      if (!MakeDirectories(item.strName, SplitPath(item.strName).size())) setFailedDirs.insert(item.strName);
    } else if (!m_pack.GetEntryMap()->count(item.strName)) {
      ++m_nFiles;
      Fail(item.strName, kNoEntry);
    } else {
      vecRequests.push_back({item.strName, DiskPath(item.strName)});
    }
  }
  CStepProgress progress("extracting");
  m_pack.ExtractFiles(vecRequests, [&](size_t nIndex, int nResult) {
    ++m_nFiles;
    if (!nResult) FailExtract(vecRequests[nIndex].strName, GetLastError());
    progress.Step(m_nFiles, nTotal, ShownName(vecRequests[nIndex].strName));
  });
}

void CExtractor::ExtractEntry(const std::string& strName) {
  if (!IsSafeEntryName(strName)) {
    Fail(strName, "not a safe path; nothing extracted");
    return;
  }
  if (DiskPath(strName).size() >= MAX_PATH) {
    Fail(strName, ErrorText(ERROR_FILENAME_EXCED_RANGE));
    return;
  }
  if (MakeDirectories(strName, SplitPath(strName).size() - 1)) ExtractOne(strName);
}

int RunExtract(const CExtractOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  const std::string strDest = AbsolutePath(ArgPath(options.strDir));
  if (!IsDirectory(strDest)) {
    ReportError(options.strDir, PathExists(strDest) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
    return kExitFailure;
  }
  std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
  if (!pPack) return kExitFailure;
  const CPackItem item = FindPackItem(*pPack, options.strPath);
  CExtractor extractor(*pPack, packArg.strShown, strDest);
  switch (item.kind) {
    case PackItemKind::kDirectory:
      extractor.ExtractDirectory(item.strName);
      break;
    case PackItemKind::kEntry:
      extractor.ExtractEntry(item.strName);
      break;
    case PackItemKind::kNone:
      ReportFailure(packArg.strShown + ": " + ShownName(item.strName), "no such directory or entry in the pack");
      return kExitFailure;
  }
  if (extractor.Failures() > 0) {
    ReportFailure(packArg.strShown, std::to_string(extractor.Failures()) + " of the records were not extracted");
    return kExitFailure;
  }
  PrintLine(packArg.strShown + ": " + std::to_string(extractor.Files()) +
            (extractor.Files() == 1 ? " file" : " files") + " extracted into " + options.strDir);
  return kExitOk;
}

}  // namespace

CCommand AddExtractCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CExtractOptions>();
  CLI::App* pSub = app.add_subcommand("extract", "Extract a pack, a directory of it or one entry to disk.");
  pSub->add_option("PACK", pOptions->strPack, "the pack")->required()->type_name("FILE");
  pSub->add_option("PATH", pOptions->strPath, "a directory or an entry of the pack (default: the whole pack)")
      ->type_name("NAME");
  pSub->add_option("-C,--directory", pOptions->strDir,
                   "extract below DIR, which must exist (default: the current "
                   "directory)")
      ->type_name("DIR");
  pSub->footer(
      "Files are written with their full pack path below DIR: 'extract x.pak ui -C out'\n"
      "writes out/res/ui/..., making the directories on the way. Existing files are\n"
      "overwritten. Records whose names are not safe file names (\"..\", device names,\n"
      "reserved characters) are skipped and reported, and so is every entry that\n"
      "cannot be decoded or written; the exit status is then 1.");
  return {pSub, [pOptions] { return RunExtract(*pOptions); }};
}

}  // namespace paktool
