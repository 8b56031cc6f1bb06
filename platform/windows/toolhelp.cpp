// Process32First / Process32Next over their W forms. Names that do not fit
// szExeFile in code page 936 are cut on a character boundary.
#include <cstring>
#include <string>

#include "platform/toolhelp.h"
#include "platform/cp936.h"
#include "platform/windows/wide_path.h"
#include "platform/windows/wide_text.h"

namespace {

void ToAnsiEntry(const PROCESSENTRY32W& wide, PROCESSENTRY32& entry) {
  std::string strName = WideToCp936(wide.szExeFile, wcsnlen(wide.szExeFile, MAX_PATH));
  strName.resize(Cp936FittingPrefix(strName, sizeof(entry.szExeFile) - 1));
  DWORD dwSize = entry.dwSize;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = dwSize;
  entry.cntUsage = wide.cntUsage;
  entry.th32ProcessID = wide.th32ProcessID;
  entry.th32DefaultHeapID = wide.th32DefaultHeapID;
  entry.th32ModuleID = wide.th32ModuleID;
  entry.cntThreads = wide.cntThreads;
  entry.th32ParentProcessID = wide.th32ParentProcessID;
  entry.pcPriClassBase = wide.pcPriClassBase;
  entry.dwFlags = wide.dwFlags;
  std::memcpy(entry.szExeFile, strName.c_str(), strName.size() + 1);
}

template <typename TStep>
BOOL Step(LPPROCESSENTRY32 pEntry, TStep&& step) {
  // Like the A functions: the caller states the structure's size.
  if (pEntry == nullptr || pEntry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PROCESSENTRY32W wide = {};
  wide.dwSize = sizeof(wide);
  if (!step(&wide)) return FALSE;
  ToAnsiEntry(wide, *pEntry);
  return TRUE;
}

}  // namespace

BOOL WINAPI Cp936Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return GuardWin32(FALSE, [&] {
    return Step(lppe, [&](PROCESSENTRY32W* pWide) { return Process32FirstW(hSnapshot, pWide); });
  });
}

BOOL WINAPI Cp936Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return GuardWin32(FALSE, [&] {
    return Step(lppe, [&](PROCESSENTRY32W* pWide) { return Process32NextW(hSnapshot, pWide); });
  });
}
