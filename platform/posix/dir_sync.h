// Syncing directories on POSIX (FlushDirectoryOf, and the moves made with
// MOVEFILE_WRITE_THROUGH).
#pragma once

#include <string>

// The directory holding strPath, an absolute POSIX path ("/" for the root).
std::string ParentOf(const std::string& strPath);

// fsyncs the directory strDir. False with errno set.
bool SyncDirectory(const std::string& strDir);
