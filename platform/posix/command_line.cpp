#include "platform/posix/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/cp936.h"
#include "platform/posix/path_lookup.h"

namespace {

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

// Bytes of the character at pszAt: 2 for a lead byte with its trail byte.
size_t CharBytes(const char* pszAt) {
  return Cp936IsLeadByte(static_cast<unsigned char>(pszAt[0])) && pszAt[1] != '\0' ? 2 : 1;
}

// Argument 0: no escapes at all.
const char* TakeProgramName(const char* psz, std::string& strArg) {
  if (*psz == '"') {
    ++psz;
    while (*psz != '\0' && *psz != '"') {
      size_t nBytes = CharBytes(psz);
      strArg.append(psz, nBytes);
      psz += nBytes;
    }
    return *psz == '"' ? psz + 1 : psz;
  }
  while (*psz != '\0' && !IsBlank(*psz)) {
    size_t nBytes = CharBytes(psz);
    strArg.append(psz, nBytes);
    psz += nBytes;
  }
  return psz;
}

const char* TakeArgument(const char* psz, std::string& strArg) {
  bool bQuoted = false;
  while (*psz != '\0' && (bQuoted || !IsBlank(*psz))) {
    size_t nBackslashes = 0;
    while (psz[nBackslashes] == '\\') ++nBackslashes;
    if (psz[nBackslashes] == '"') {
      strArg.append(nBackslashes / 2, '\\');
      psz += nBackslashes;
      if (nBackslashes % 2 == 1) {
        strArg.push_back('"');
        ++psz;
      } else if (bQuoted && psz[1] == '"') {
        strArg.push_back('"');
        psz += 2;
      } else {
        bQuoted = !bQuoted;
        ++psz;
      }
    } else if (nBackslashes > 0) {
      strArg.append(nBackslashes, '\\');
      psz += nBackslashes;
    } else {
      size_t nBytes = CharBytes(psz);
      strArg.append(psz, nBytes);
      psz += nBytes;
    }
  }
  return psz;
}

bool HasDirectory(const std::string& strName) {
  if (strName.size() >= 2 && strName[1] == ':') return true;
  return Cp936StrChr(strName.c_str(), '\\') != nullptr || Cp936StrChr(strName.c_str(), '/') != nullptr;
}

bool HasExtension(const std::string& strName) {
  const char* pszLast = strName.c_str();
  for (const char* pszSep : {Cp936StrRChr(strName.c_str(), '\\'), Cp936StrRChr(strName.c_str(), '/')}) {
    if (pszSep != nullptr && pszSep + 1 > pszLast) pszLast = pszSep + 1;
  }
  return Cp936StrChr(pszLast, '.') != nullptr;
}

// Resolves one Win32 path; ERROR_SUCCESS only for an existing regular file.
DWORD ResolveProgramFile(const std::string& strPath, std::string& strPosixPath) {
  CResolvedPath resolved;
  DWORD dwError = ResolveWin32Path(strPath.c_str(), resolved);
  if (dwError != ERROR_SUCCESS) return dwError;
  if (!resolved.Exists()) return resolved.MissingError();
  struct stat st;
  if (stat(resolved.m_strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  strPosixPath = resolved.m_strPath;
  return ERROR_SUCCESS;
}

DWORD ResolveWithExtension(const std::string& strPath, std::string& strPosixPath) {
  DWORD dwError = ResolveProgramFile(strPath, strPosixPath);
  if (dwError == ERROR_SUCCESS || HasExtension(strPath)) return dwError;
  return ResolveProgramFile(strPath + ".exe", strPosixPath) == ERROR_SUCCESS ? ERROR_SUCCESS : dwError;
}

std::vector<std::string> SearchDirectories() {
  std::vector<std::string> vecDirs;
  char szExe[4096];
  ssize_t nLength = readlink("/proc/self/exe", szExe, sizeof(szExe));
  if (nLength > 0) {
    std::string strExe(szExe, static_cast<size_t>(nLength));
    vecDirs.push_back(strExe.substr(0, strExe.rfind('/') + 1));
  }
  std::unique_ptr<char, decltype(&free)> spCwd(getcwd(nullptr, 0), &free);
  if (spCwd) vecDirs.push_back(spCwd.get());
  const char* pszPath = getenv("PATH");
  std::string strPath = pszPath != nullptr ? pszPath : "";
  for (size_t nPos = 0; nPos <= strPath.size();) {
    size_t nEnd = strPath.find(':', nPos);
    if (nEnd == std::string::npos) nEnd = strPath.size();
    std::string strDir = strPath.substr(nPos, nEnd - nPos);
    if (!strDir.empty() && strDir[0] == '/') vecDirs.push_back(strDir);  // relative entries are not searched
    nPos = nEnd + 1;
  }
  return vecDirs;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* pszCommandLine) {
  std::vector<std::string> vecArgs;
  if (pszCommandLine == nullptr) return vecArgs;
  const char* psz = pszCommandLine;
  while (IsBlank(*psz)) ++psz;
  if (*psz == '\0') return vecArgs;
  vecArgs.emplace_back();
  psz = TakeProgramName(psz, vecArgs.back());
  for (;;) {
    while (IsBlank(*psz)) ++psz;
    if (*psz == '\0') break;
    vecArgs.emplace_back();
    psz = TakeArgument(psz, vecArgs.back());
  }
  return vecArgs;
}

DWORD FindProgram(const std::string& strName, bool bSearch, std::string& strPosixPath) {
  if (strName.empty()) return ERROR_FILE_NOT_FOUND;
  if (!bSearch || HasDirectory(strName)) return ResolveWithExtension(strName, strPosixPath);
  for (const std::string& strDir : SearchDirectories()) {
    std::string strCandidate = PosixToWin32Path(strDir);
    if (strCandidate.empty() || strCandidate.back() != '\\') strCandidate.push_back('\\');
    if (ResolveWithExtension(strCandidate + strName, strPosixPath) == ERROR_SUCCESS) return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}
