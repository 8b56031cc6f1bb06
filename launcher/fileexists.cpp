#include "launcher/processcontrol.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

int FileExists(const char* pszPath) {
  if (pszPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  CScopedHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  return hFile ? 1 : 0;
}
