// Private copies on Windows: a new file in the given directory that no
// other open may share and that goes when its handle closes
// (platform/private_copy.h).
#include "platform/private_copy.h"

#include <string>

namespace {

// A name no other copy of this or another process takes: the process id, a
// count and the tick.
std::string CopyName(LPCSTR pszDir, unsigned nCount) {
  std::string strDir = pszDir;
  if (!strDir.empty() && strDir.back() != '\\' && strDir.back() != '/') strDir += '\\';
  return strDir + "~patchloom-copy-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(nCount) + "-" +
         std::to_string(GetTickCount64()) + ".tmp";
}

}  // namespace

HANDLE CreatePrivateCopy(LPCSTR pszDir, uint64_t qwSize, PrivateCopyKind* peKind) {
  (void)qwSize;
  if (pszDir == nullptr || pszDir[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  static volatile LONG s_nCount = 0;
  for (int nTry = 0; nTry < 64; ++nTry) {
    const std::string strPath = CopyName(pszDir, static_cast<unsigned>(InterlockedIncrement(&s_nCount)));
    // Share mode 0: no other open of the file succeeds, whatever access it
    // asks for, for as long as this handle is open, which is as long as
    // the file exists.
    HANDLE hCopy = CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (hCopy != INVALID_HANDLE_VALUE) {
      if (peKind != nullptr) *peKind = PrivateCopyKind::kDeleteOnClose;
      SetLastError(ERROR_SUCCESS);
      return hCopy;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

bool SealPrivateCopy(HANDLE hCopy) { return hCopy != nullptr && hCopy != INVALID_HANDLE_VALUE; }
