// Path text helpers shared by the builders.
#pragma once

#include <string>

#include "platform/cp936.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/crealizepack.h"

// A copy with A-Z folded, as every name and key is.
inline std::string LowerCopy(const std::string& str) {
  std::string strLower(str);
  if (!strLower.empty()) CPackFile::MakeLower(&strLower[0]);
  return strLower;
}

// The position of the last backslash, found by characters so that a
// double-byte character's trail byte is never taken for one; npos if none.
inline size_t LastSeparator(const std::string& strPath) {
  const char* pszSep = Cp936StrRChr(strPath.c_str(), '\\');
  return pszSep ? static_cast<size_t>(pszSep - strPath.c_str()) : std::string::npos;
}
