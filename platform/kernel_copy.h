// The system's own copy between two open files, for CopyFileBytes
// (posix/kernel_copy.cpp, windows/kernel_copy.cpp).
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Copies as much of the stretch as the system can copy by itself and
// reports it in qwDone; the caller copies the rest. Where the system cannot
// copy between these files, qwDone is 0 and the result true. False, with
// the last error set, when the copy failed (a full disk, a read error, or
// the source ending first: ERROR_HANDLE_EOF).
bool KernelCopy(HANDLE hFrom, uint64_t qwFrom, HANDLE hTo, uint64_t qwTo, uint64_t qwLength, uint64_t& qwDone);
