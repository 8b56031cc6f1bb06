// The process snapshot API (CreateToolhelp32Snapshot, Process32First,
// Process32Next, PROCESSENTRY32), which <windows.h> leaves to <tlhelp32.h>.
// On POSIX platform/win32.h already declares it.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <tlhelp32.h>
// Image names in code page 936, as on POSIX.
#include "platform/windows/cp936_toolhelp.h"
#endif
