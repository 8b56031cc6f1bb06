// Which file an open handle is open on: the same file even when the name it
// was opened by now names another (a file moved over it).
#pragma once

#include <cstdint>

#include "platform/win32.h"

// A file's identity: the volume it lies on and its index there (device and
// inode on POSIX, volume serial number and file index on Windows). Two
// opens of one file have equal identities, and no two files that exist at
// once do.
struct CFileIdentity {
  uint64_t qwVolume = 0;
  uint64_t qwIndex = 0;
  bool operator==(const CFileIdentity& other) const { return qwVolume == other.qwVolume && qwIndex == other.qwIndex; }
  bool operator!=(const CFileIdentity& other) const { return !(*this == other); }
};

// Fills identity for the file hFile is open on. False with the last error
// set when the handle cannot be asked.
bool GetFileIdentity(HANDLE hFile, CFileIdentity& identity);

// Sets bSame and returns true; false with the last error set when either
// handle cannot be asked.
bool SameFile(HANDLE hA, HANDLE hB, bool& bSame);
