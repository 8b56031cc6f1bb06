// Disk paths as paktool handles them: code page 936 with backslashes, the
// form every Win32 call of the program takes (the platform layer maps them
// on POSIX). Splitting and joining go by characters, so a double-byte
// character whose second byte is 0x5C is never cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace paktool {

// An argument taken as a path: '/' becomes '\' ('/' is never the second
// byte of a character, so byte by byte is safe).
std::string ArgPath(std::string strArg);

// The components of a path between backslashes; empty ones are dropped.
std::vector<std::string> SplitPath(const std::string& strPath);

// The process's current directory, "" when it cannot be had.
std::string WorkingDirectory();

// strPath made absolute against the current directory, with "." and ".."
// resolved and no trailing backslash. Case is kept.
std::string AbsolutePath(const std::string& strPath);

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
  CWorkingDirGuard() : m_strSaved(WorkingDirectory()) {}
  ~CWorkingDirGuard();
  CWorkingDirGuard(const CWorkingDirGuard&) = delete;
  CWorkingDirGuard& operator=(const CWorkingDirGuard&) = delete;

 private:
  std::string m_strSaved;
};

}  // namespace paktool
