// Compaction of a pack: where each live entry lies once the holes of the
// data area are closed, the copying of the stored bytes into the new file,
// and the measure of how much of a pack is holes.
//
// Holes are the bytes of the data area that no entry covers: slots a merge
// freed and nothing took, the tails of entries that shrank in place. A merge
// lists them in the free list and reuses a block only for an entry that
// fits, so they add up over many updates; only a rewrite gives them back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packindex.h"

// Bytes that keep their order and move as one piece: from qwFrom in the old
// pack to qwTo in the new one.
struct CCopyRun {
  uint64_t qwFrom;
  uint64_t qwTo;
  uint64_t qwLength;
};

struct CCompactLayout {
  std::vector<CCopyRun> vecRuns;  // ascending in both files, back to back in the new one
  uint32_t dwIndexOffset = kPackHeaderSize;  // the new end of the data area
};

// Gives every entry of mapEntry its offset in the compacted pack: the
// entries keep the order their bytes have in the data area (at one offset
// the empty entries first, then name order) and lie back to back from
// offset 60. Entries that were adjacent
// form one run. The map must have passed the layout checks (every entry
// inside the data area, none overlapping), so the new data area is no
// longer than the old one.
CCompactLayout LayoutCompaction(PackEntryMap& mapEntry);

// Copies every run from hFrom into hTo (CopyFileBytes: inside the kernel
// where it can, else through a buffer of 4 MiB, whatever the runs'
// lengths). May move both files' pointers. False, with the last error set,
// when a read or a write fails.
bool CopyRuns(HANDLE hFrom, HANDLE hTo, const std::vector<CCopyRun>& vecRuns);

// The bytes of the data area [60, dwIndexOffset) that no entry covers.
uint64_t HoleBytes(const PackEntryMap& mapEntry, uint32_t dwIndexOffset);

// <pack>.compact.new: the compacted pack while it is written, moved over the
// pack once complete. Never trusted: one left by an interrupted compaction
// is removed by the next compaction or merge.
std::string CompactTempPath(const std::string& strPackPath);

// Removes a compacted pack that an interrupted compaction left, if there is
// one; touches nothing otherwise, the last error included. A file that
// cannot be removed (one that a compaction running now holds) stays.
void RemoveCompactLeftover(const std::string& strPackPath);
