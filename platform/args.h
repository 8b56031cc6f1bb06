// The program's command-line arguments as code page 936 strings, the
// encoding of every string inside the program. Implemented per platform
// (posix/program_args.cpp on POSIX).
#pragma once

#include <string>
#include <vector>

// The arguments main received, argument 0 first, each converted to code page
// 936; a character the code page lacks becomes '?'. On POSIX they are taken
// to be in the character set of the user's locale (LC_ALL, LC_CTYPE, LANG;
// the C locale counts as UTF-8); Windows may read the command line itself
// instead of argv. Slashes are left as they are.
std::vector<std::string> GetProgramArgs(int argc, char** argv);

// Takes argument nIndex as a Win32 path: forward slashes become backslashes,
// so "/a/b" and "\a\b" compare and join alike. '/' is never a GBK trail
// byte, so a byte-wise replacement is safe. No-op past the last argument.
inline void TakeArgAsPath(std::vector<std::string>& vecArgs, size_t nIndex) {
  if (nIndex >= vecArgs.size()) return;
  for (char& ch : vecArgs[nIndex]) {
    if (ch == '/') ch = '\\';
  }
}
