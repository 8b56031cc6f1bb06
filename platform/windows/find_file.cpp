// Directory search in code page 936 over FindFirstFileW / FindNextFileW.
// The search handle is the W one: FindClose needs no wrapper.
#include <cstring>
#include <string>

#include "platform/cp936.h"
#include "platform/windows/wide_path.h"
#include "platform/windows/wide_text.h"

namespace {

// Copies one entry into the A form; false when its code-page-936 name does
// not fit cFileName (the POSIX build skips such names too).
bool ToAnsiData(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA& data) {
  std::string strName = WideToCp936(wide.cFileName, wcsnlen(wide.cFileName, MAX_PATH));
  if (strName.size() >= sizeof(data.cFileName)) return false;
  std::string strShort = WideToCp936(wide.cAlternateFileName, wcsnlen(wide.cAlternateFileName, 14));
  strShort.resize(Cp936FittingPrefix(strShort, sizeof(data.cAlternateFileName) - 1));
  std::memset(&data, 0, sizeof(data));
  data.dwFileAttributes = wide.dwFileAttributes;
  data.ftCreationTime = wide.ftCreationTime;
  data.ftLastAccessTime = wide.ftLastAccessTime;
  data.ftLastWriteTime = wide.ftLastWriteTime;
  data.nFileSizeHigh = wide.nFileSizeHigh;
  data.nFileSizeLow = wide.nFileSizeLow;
  data.dwReserved0 = wide.dwReserved0;
  data.dwReserved1 = wide.dwReserved1;
  std::memcpy(data.cFileName, strName.c_str(), strName.size() + 1);
  std::memcpy(data.cAlternateFileName, strShort.c_str(), strShort.size() + 1);
  return true;
}

// Moves on from the entry in wide until one converts; false with
// ERROR_NO_MORE_FILES at the end.
bool NextConvertible(HANDLE hFind, WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA& data) {
  while (!ToAnsiData(wide, data)) {
    if (!FindNextFileW(hFind, &wide)) return false;
  }
  return true;
}

HANDLE FindFirstFileImpl(const wchar_t* pszPattern, LPWIN32_FIND_DATAA pData) {
  if (pData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  WIN32_FIND_DATAW wide;
  HANDLE hFind = FindFirstFileW(pszPattern, &wide);
  if (hFind == INVALID_HANDLE_VALUE) return hFind;
  if (!NextConvertible(hFind, wide, *pData)) {
    FindClose(hFind);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return hFind;
}

BOOL FindNextFileImpl(HANDLE hFind, LPWIN32_FIND_DATAA pData) {
  if (pData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WIN32_FIND_DATAW wide;
  if (!FindNextFileW(hFind, &wide)) return FALSE;
  return NextConvertible(hFind, wide, *pData) ? TRUE : FALSE;
}

}  // namespace

HANDLE WINAPI Cp936FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  return WithWidePath(lpFileName, INVALID_HANDLE_VALUE,
                      [&](const wchar_t* pszWide) { return FindFirstFileImpl(pszWide, lpFindFileData); });
}

BOOL WINAPI Cp936FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  return GuardWin32(FALSE, [&] { return FindNextFileImpl(hFindFile, lpFindFileData); });
}
