// Full paths of "W" names, for the calls that must not depend on the
// current directory (the fault injector's records, directory syncs).
#pragma once

#include <string>

// The full path of pszPath (GetFullPathNameW); the name itself when it
// cannot be made full.
std::wstring FullPathOf(const wchar_t* pszPath);

// The directory holding a full path: up to its last separator, keeping the
// root's ("C:\").
std::wstring ParentDirOf(const std::wstring& strFull);
