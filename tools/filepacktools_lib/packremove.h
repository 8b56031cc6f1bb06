// What a release update removes, and the removal in memory: a merge that
// carries removals takes the entries out of the client's index, tree and
// free list before it plans where the update's entries go, so the freed
// slots can take them; the journal saves the index regions as for any
// merge, so a removal is undone with the rest.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packindex.h"

// What an update removes besides taking over its entries, as its signed
// statement says.
struct CUpdateRemovals {
  std::vector<std::string> vecNames;  // entry names (code page 936) the update removes
  // A full update: it brings the whole release, so every entry of the
  // client that the update lacks is removed (vecNames is not used).
  bool bAllOthers = false;
};

// What a merge with removals does, decided before it writes anything: the
// entries it takes out of the pack, and for the loose files (packloose.h),
// carried out in the merge's commit (packloosecommit.h), the removed ones
// to delete and the record to keep.
struct CRemovalPlan {
  std::vector<std::string> vecFromPack;  // entries taken out of the pack
  std::vector<std::string> vecLoose;     // removed entries held as loose files
  std::set<std::string> setRecord;       // the record before, less vecLoose
};

// The names a merge of an update with mapSource into a client with
// mapTarget (and the loose entries setLoose) removes: removals.vecNames, or
// with bAllOthers every name of the client that mapSource lacks. Sorted,
// without duplicates.
std::vector<std::string> NamesToRemove(const CUpdateRemovals& removals, const PackEntryMap& mapSource,
                                       const PackEntryMap& mapTarget, const std::vector<std::string>& vecLoose);

// Takes the named entries out of a client's index in memory: each entry
// leaves mapEntry, its file record leaves mapDir (and so does every
// directory left empty by it, up to but not including the root key
// strRootKey), and its slot goes to the end of vecFree (a slot of no bytes
// gives no block). Names mapEntry lacks are passed over.
void RemoveEntries(const std::vector<std::string>& vecNames, const std::string& strRootKey, PackEntryMap& mapEntry,
                   PackDirMap& mapDir, PackFreeList& vecFree);
