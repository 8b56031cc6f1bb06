// What a merge checks before it writes anything, so that a hostile or broken
// update, or a broken client, is refused with nothing written, and the
// refusal can be told in words.
#pragma once

#include <string>

#include "tools/filepacktools_lib/packindex.h"

struct CMergeCheckInput {
  const PackHeader& sourceHeader;
  const PackEntryMap& mapSource;
  const PackHeader& targetHeader;
  const PackEntryMap& mapTarget;
  const PackDirMap& mapTargetDir;
  const PackFreeList& vecTargetFree;
  const std::string& strSourcePath;  // the two packs' paths as the merge was given them
  const std::string& strTargetPath;
  const std::string& strCurrentDir;  // where loose files go; "" when it cannot be named
};

// Refuses: a client whose blobs and free blocks overlap or leave its data
// area; an update entry outside the update's data area, or plain with
// differing sizes, or with a name that is not safe on disk; a loose file
// whose path would reach MAX_PATH or that would land on either pack, its
// journal (a forged journal would be applied by the next open), the
// compacted pack a compaction writes beside it or its record of loose
// files, or on a file of the updater (version.ver, the updater's and the
// client's programs) in the loose files' directory; a new
// entry below a file, or named like a directory, of the client or the
// update (the saved tree would hold one path as both).
// Returns true when the merge may go ahead. Otherwise false, with the last
// error set (ERROR_INVALID_DATA; ERROR_FILENAME_EXCED_RANGE for a long path;
// ERROR_SHARING_VIOLATION for a loose file on a pack) and strRefusal saying
// which entry broke which rule (names in code page 936).
bool CheckMerge(const CMergeCheckInput& input, std::string& strRefusal);
