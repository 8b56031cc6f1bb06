// Disk paths as paktool handles them: code page 936 with backslashes, the
// form every Win32 call of the program takes (the platform layer maps them
// on POSIX). Splitting and joining go by characters, so a double-byte
// character whose second byte is 0x5C is never cut. The general rules
// (joining, splitting, making absolute) are platform/paths.h's.
#pragma once

#include <cstdint>
#include <string>

#include "platform/paths.h"

namespace paktool {

// An argument taken as a path: '/' becomes '\' ('/' is never the second
// byte of a character, so byte by byte is safe).
std::string ArgPath(std::string strArg);

// The last component of a path ("" for none), and what is before it.
std::string LastComponent(const std::string& strPath);
std::string ParentPath(const std::string& strPath);

bool PathExists(const std::string& strPath);
// The size of a file, or false (last error set) when it cannot be opened.
bool FileSize(const std::string& strPath, uint64_t& qwSize);
bool IsDirectory(const std::string& strPath);

// Puts the current directory back when it goes: the library's builds
// change it and leave it changed.
class CWorkingDirGuard {
 public:
  CWorkingDirGuard() : m_strSaved(CurrentDirectory()) {}
  ~CWorkingDirGuard();
  CWorkingDirGuard(const CWorkingDirGuard&) = delete;
  CWorkingDirGuard& operator=(const CWorkingDirGuard&) = delete;

 private:
  std::string m_strSaved;
};

}  // namespace paktool
