// Win32 paths as the program handles them: code page 936 with backslashes.
// Splitting and searching go by characters, so
// the trail byte 0x5C of a double-byte character is never taken for a
// separator.
#pragma once

#include <string>
#include <vector>

// The process's current directory, or "" when it cannot be read or does not
// fit MAX_PATH.
std::string CurrentDirectory();

// Joins a directory and a name with one backslash; an empty directory gives
// the name alone.
std::string JoinPath(const std::string& strDir, const std::string& strName);

// The components of a path between backslashes; empty ones are dropped.
std::vector<std::string> SplitPath(const std::string& strPath);

// The position of the last backslash, or npos if there is none.
size_t LastSeparator(const std::string& strPath);

// True when strPath does not depend on a base directory: it starts with a
// separator (a root, or "\\server") or a drive "X:".
bool IsAbsolutePath(const std::string& strPath);

// strPath made absolute against strBaseDir (a path starting with a
// separator or a drive "X:" is absolute already), with "." and ".."
// resolved (".." at the root stays at the root), '/' taken as '\', a
// drive prefix kept as written and no trailing backslash except for a root
// ("\" or "X:\"). Case is kept. With an empty strBaseDir a relative path is
// taken from the root.
std::string AbsolutePath(const std::string& strPath, const std::string& strBaseDir);

// strPath made absolute against the current directory.
std::string AbsolutePath(const std::string& strPath);

// AbsolutePath with A-Z folded (by characters), so that two spellings of one
// path compare equal.
std::string ComparablePath(const std::string& strPath, const std::string& strCurrentDir);
