// Checks that decide whether a pack may be trusted by an operation that
// writes: a merge refuses a pack that fails them before it writes anything.
#pragma once

#include <string>
#include <vector>

#include "tools/filepacktools_lib/packindex.h"

// True when the entry's stored bytes lie inside the data area
// [60, dwIndexOffset) of its pack.
bool IsInDataArea(const PackEntry& entry, uint32_t dwIndexOffset);

// True when the entries and free blocks of a pack lie inside its data area
// without overlapping each other, and in a plain pack every entry's stored
// size equals its original size.
bool IsLayoutSound(const PackHeader& header, const PackEntryMap& mapEntry,
                   const std::vector<PackFreeBlock>& vecFreeBlock);

// What breaks that rule, in words naming the entry or block ("" when sound).
std::string LayoutProblem(const PackHeader& header, const PackEntryMap& mapEntry,
                          const std::vector<PackFreeBlock>& vecFreeBlock);

