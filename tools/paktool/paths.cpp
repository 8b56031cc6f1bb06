#include "tools/paktool/paths.h"

#include "platform/cp936.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/scopedhandle.h"

namespace paktool {

namespace {

// "\x" or "C:..." : a path that does not depend on the current directory.
bool IsAbsolute(const std::string& strPath) {
  return (!strPath.empty() && strPath[0] == '\\') || (strPath.size() >= 2 && strPath[1] == ':');
}

// The drive of a Windows path ("C:"), kept in front of the components.
std::string DrivePrefix(const std::string& strPath) {
  return strPath.size() >= 2 && strPath[1] == ':' ? strPath.substr(0, 2) : std::string();
}

}  // namespace

std::string ArgPath(std::string strArg) {
  for (char& ch : strArg) {
    if (ch == '/') ch = '\\';
  }
  return strArg;
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

std::string WorkingDirectory() {
  char szDir[MAX_PATH] = {};
  const DWORD dwLen = GetCurrentDirectoryA(MAX_PATH, szDir);
  return (dwLen > 0 && dwLen < MAX_PATH) ? std::string(szDir, dwLen) : std::string();
}

std::string AbsolutePath(const std::string& strPath) {
  std::string strFull = strPath;
  if (!IsAbsolute(strFull)) strFull = WorkingDirectory() + '\\' + strFull;
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
  return strOut.size() == strDrive.size() ? strOut + '\\' : strOut;
}

std::string LastComponent(const std::string& strPath) {
  const std::vector<std::string> vecParts = SplitPath(strPath);
  return vecParts.empty() ? std::string() : vecParts.back();
}

std::string ParentPath(const std::string& strPath) {
  const char* pszSep = Cp936StrRChr(strPath.c_str(), '\\');
  if (!pszSep) return std::string();
  const size_t nSep = static_cast<size_t>(pszSep - strPath.c_str());
  return nSep == 0 ? std::string("\\") : strPath.substr(0, nSep);
}

bool PathExists(const std::string& strPath) { return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FileSize(const std::string& strPath, uint64_t& qwSize) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  DWORD dwHigh = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD dwLow = GetFileSize(hFile.Get(), &dwHigh);
  if (dwLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  qwSize = (static_cast<uint64_t>(dwHigh) << 32) | dwLow;
  return true;
}

bool IsDirectory(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

CWorkingDirGuard::~CWorkingDirGuard() {
  if (!m_strSaved.empty()) SetCurrentDirectoryA(m_strSaved.c_str());
}

}  // namespace paktool
