#include "platform/module_name.h"

#include <cstring>

#include "platform/cp936.h"

DWORD CopyModuleFileName(const std::string& strPath, LPSTR pszFilename, DWORD nSize) {
  if (pszFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (strPath.size() < nSize) {
    std::memcpy(pszFilename, strPath.c_str(), strPath.size() + 1);
    return static_cast<DWORD>(strPath.size());
  }
  const size_t nCopy = Cp936FittingPrefix(strPath, nSize - 1);
  std::memcpy(pszFilename, strPath.data(), nCopy);
  pszFilename[nCopy] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}
