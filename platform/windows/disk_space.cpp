// GetDiskFreeSpaceExA over its W form, with the fault injector's cap.
#include "platform/fault_space.h"
#include "platform/windows/wide_path.h"

namespace {

void Cap(PULARGE_INTEGER pValue) {
  if (pValue) pValue->QuadPart = FaultCapFreeSpace(pValue->QuadPart);
}

}  // namespace

BOOL WINAPI Cp936GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                     PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  return WithWidePath(lpDirectoryName, FALSE, [&](const wchar_t* pszWide) {
    if (!GetDiskFreeSpaceExW(pszWide, lpFreeBytesAvailableToCaller, lpTotalNumberOfBytes, lpTotalNumberOfFreeBytes))
      return FALSE;
    Cap(lpFreeBytesAvailableToCaller);
    Cap(lpTotalNumberOfFreeBytes);
    return TRUE;
  });
}
