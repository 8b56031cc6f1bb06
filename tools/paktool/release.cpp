#include "tools/paktool/release.h"

#include <nlohmann/json.hpp>

#include "platform/paths.h"
#include "platform/text_case.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"

namespace paktool {

namespace {

const char* KindText(CRelease::Kind eKind) {
  switch (eKind) {
    case CRelease::Kind::kPack:
      return "pack";
    case CRelease::Kind::kDirectory:
      return "directory";
    case CRelease::Kind::kList:
      return "list";
    case CRelease::Kind::kEmpty:
      break;
  }
  return "empty";
}

}  // namespace

bool OpenRelease(const std::string& strArg, CRelease& release, const std::vector<std::string>& vecExcludes) {
  release.strShown = strArg;
  release.strPath = AbsolutePath(ArgPath(strArg));
  if (!IsDirectory(release.strPath)) {
    release.eKind = CRelease::Kind::kPack;
    release.pRelease = OpenPack({release.strPath, strArg});
    if (!release.pRelease) return false;
    release.strRoot = FieldString(release.pRelease->GetRootName(), kPackRootNameSize);
    return true;
  }
  release.eKind = CRelease::Kind::kDirectory;
  release.strRoot = LowerCopy(LastComponent(release.strPath));
  if (release.strRoot.empty()) {
    ReportFailure(strArg, "a release tree needs a directory with a name as its root");
    return false;
  }
  release.pRelease = std::make_unique<CPackFile>();
  release.pRelease->SetBuildExcludes(vecExcludes);
  CWorkingDirGuard guard;  // the walk leaves the current directory changed
  release.pRelease->SetRootPath(release.strPath.c_str());
  release.pRelease->CollectFiles(release.strPath.c_str());
  release.vecNames = release.pRelease->NameBuildFiles();
  return true;
}

bool OpenListRelease(const std::string& strArg, CRelease& release, const std::vector<std::string>& vecExcludes) {
  release.strShown = strArg;
  release.strPath = AbsolutePath(ArgPath(strArg));
  release.eKind = CRelease::Kind::kList;
  release.pRelease = std::make_unique<CPackFile>();
  release.pRelease->SetBuildExcludes(vecExcludes);
  if (!release.pRelease->ReadFileList(release.strPath.c_str())) {
    ReportError(strArg, GetLastError());
    return false;
  }
  release.vecNames = release.pRelease->NameBuildFiles();
  release.strRoot = release.pRelease->ReleaseRoot();
  if (release.strRoot.empty()) {
    ReportFailure(strArg, "the list's first line must name the root and end with CR LF");
    return false;
  }
  return true;
}

void EmptyRelease(const std::string& strRoot, CRelease& release) {
  release.strShown.clear();
  release.eKind = CRelease::Kind::kEmpty;
  release.strRoot = strRoot;
  release.pRelease = std::make_unique<CPackFile>();
  release.pRelease->SetPackName(strRoot.c_str());
}

nlohmann::json ReleaseJson(const CRelease& release) {
  if (release.eKind == CRelease::Kind::kEmpty) return nullptr;
  return {{"path", JsonText(release.strShown)}, {"kind", KindText(release.eKind)}, {"root", JsonText(release.strRoot)}};
}

}  // namespace paktool
