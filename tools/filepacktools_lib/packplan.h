// The plan of a merge: where every changed and new entry of an update goes
// in a client pack, decided from the two indexes alone. Planning touches no
// file and changes nothing; the journal saves what the plan will overwrite,
// the writer carries the plan out, and a dry run shows it.
//
// Placement rules, entry by entry in the update's name order:
//   - an entry whose tag equals the client's entry of that name: nothing;
//   - a changed entry that fits its slot (the slot is the original size in a
//     plain client, the stored size in a compressed one) is written over it
//     in place, and the rest of the slot becomes a free block;
//   - a changed entry that does not fit moves: into the first free block
//     large enough (carved from its front; a block used up leaves the list),
//     else to the end of the data area, which grows; its old slot becomes a
//     free block only after the new place was chosen, so an entry never
//     moves into its own slot;
//   - a new entry whose name has a directory that is a first directory of
//     the client's tree (the key root\dir) joins the pack, placed as a moved
//     entry is;
//   - any other new entry with a directory becomes a loose file; one without
//     a directory is passed over.
// New free blocks go to the end of the list; blocks are never joined.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packindex.h"
#include "tools/filepacktools_lib/packpreview.h"

// The bytes an update entry takes in the client: called only for a
// compressed client (a plain one takes the original size). False, with the
// last error set, when it cannot be told (an entry that does not encode).
using MergeStoredSize = std::function<bool(const PackEntry& source, uint32_t& dwSize)>;

struct CMergeInput {
  const PackEntryMap& mapSource;      // the update's index
  const PackEntryMap& mapTarget;      // the client's index
  const PackDirMap& mapTargetDir;     // the client's tree
  const PackFreeList& vecTargetFree;  // the client's free list
  uint32_t dwTargetIndexOffset;       // the end of the client's data area
  bool bTargetCompressed;
  MergeStoredSize fnStoredSize;
};

struct CMergeStep {
  MergeAction eAction;
  MergePlace ePlace;
  const std::string* pstrName;  // the update's key
  const PackEntry* pSource;     // the update's entry
  uint32_t dwOffset = 0;        // blob steps: where its bytes go
  uint32_t dwSize = 0;          // blob steps: how many bytes it takes
};

struct CMergePlan {
  std::vector<CMergeStep> vecSteps;  // in the update's name order
  PackFreeList vecFree;              // the client's free list afterwards
  uint32_t dwIndexOffset = 0;        // the end of its data area afterwards
  uint32_t dwOldIndexOffset = 0;     // the end of its data area before
  std::string strFailedName;         // after a failure: the entry being placed
};

// Plans the merge of input.mapSource into the client input describes.
// Returns false, with the last error set, when the data area would reach
// 4 GiB (ERROR_FILE_TOO_LARGE) or fnStoredSize fails; plan is then partial.
bool PlanMerge(const CMergeInput& input, CMergePlan& plan);

// First fit over a free list, carving from the front of the block.
// Returns 0 when no block holds dwSize (dwOffset is dwIndexOffset, the end of
// the data area; nothing changes), 1 when a block became smaller, 2 when a
// block fitted exactly and left the list.
int TakeFreeSpace(PackFreeList& vecFree, uint32_t dwIndexOffset, uint32_t dwSize, uint32_t& dwOffset);

// True when a new entry joins the client's tree: its name has at least two
// backslashes and the root name with its first directory is a key of the
// tree.
bool BelongsToTree(const PackDirMap& mapDir, const std::string& strName);

// The part of a name after its first component, "" when it has only one:
// where a loose file goes below the starting directory.
std::string LooseRelative(const std::string& strName);
