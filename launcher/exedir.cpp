// g_szExeDir: the tool's own directory, where clientres.pak and version.ver
// live.
#include <cstring>

#include "launcher/updatedriver.h"
#include "platform/cp936.h"

char g_szExeDir[MAX_PATH] = {};

bool LoadExeDir() {
  std::memset(g_szExeDir, 0, sizeof(g_szExeDir));
  char szModule[MAX_PATH] = {};
  DWORD nLength = GetModuleFileNameA(nullptr, szModule, MAX_PATH);
  if (nLength == 0) return false;
  if (nLength >= MAX_PATH) {
    // Truncated: a cut path would name some other directory.
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // By character, so a trail byte 0x5C is not taken for the separator.
  char* pszSeparator = Cp936StrRChr(szModule, '\\');
  if (pszSeparator != nullptr) *pszSeparator = '\0';
  std::memcpy(g_szExeDir, szModule, sizeof(g_szExeDir));
  return true;
}
