// How two releases of a client's resources differ, entry by entry, as
// CPackFile::DiffRelease tells it: the content an update pack must carry
// from the old release to the new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packcontent.h"

enum class ReleaseChange {
  kUnchanged,  // the same plain bytes in both releases
  kChanged,    // in both, with other plain bytes in the new one
  kAdded,      // only in the new release
  kRemoved,    // only in the old release: a release update removes it (its statement lists it)
};

struct CReleaseEntry {
  std::string strName;  // the entry name (code page 936, the root name first)
  ReleaseChange eChange = ReleaseChange::kUnchanged;
  uint32_t dwOldSize = 0;  // plain bytes in the old release (0 when added)
  uint32_t dwNewSize = 0;  // plain bytes in the new release (0 when removed)
  // Added, and its first directory is not in the old release's tree: a
  // merge into a client of the old release writes it as a loose file
  // beside the client pack instead of into it.
  bool bLoose = false;
  std::string strNewFile;  // the new release's file, when it is a tree
  std::string strOldFile;  // the old release's file, when it is a tree (changed and unchanged entries)
};

struct CReleaseDiff {
  std::vector<CReleaseEntry> vecEntries;  // every name of either release, in name order
  ContentTagMap mapOld;                   // the two releases' manifests (packmanifest.h)
  ContentTagMap mapNew;

  size_t Count(ReleaseChange eChange) const;
  // Plain bytes: the old release's for removed entries, else the new one's.
  uint64_t Bytes(ReleaseChange eChange) const;
  // True when an update would carry anything (changed or added entries).
  bool HasUpdate() const;
  // True when the releases differ at all: HasUpdate(), or removed entries,
  // which only a release update's statement can carry.
  bool HasChanges() const;
};

struct CDeltaRecord;

// What a delta update carries, by how: patches, changed entries that went
// whole (their patch would not have saved a quarter), added entries.
struct CDeltaReport {
  size_t nPatches = 0;
  uint64_t qwPatchBytes = 0;
  uint64_t qwPatchedWholeBytes = 0;  // what the patched entries take whole
  size_t nChangedWhole = 0;
  uint64_t qwChangedWholeBytes = 0;
  size_t nAddedWhole = 0;
  uint64_t qwAddedWholeBytes = 0;
  std::string strFailed;  // after a failure: the entry being made

  void Count(const CDeltaRecord& record, uint64_t qwWholeForm, ReleaseChange eChange);
};
