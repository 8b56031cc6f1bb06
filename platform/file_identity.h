// Whether two open handles are opens of one file: the same file even when
// the name they were opened by now names another (a file moved over it).
#pragma once

#include "platform/win32.h"

// Sets bSame and returns true; false with the last error set when either
// handle cannot be asked.
bool SameFile(HANDLE hA, HANDLE hB, bool& bSame);
