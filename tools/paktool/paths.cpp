#include "tools/paktool/paths.h"

#include "platform/cp936.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace paktool {

std::string ArgPath(std::string strArg) {
  for (char& ch : strArg) {
    if (ch == '/') ch = '\\';
  }
  return strArg;
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
  return hFile && ::FileSize(hFile.Get(), qwSize);
}

bool IsDirectory(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

CWorkingDirGuard::~CWorkingDirGuard() {
  if (!m_strSaved.empty()) SetCurrentDirectoryA(m_strSaved.c_str());
}

}  // namespace paktool
