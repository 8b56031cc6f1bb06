// Finds on disk the file a Win32 path names: existing components are matched
// ASCII case-insensitively as on Windows, the exact name first.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/path_parse.h"

struct CResolvedPath {
  std::string m_strPath;        // absolute POSIX path, UTF-8
  size_t m_nMissing = 0;        // trailing components that do not exist (case as given)
  bool m_bParentExists = true;  // everything but the last component exists, as directories

  bool Exists() const { return m_nMissing == 0; }
  // The error for a path that does not exist: the file or its directory.
  DWORD MissingError() const { return m_bParentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }
};

// Resolves the first nCount components. Returns ERROR_SUCCESS, or the Win32
// error of a lookup that failed other than by a missing name.
DWORD ResolveComponents(const std::vector<std::string>& vecComponents, size_t nCount, CResolvedPath& resolved);

// Parses and resolves a whole path.
DWORD ResolveWin32Path(const char* pszPath, const CPathRules& rules, CResolvedPath& resolved);

// Shorthand for the usual case: plain names, MAX_PATH.
DWORD ResolveWin32Path(const char* pszPath, CResolvedPath& resolved);
