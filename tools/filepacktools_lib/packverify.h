// Checking a pack file against every rule of the format, for the people who
// build and ship packs and for tests after a merge.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Told after each entry's bytes were checked: nDone of nTotal entries.
using VerifyProgress = std::function<void(size_t nDone, size_t nTotal)>;

// Checks the pack file pszPath: the header's regions lie inside the file,
// the file ends exactly at the end of the free list, every entry and free
// block lies inside the data area and none overlaps another, entry names
// are unique (in the raw index, where Open would keep only the first),
// safe, and begin with the root name, the directory table agrees with the
// index (every file record names an entry, every entry has one file record,
// every directory holding records has its own record), and every entry
// decodes (compressed pack) or has equal sizes (plain pack) and claims no
// more bytes than its stream can hold. The undo journal of an interrupted
// merge beside the pack is reported too: the pack is not restored here.
//   pszPath      non-null, non-empty (asserted). Opened for reading only,
//                shared with readers and writers; never written.
//   vecProblems  receives one short English sentence per problem, naming
//                the entry, record or region (names in code page 936).
//   fnProgress   optional; called once per entry of the index.
// Returns true when the file was read to the end (vecProblems empty: the
// pack is sound). Returns false, with the last error set, when the file
// cannot be opened or read; what was found up to there stays listed.
// Memory: the index, the directory table and the free list, plus the
// stored and decoded bytes of one entry at a time.
bool VerifyPack(const char* pszPath, std::vector<std::string>& vecProblems,
                const VerifyProgress& fnProgress = VerifyProgress());
