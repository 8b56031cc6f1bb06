// paktool build: a pack from a directory tree, from a ConfigDir.txt work
// directory (build_configdir.cpp) or from a file list, through the
// library's build operations.
#include "tools/paktool/build.h"

#include "platform/paths.h"
#include "platform/text_case.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/leftout.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

constexpr char kPakSuffix[] = ".pak";
constexpr size_t kPakSuffixLength = sizeof(kPakSuffix) - 1;

bool EndsWithPak(const std::string& str) {
  return str.size() >= kPakSuffixLength && LowerCopy(str.substr(str.size() - kPakSuffixLength)) == kPakSuffix;
}

// The build root: the source directory itself, or with --name the nearest
// directory of that name on its path (then only the source's subtree is
// packed, below names that start at the root).
bool FindRootDirectory(const std::string& strSource, const std::string& strName, std::string& strRoot) {
  if (strName.empty()) {
    strRoot = strSource;
    return !LastComponent(strSource).empty();
  }
  for (std::string strDir = strSource; !LastComponent(strDir).empty(); strDir = ParentPath(strDir)) {
    if (LowerCopy(LastComponent(strDir)) == LowerCopy(strName)) {
      strRoot = strDir;
      return true;
    }
  }
  return false;
}

// CreatePack with the target's destination; the pack's path in szOutPath.
bool CreateAt(CPackFile& pack, const std::string& strSourcePath, const CBuildTarget& target, bool bCompress,
              char (&szOutPath)[MAX_PATH]) {
  return pack.CreatePack(strSourcePath.c_str(), target.strDir.c_str(), bCompress, szOutPath,
                         target.strFileName.empty() ? nullptr : target.strFileName.c_str(), false);
}

int BuildFromDirectory(const CBuildOptions& options, CBuildTarget target) {
  const std::string strSource = AbsolutePath(ArgPath(options.strSource));
  if (!IsDirectory(strSource)) {
    ReportError(options.strSource, PathExists(strSource) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
    return kExitFailure;
  }
  std::string strRoot;
  if (!FindRootDirectory(strSource, options.strName, strRoot)) {
    ReportFailure(options.strSource, options.strName.empty()
                                         ? std::string("a pack needs a directory with a name as its root")
                                         : "no directory named \"" + options.strName + "\" on its path");
    return kExitFailure;
  }
  const std::string strPackName = LowerCopy(LastComponent(strRoot));
  if (!target.bGiven) target.strShown = strPackName + kPakSuffix;

  CPackFile pack;
  pack.SetContentTags(options.bTags);
  pack.SetBuildExcludes(options.vecExcludes);
  char szOutPath[MAX_PATH] = {};
  bool bBuilt = false;
  size_t nLeftOut = 0;
  CLeftOutFiles leftOut(CurrentDirectory());
  std::vector<CBuildFileName> vecNames;
  DWORD dwError = ERROR_SUCCESS;  // taken at once: the spinner and the guard make calls of their own
  {
    CSpinner spinner("building " + ShortName(target.strShown, 40));
    CWorkingDirGuard guard;  // the directory walk leaves the current directory changed
    pack.SetRootPath(strRoot.c_str());
    pack.CollectFiles(strSource.c_str());
    vecNames = pack.NameBuildFiles();
    leftOut.Add(vecNames, strRoot);
    nLeftOut = leftOut.Report();
    bBuilt = CreateAt(pack, strSource, target, options.bCompress, szOutPath);
    dwError = GetLastError();
  }
  if (!bBuilt) {
    ReportError(target.strShown, dwError);
    return kExitFailure;
  }
  return ReportBuilt(szOutPath, target.strShown, nLeftOut);
}

int BuildFromList(const CBuildOptions& options, CBuildTarget target) {
  const std::string strList = AbsolutePath(ArgPath(options.strList));
  CPackFile pack;
  pack.SetContentTags(options.bTags);
  pack.SetBuildExcludes(options.vecExcludes);
  // A pack name set first makes every line of the list a file line.
  if (!options.strName.empty()) pack.SetPackName(LowerCopy(options.strName).c_str());
  if (!pack.ReadFileList(strList.c_str())) {
    ReportError(options.strList, GetLastError());
    return kExitFailure;
  }
  char szOutPath[MAX_PATH] = {};
  bool bBuilt = false;
  const std::vector<CBuildFileName> vecNames = pack.NameBuildFiles();
  CLeftOutFiles leftOut(CurrentDirectory());
  leftOut.Add(vecNames, std::string());
  const size_t nLeftOut = leftOut.Report();
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("building " + ShortName(options.strList, 40));
    bBuilt = CreateAt(pack, strList, target, options.bCompress, szOutPath);
    dwError = GetLastError();
  }
  if (!target.bGiven) target.strShown = LastComponent(szOutPath);
  if (!bBuilt) {
    ReportError(target.strShown, dwError);
    return kExitFailure;
  }
  return ReportBuilt(szOutPath, target.strShown, nLeftOut);
}

int RunBuild(const CBuildOptions& options) {
  const int nSources = !options.strSource.empty() + !options.strConfigDir.empty() + !options.strList.empty();
  if (nSources != 1) return UsageError("build", "give one of: a directory, --config-dir DIR, --list FILE");
  CBuildTarget target;
  if (!MakeBuildTarget(options.strOutput, target)) return UsageError("build", "-o needs a file name before .pak");
  if (!options.strConfigDir.empty()) return BuildFromConfigDir(options, target);
  if (!options.strList.empty()) return BuildFromList(options, target);
  return BuildFromDirectory(options, target);
}

}  // namespace

bool MakeBuildTarget(const std::string& strOutput, CBuildTarget& target) {
  target = CBuildTarget();
  if (strOutput.empty()) {
    target.strDir = CurrentDirectory();
    return true;
  }
  const std::string strPath = AbsolutePath(ArgPath(strOutput));
  std::string strFile = LastComponent(strPath);
  const bool bSuffix = EndsWithPak(strFile);
  if (bSuffix) strFile.erase(strFile.size() - kPakSuffixLength);
  if (strFile.empty()) return false;
  target.bGiven = true;
  target.strDir = ParentPath(strPath);
  target.strFileName = strFile;
  target.strShown = bSuffix ? strOutput : strOutput + kPakSuffix;
  return true;
}

std::string TargetPath(const CBuildTarget& target, const std::string& strPackName) {
  return JoinPath(target.strDir, (target.strFileName.empty() ? strPackName : target.strFileName) + kPakSuffix);
}

int ReportBuilt(const std::string& strPath, const std::string& strShown, size_t nLeftOut) {
  CPackFile pack;
  if (!pack.Open(strPath)) {
    ReportError(strShown, GetLastError());
    return kExitFailure;
  }
  const PackHeader& header = *pack.GetHeader();
  const std::string strRoot = FieldString(header.szRootName, kPackRootNameSize);
  if (strRoot.empty()) {
    ReportFailure(strShown,
                  "written without a root name: a list's first line must name the root and end with "
                  "CR LF, or give --name");
    return kExitFailure;
  }
  uint64_t qwSize = 0;
  FileSize(strPath, qwSize);
  PrintLine(strShown + ": " + std::to_string(header.nEntryCount) + (header.nEntryCount == 1 ? " entry" : " entries") +
            " below " + strRoot + "/, " + (header.byCompressed ? "compressed, " : "plain, ") + std::to_string(qwSize) +
            " bytes");
  if (nLeftOut == 0) return kExitOk;
  ReportFailure(strShown, std::to_string(nLeftOut) + (nLeftOut == 1 ? " file" : " files") +
                              " of the source left out (see above)");
  return kExitFailure;
}

CCommand AddBuildCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CBuildOptions>();
  CLI::App* pSub =
      app.add_subcommand("build", "Build a pack from a directory, a ConfigDir.txt work directory or a file list.");
  CLI::Option* pSource = pSub->add_option("SOURCE", pOptions->strSource, "the directory to pack")->type_name("DIR");
  CLI::Option* pConfigDir = pSub->add_option("--config-dir", pOptions->strConfigDir,
                                             "pack the lines of DIR/ConfigDir.txt; the root is DIR's name")
                                ->type_name("DIR");
  CLI::Option* pList =
      pSub->add_option("--list", pOptions->strList, "pack the files a list names; its first line names the root")
          ->type_name("FILE");
  CLI::Option* pName =
      pSub->add_option("--name", pOptions->strName, "the root name: SOURCE's own name or that of a directory above it")
          ->type_name("NAME");
  pSub->add_option("-o,--output", pOptions->strOutput,
                   "the pack to write (default: ROOT.pak in the current "
                   "directory; with --config-dir in DIR)")
      ->type_name("FILE");
  pSub->add_flag("-z,--compress", pOptions->bCompress, "store every entry as an LZMA (Lzma86) stream");
  AddExcludeOption(*pSub, pOptions->vecExcludes);
  pSub->add_flag("--tags", pOptions->bTags,
                 "tag every entry with the MD5 of its content, so merges replace exactly "
                 "the entries that changed");
  pSource->excludes(pConfigDir);
  pSource->excludes(pList);
  pConfigDir->excludes(pList);
  pName->excludes(pConfigDir);
  pSub->footer(
      "Entry names start at the root name: 'build client/res' packs client/res/ui/a.txt\n"
      "as res/ui/a.txt. With --name the root may be a directory above SOURCE, and only\n"
      "SOURCE's subtree is packed: 'build client/res/ui --name res' gives res/ui/...\n"
      "Directories named .svn are skipped. ConfigDir.txt and file lists are code page\n"
      "936 text with CR LF line ends; a list's paths are taken from the current\n"
      "directory. The pack is written beside its destination and moved into place\n"
      "when complete: a failed build leaves an older pack of that name as it was.\n"
      "-o adds .pak to a name without it. A source file the pack cannot hold (its\n"
      "entry name is another file's, as names differing only in letter case are;\n"
      "it cannot be opened; it has no entry name) is named on standard error before\n"
      "the build, and the build then exits with 1, keeping the pack it wrote. Files\n"
      "left out on purpose with --exclude are only counted; 'build client/res\n"
      "--exclude '*.bak' --exclude net/netfilter' leaves out every .bak file and the\n"
      "directory net/netfilter below the root.");
  return {pSub, [pOptions] { return RunBuild(*pOptions); }};
}

}  // namespace paktool
