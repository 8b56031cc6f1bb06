// Files a merge changes beside the pack, as steps of its commit: a file's
// new contents are staged under a name beside it, complete and flushed,
// and moved into place only when the merge commits; a file the merge
// deletes goes then too. Each step is durable when it returns, so that the
// journal's removal, which follows, cannot outlive one of them in a power
// cut.
#pragma once

#include <cstddef>
#include <string>

// The staging name of strPath: beside it, with a suffix of its own.
std::string StagedPath(const std::string& strPath);

// Writes the new contents of strPath under StagedPath(strPath) (replacing a
// staged file an interrupted run left), flushed and closed. False with the
// last error set and no staged file left.
bool StageFile(const std::string& strPath, const void* pData, size_t nSize);

// Moves the staged file over strPath (a durable replace's move). True once
// the move is on disk; false with the last error set when it was not made,
// or when it was made but could not be made durable.
bool InstallStaged(const std::string& strPath);

// Deletes strPath if it is there, durably. True when it is gone (or was
// never there) and that is on disk; false with the last error set.
bool RemoveDurably(const std::string& strPath);
