// GetModuleFileNameA's buffer contract, shared by the POSIX implementation
// and the Windows wrapper (which converts the wide name first).
#pragma once

#include <string>

#include "platform/win32.h"

// Copies strPath, a module's path in code page 936, into pszFilename of
// nSize bytes as GetModuleFileNameA does: when it fits, the path and its
// terminator, returning the length; when it does not, the longest prefix
// that ends on a character boundary, terminated, returning nSize with
// ERROR_INSUFFICIENT_BUFFER; a null or empty buffer returns 0 with that
// error.
DWORD CopyModuleFileName(const std::string& strPath, LPSTR pszFilename, DWORD nSize);
