// Built against <windows.h> alone: the fault layer uses it too.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/windows/full_path.h"

std::wstring FullPathOf(const wchar_t* pszPath) {
  std::wstring strFull(MAX_PATH, L'\0');
  for (int nTry = 0; nTry < 2; ++nTry) {
    const DWORD dwLength = GetFullPathNameW(pszPath, static_cast<DWORD>(strFull.size()), &strFull[0], nullptr);
    if (dwLength == 0) return pszPath;
    if (dwLength < strFull.size()) {
      strFull.resize(dwLength);
      return strFull;
    }
    strFull.resize(dwLength);
  }
  return pszPath;
}

std::wstring ParentDirOf(const std::wstring& strFull) {
  const size_t nSep = strFull.find_last_of(L"\\/");
  if (nSep == std::wstring::npos) return strFull;
  // "C:\name" and "\name": the root keeps its separator.
  const bool bRoot = nSep == 0 || (nSep == 2 && strFull[1] == L':');
  return strFull.substr(0, bRoot ? nSep + 1 : nSep);
}
