// Windows command lines on POSIX: splitting one into arguments the way the C
// runtime does, and finding the program it starts the way CreateProcess
// does.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/win32_posix.h"

// Splits a code-page-936 command line. Argument 0 runs to the next space or
// tab, or from a leading quote to the next quote, with no escapes. The
// others follow the C runtime: spaces and tabs separate; quotes group and
// are removed; "" inside quotes is one quote; 2n backslashes before a quote
// become n (the quote then groups), 2n+1 become n and a literal quote; other
// backslashes are literal. Double-byte characters are never split, so a
// trail byte 0x5C is not taken for a backslash.
std::vector<std::string> SplitCommandLine(const char* pszCommandLine);

// Finds the program file a code-page-936 name stands for and stores its
// absolute POSIX path. A name with a directory or a drive, or any name when
// bSearch is false, is taken relative to the current directory. Otherwise
// the name is looked for in the directory of this program's executable, then
// the current directory, then each absolute PATH directory, in the order
// Windows searches. A name without an extension is tried as given and then
// with ".exe" (Windows only appends ".exe", but POSIX programs have no
// extension). Returns ERROR_SUCCESS or the Win32 error of the failed lookup
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ...).
DWORD FindProgram(const std::string& strName, bool bSearch, std::string& strPosixPath);
