// Win32 path syntax: turns a code-page-936 Win32 path into the absolute,
// normalised list of UTF-8 components Windows would look up, and back.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/win32_posix.h"

struct CPathRules {
  size_t m_nMaxLength = MAX_PATH;  // paths this long or longer are refused
  bool m_bWildcardLast = false;    // last component may hold '*' and '?'
};

// Parses pszPath. A leading "X:" stands for the file-system root (the only
// drive), "\" or "/" separate components, relative paths start from the
// current directory, "." and ".." are applied lexically and trailing dots and
// spaces are stripped from each component. Returns ERROR_SUCCESS or the Win32
// error for the path (ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE, ...).
DWORD ParseWin32Path(const char* pszPath, const CPathRules& rules, std::vector<std::string>& vecComponents);

// Presents an absolute POSIX path as Windows would show it: "/home/u" becomes
// "\home\u", in code page 936 with '?' for characters it cannot hold.
std::string PosixToWin32Path(const std::string& strPosix);
