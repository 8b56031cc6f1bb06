#include "platform/posix/path_lookup.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/dir_cache.h"
#include "platform/posix/errno_map.h"

namespace {

std::string JoinPath(const std::string& strDir, const std::string& strName) {
  return (strDir == "/" ? strDir : strDir + "/") + strName;
}

bool IsDirectory(const std::string& strPath) {
  struct stat st;
  return stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DWORD ResolveComponents(const std::vector<std::string>& vecComponents, size_t nCount, CResolvedPath& resolved) {
  resolved = CResolvedPath();
  std::string strPath = "/";
  size_t i = 0;
  for (; i < nCount; ++i) {
    const std::string& strName = vecComponents[i];
    std::string strExact = JoinPath(strPath, strName);
    struct stat st;
    if (lstat(strExact.c_str(), &st) == 0) {
      strPath = std::move(strExact);
      continue;
    }
    if (errno != ENOENT && errno != ENOTDIR) return Win32ErrorFromErrno(errno);
    std::string strMatch = FindIgnoringCase(strPath, strName);
    if (strMatch.empty()) break;
    strPath = JoinPath(strPath, strMatch);
  }
  resolved.m_nMissing = nCount - i;
  resolved.m_bParentExists = resolved.m_nMissing == 0 || (resolved.m_nMissing == 1 && IsDirectory(strPath));
  for (; i < nCount; ++i) strPath = JoinPath(strPath, vecComponents[i]);
  resolved.m_strPath = std::move(strPath);
  return ERROR_SUCCESS;
}

DWORD ResolveWin32Path(const char* pszPath, const CPathRules& rules, CResolvedPath& resolved) {
  std::vector<std::string> vecComponents;
  DWORD dwError = ParseWin32Path(pszPath, rules, vecComponents);
  if (dwError != ERROR_SUCCESS) return dwError;
  // Most paths a program uses exist in exactly the case given.
  std::string strWhole;
  for (const std::string& strName : vecComponents) strWhole += "/" + strName;
  struct stat st;
  if (!strWhole.empty() && lstat(strWhole.c_str(), &st) == 0) {
    resolved = CResolvedPath();
    resolved.m_strPath = std::move(strWhole);
    return ERROR_SUCCESS;
  }
  return ResolveComponents(vecComponents, vecComponents.size(), resolved);
}

DWORD ResolveWin32Path(const char* pszPath, CResolvedPath& resolved) {
  return ResolveWin32Path(pszPath, CPathRules(), resolved);
}
