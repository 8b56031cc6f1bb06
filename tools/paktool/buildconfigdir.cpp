// paktool build --config-dir DIR: PackConfigDirs run in the work directory.
//
// PackConfigDirs reports nothing and always writes DIR\<name>.pak, where
// a failed build leaves an older pack as it was. So an older pack is moved
// aside first: afterwards a pack at that path is this build's, and none
// means the build failed (the older one is then put back). -o moves the new
// pack to its place, and the older one, if any, returns to DIR.
#include "platform/paths.h"
#include "platform/text_case.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/paktool/build.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/leftout.h"
#include "tools/paktool/output.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

constexpr char kConfigDirFile[] = "ConfigDir.txt";
constexpr char kAsideSuffix[] = ".paktool-old";

// A pack already at strPath, moved aside for the time of a build.
class CPackAside {
 public:
  explicit CPackAside(std::string strPath) : m_strPath(std::move(strPath)), m_strAside(m_strPath + kAsideSuffix) {}
  ~CPackAside() { Restore(); }
  CPackAside(const CPackAside&) = delete;
  CPackAside& operator=(const CPackAside&) = delete;

  // Moves the pack aside when there is one. False when that fails (a file
  // of the aside name is never replaced).
  bool MoveAside() {
    if (!PathExists(m_strPath)) return true;
    if (!MoveFileExA(m_strPath.c_str(), m_strAside.c_str(), 0)) return false;
    m_bAside = true;
    return true;
  }
  // Puts the older pack back at its path, where nothing may be now.
  void Restore() {
    if (m_bAside && MoveFileExA(m_strAside.c_str(), m_strPath.c_str(), 0)) m_bAside = false;
  }
  // The new pack stays: the older one goes.
  void Drop() {
    if (m_bAside && DeleteFileA(m_strAside.c_str())) m_bAside = false;
  }
  const std::string& AsidePath() const { return m_strAside; }

 private:
  std::string m_strPath;
  std::string m_strAside;
  bool m_bAside = false;
};

}  // namespace

int BuildFromConfigDir(const CBuildOptions& options, const CBuildTarget& target) {
  const std::string strShownList = options.strConfigDir + "/" + kConfigDirFile;
  const std::string strBaseDir = CurrentDirectory();
  CWorkingDirGuard guard;
  if (!SetCurrentDirectoryA(AbsolutePath(ArgPath(options.strConfigDir)).c_str())) {
    ReportError(options.strConfigDir, GetLastError());
    return kExitFailure;
  }
  // Without the list the library would write an empty pack.
  if (!PathExists(kConfigDirFile)) {
    ReportError(strShownList, ERROR_FILE_NOT_FOUND);
    return kExitFailure;
  }
  // The library names the pack after the work directory as it finds it.
  const std::string strWork = CurrentDirectory();
  const std::string strPackName = LowerCopy(LastComponent(strWork));
  const std::string strBuilt = JoinPath(strWork, strPackName + ".pak");
  const std::string strShown = target.bGiven ? target.strShown : options.strConfigDir + "/" + strPackName + ".pak";

  CPackAside aside(strBuilt);
  if (!aside.MoveAside()) {
    ReportFailure(strShown, "cannot move the existing pack aside to " + LastComponent(aside.AsidePath()) + ": " +
                                ErrorText(GetLastError()));
    return kExitFailure;
  }
  CPackFile pack;
  pack.SetContentTags(options.bTags);
  pack.SetBuildExcludes(options.vecExcludes);
  DWORD dwError = ERROR_SUCCESS;
  size_t nLeftOut = 0;
  CLeftOutFiles leftOut(strBaseDir);
  std::vector<CBuildFileName> vecNames;
  {
    CSpinner spinner("building " + ShortName(strShown, 40));
    SetLastError(ERROR_SUCCESS);
    // PackConfigDirs in two steps, so that what the build leaves out is told first.
    if (pack.CollectConfigDirs()) {
      vecNames = pack.NameBuildFiles();
      leftOut.Add(vecNames, strWork);
      nLeftOut = leftOut.Report();
      const std::string strWorkDir = pack.WorkDirectory();
      pack.CreatePack(strWorkDir.c_str(), strWorkDir.c_str(), options.bCompress, nullptr, nullptr, false);
    }
    dwError = GetLastError();
  }
  if (!PathExists(strBuilt)) {
    ReportFailure(strShown, "the build failed: " + ErrorText(dwError));
    return kExitFailure;
  }
  std::string strFinal = strBuilt;
  if (target.bGiven) {
    const std::string strTarget = TargetPath(target, strPackName);
    if (ComparablePath(strTarget, strWork) != ComparablePath(strBuilt, strWork)) {
      if (!MoveFileExA(strBuilt.c_str(), strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        ReportFailure(strShown, "cannot move the new pack there: " + ErrorText(GetLastError()));
        DeleteFileA(strBuilt.c_str());
        return kExitFailure;
      }
      strFinal = strTarget;
    }
  }
  if (strFinal == strBuilt) aside.Drop();
  return ReportBuilt(strFinal, strShown, nLeftOut);
}

}  // namespace paktool
