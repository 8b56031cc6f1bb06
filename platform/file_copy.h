// Copying a stretch of one open file into another.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Copies qwLength bytes from offset qwFrom of hFrom (open for reading) to
// offset qwTo of hTo (open for writing), the fastest way the system has:
// on Linux inside the kernel, where the bytes never pass through the
// program; otherwise, and while fault injection is armed (so that it sees
// every write), through WriteFile from a buffer of 4 MiB. Both file
// pointers may be moved. Returns false, with the last error set, when a
// read or a write fails or hFrom ends first (ERROR_HANDLE_EOF); what was
// copied up to there stays written.
bool CopyFileBytes(HANDLE hFrom, uint64_t qwFrom, HANDLE hTo, uint64_t qwTo, uint64_t qwLength);
