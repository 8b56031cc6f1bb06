#include "platform/paths.h"

#include <algorithm>

#include "platform/cp936.h"
#include "platform/win32.h"

namespace {

// The drive of a path ("C:"), kept in front of the components. ':' is never
// a trail byte, so the test by bytes is safe.
std::string DrivePrefix(const std::string& strPath) {
  return strPath.size() >= 2 && strPath[1] == ':' ? strPath.substr(0, 2) : std::string();
}

// '/' is never the trail byte of a character, so it is replaced byte by byte.
std::string Backslashed(std::string strPath) {
  std::replace(strPath.begin(), strPath.end(), '/', '\\');
  return strPath;
}

}  // namespace

bool IsAbsolutePath(const std::string& strPath) {
  return (!strPath.empty() && strPath[0] == '\\') || (strPath.size() >= 2 && strPath[1] == ':');
}

std::string CurrentDirectory() {
  char szDir[MAX_PATH] = {};
  const DWORD dwLen = GetCurrentDirectoryA(MAX_PATH, szDir);
  return (dwLen > 0 && dwLen < MAX_PATH) ? std::string(szDir, dwLen) : std::string();
}

std::string JoinPath(const std::string& strDir, const std::string& strName) {
  if (strDir.empty()) return strName;
  if (strDir.back() == '\\' || strDir.back() == '/') return strDir + strName;
  return strDir + '\\' + strName;
}

std::vector<std::string> SplitPath(const std::string& strPath) {
  std::vector<std::string> vecParts;
  const char* pszStart = strPath.c_str();
  for (;;) {
    const char* pszSep = Cp936StrChr(pszStart, '\\');
    const std::string strPart = pszSep ? std::string(pszStart, pszSep) : std::string(pszStart);
    if (!strPart.empty()) vecParts.push_back(strPart);
    if (!pszSep) break;
    pszStart = pszSep + 1;
  }
  return vecParts;
}

size_t LastSeparator(const std::string& strPath) {
  const char* pszSep = Cp936StrRChr(strPath.c_str(), '\\');
  return pszSep ? static_cast<size_t>(pszSep - strPath.c_str()) : std::string::npos;
}

std::string AbsolutePath(const std::string& strPath, const std::string& strBaseDir) {
  std::string strFull = Backslashed(strPath);
  if (!IsAbsolutePath(strFull)) strFull = JoinPath(Backslashed(strBaseDir), strFull);
  const std::string strDrive = DrivePrefix(strFull);
  std::vector<std::string> vecKept;
  for (const std::string& strPart : SplitPath(strFull.substr(strDrive.size()))) {
    if (strPart == ".") continue;
    if (strPart == "..") {
      if (!vecKept.empty()) vecKept.pop_back();
      continue;
    }
    vecKept.push_back(strPart);
  }
  std::string strOut = strDrive;
  for (const std::string& strPart : vecKept) strOut += '\\' + strPart;
  return vecKept.empty() ? strOut + '\\' : strOut;
}

std::string AbsolutePath(const std::string& strPath) { return AbsolutePath(strPath, CurrentDirectory()); }

std::string ComparablePath(const std::string& strPath, const std::string& strCurrentDir) {
  std::string strOut = AbsolutePath(strPath, strCurrentDir);
  Cp936StrLwr(&strOut[0]);
  return strOut;
}
