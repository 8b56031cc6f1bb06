#include "platform/posix/path_parse.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/cp936.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/name_order.h"

namespace {

bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

std::vector<std::string> SplitPath(const std::string& strPath, bool (*pfnIsSeparator)(char)) {
  std::vector<std::string> vecParts(1);
  for (char ch : strPath) {
    if (pfnIsSeparator(ch))
      vecParts.emplace_back();
    else
      vecParts.back().push_back(ch);
  }
  return vecParts;
}

bool IsSlash(char ch) { return ch == '/'; }

// Characters Win32 refuses in a name; ':' is only valid as the drive prefix,
// which has been removed before this check.
bool IsValidComponent(const std::string& strPart, bool bAllowWildcards) {
  for (char ch : strPart) {
    unsigned char by = static_cast<unsigned char>(ch);
    if (by < 0x20 || std::strchr("<>\"|:", ch) != nullptr) return false;
    if ((ch == '*' || ch == '?') && !bAllowWildcards) return false;
  }
  return true;
}

void StripTrailingDotsAndSpaces(std::string& strPart) {
  size_t nKeep = strPart.find_last_not_of(". ");
  strPart.erase(nKeep == std::string::npos ? 0 : nKeep + 1);
}

DWORD CurrentDirectoryComponents(std::vector<std::string>& vecComponents) {
  std::unique_ptr<char, decltype(&free)> spCwd(getcwd(nullptr, 0), &free);
  if (!spCwd) return Win32ErrorFromErrno(errno);
  vecComponents.clear();
  for (std::string& strPart : SplitPath(spCwd.get(), &IsSlash)) {
    if (!strPart.empty()) vecComponents.push_back(std::move(strPart));
  }
  return ERROR_SUCCESS;
}

// Appends the parts to the absolute component list, applying "." and ".."
// and the trailing-dot rule the way Win32 does before any lookup.
void AppendParts(const std::vector<std::string>& vecParts, bool bWildcardLast,
                 std::vector<std::string>& vecComponents) {
  for (size_t i = 0; i < vecParts.size(); ++i) {
    std::string strPart = vecParts[i];
    if (strPart == "..") {
      if (!vecComponents.empty()) vecComponents.pop_back();
      continue;
    }
    bool bPattern = bWildcardLast && i + 1 == vecParts.size() && HasWildcard(strPart);
    if (!bPattern) StripTrailingDotsAndSpaces(strPart);
    if (!strPart.empty()) vecComponents.push_back(std::move(strPart));
  }
}

}  // namespace

DWORD ParseWin32Path(const char* pszPath, const CPathRules& rules, std::vector<std::string>& vecComponents) {
  vecComponents.clear();
  if (pszPath == nullptr) return ERROR_PATH_NOT_FOUND;
  size_t nLength = strnlen(pszPath, rules.m_nMaxLength);
  if (nLength >= rules.m_nMaxLength) return ERROR_FILENAME_EXCED_RANGE;
  if (nLength == 0) return ERROR_PATH_NOT_FOUND;

  // Convert before splitting: a GBK trail byte may be 0x5C ('\\').
  std::string strPath;
  if (!Cp936ToUtf8(std::string(pszPath, nLength), strPath)) return ERROR_INVALID_NAME;
  bool bDrive = strPath.size() >= 2 && strPath[1] == ':' &&
                ((strPath[0] >= 'A' && strPath[0] <= 'Z') || (strPath[0] >= 'a' && strPath[0] <= 'z'));
  if (bDrive) strPath.erase(0, 2);
  if (!bDrive && strPath.size() >= 2 && IsSeparator(strPath[0]) && IsSeparator(strPath[1])) return ERROR_BAD_NETPATH;

  std::vector<std::string> vecParts = SplitPath(strPath, &IsSeparator);
  for (size_t i = 0; i < vecParts.size(); ++i) {
    bool bLast = i + 1 == vecParts.size();
    if (!IsValidComponent(vecParts[i], rules.m_bWildcardLast && bLast)) return ERROR_INVALID_NAME;
  }
  bool bAbsolute = !strPath.empty() && IsSeparator(strPath[0]);
  if (!bAbsolute) {
    DWORD dwError = CurrentDirectoryComponents(vecComponents);
    if (dwError != ERROR_SUCCESS) return dwError;
  }
  AppendParts(vecParts, rules.m_bWildcardLast, vecComponents);
  return ERROR_SUCCESS;
}

std::string PosixToWin32Path(const std::string& strPosix) {
  std::string strBackslashed(strPosix);
  for (char& ch : strBackslashed) {
    if (ch == '/') ch = '\\';
  }
  std::string strWin32;
  Utf8ToCp936(strBackslashed, strWin32);
  return strWin32;
}
