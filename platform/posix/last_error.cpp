#include "platform/posix/win32_posix.h"

namespace {

// Per thread, as on Windows.
thread_local DWORD g_dwLastError = ERROR_SUCCESS;

}  // namespace

extern "C" DWORD WINAPI GetLastError(void) { return g_dwLastError; }

extern "C" void WINAPI SetLastError(DWORD dwErrCode) { g_dwLastError = dwErrCode; }
