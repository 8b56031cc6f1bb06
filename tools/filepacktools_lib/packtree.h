// The directory tree of a pack (PackDirMap): how it grows when a build or a
// merge adds a file and when a stored directory table is loaded.
//
// A directory's key is its full path; the root's key is the root name. A
// sub-directory has a kind-1 record in its parent's list and a key of its
// own; a file has a kind-0 record in the list of its directory.
#pragma once

#include <cstdint>
#include <string>

#include "tools/filepacktools_lib/packindex.h"

// Adds a file whose path below the root is strRest (directories separated by
// backslashes): the keys and kind-1 records of its missing directories, then
// its kind-0 record. Returns 0, or -2 when a directory key on the way is
// missing, -3 when the final one is (both only without strRootKey).
int TreeAddBelowRoot(PackDirMap& mapDir, const std::string& strRootKey, std::string strRest);

// Adds a file by its path: the path below the first occurrence of
// strRootPath, else below the first occurrence of strSrcRoot (each followed
// by one separator). Returns 0 also when neither occurs (nothing added).
int TreeAddPath(PackDirMap& mapDir, const std::string& strRootKey, const std::string& strRootPath,
                const std::string& strSrcRoot, const std::string& strPath);

// Places one record of a stored table below the root key strRootKey,
// creating the keys of its parent directories (their records come from the
// table). Returns 0, or -2 when the record does not begin with the root key
// and a backslash or a parent key is missing, -3 when its directory key is.
int TreeAddRecord(PackDirMap& mapDir, const std::string& strRootKey, const PackDirRecord& record);

// Places every record of a stored directory table (qwCount records at
// pbyTable, in file order) below the root key, as TreeAddRecord would one
// by one. A table lists the children of a directory together, so the tree
// is walked once per such run: its first record is placed by TreeAddRecord,
// the rest of the run is appended to the same list.
void TreeLoadTable(PackDirMap& mapDir, const std::string& strRootKey, const unsigned char* pbyTable, uint64_t qwCount);
