// How a build takes each file of its list, told before the build starts
// (CPackFile::NameBuildFiles), so that a tool can name every file a build
// will leave out, and why, without reading anything twice.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win32.h"

enum class BuildFileFate {
  kTaken,        // becomes the entry strName
  kFolded,       // its entry name is that of an earlier file, which wins
  kCannotOpen,   // cannot be opened for reading (dwError says why)
  kNoName,       // has no entry name: neither below the root directory nor
                 // holding the root name (or the source root) in its path
  kPathTooLong,  // its path fills a path buffer: the build fails on it
  kExcluded,     // left out on purpose: its path below the root matches a
                 // pattern of CPackFile::SetBuildExcludes (packexclude.h)
};

struct CBuildFileName {
  std::string strFile;  // the path as listed (code page 936)
  std::string strName;  // the entry name; "" for kNoName and kPathTooLong
  BuildFileFate eFate = BuildFileFate::kTaken;
  size_t nTakenBy = 0;            // kFolded: the index of the file that has the name
  DWORD dwError = ERROR_SUCCESS;  // kCannotOpen: the error of the open
};
