// Translation of POSIX errno values to Win32 error codes, shared by every
// part of the layer (and by the process functions to come).
#pragma once

#include "platform/last_error.h"
#include "platform/posix/win32_posix.h"

// The Win32 code Windows reports for the failure errno describes. Callers
// that know better (a missing parent directory, a file opened as a
// directory) set their own code instead.
DWORD Win32ErrorFromErrno(int nErrno);

// SetLastError(Win32ErrorFromErrno(nErrno)).
void SetLastErrorFromErrno(int nErrno);

// As Fail, with the code taken from errno.
template <typename TValue>
TValue FailErrno(TValue failValue, int nErrno) {
  SetLastErrorFromErrno(nErrno);
  return failValue;
}
