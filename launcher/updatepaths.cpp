// Resolving the update pack and the client pack against the tool's
// directory.
#include <cstring>
#include <string>

#include "launcher/updatedriver.h"
#include "platform/cp936.h"
#include "platform/paths.h"

namespace {

const char kClientPackName[] = "\\clientres.pak";

std::string Lowered(const char* pszText) {
  std::string str(pszText);
  Cp936StrLwr(str.data());
  return str;
}

// Copies strPath with its terminator into a MAX_PATH buffer, or fails with
// ERROR_FILENAME_EXCED_RANGE when it does not fit.
bool StorePath(const std::string& strPath, char (&szOut)[MAX_PATH]) {
  if (strPath.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(szOut, strPath.c_str(), strPath.size() + 1);
  return true;
}

}  // namespace

bool ResolveUpdatePaths(const char* pszUpdateArg, CUpdatePaths& paths) {
  std::memset(&paths, 0, sizeof(paths));
  if (pszUpdateArg == nullptr || !LoadExeDir()) return false;
  const std::string strDir = Lowered(g_szExeDir);
  const std::string strArg = Lowered(pszUpdateArg);
  // An absolute path is taken as it is, wherever it leads. Containing the
  // directory anywhere counts too: "d:\game\update.pak" as well as a path
  // through a link or share that ends in it.
  const bool bAsItIs = IsAbsolutePath(strArg) || Cp936StrStr(strArg.c_str(), strDir.c_str()) != nullptr;
  const std::string strUpdate = bAsItIs ? strArg : strDir + "\\" + strArg;
  return StorePath(strDir, paths.szToolDir) && StorePath(strUpdate, paths.szUpdatePack) &&
         StorePath(strDir + kClientPackName, paths.szClientPack);
}
