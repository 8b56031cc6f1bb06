// Checks that decide whether a pack may be trusted by an operation that
// writes: a merge refuses a pack that fails them before it writes anything.
#pragma once

#include <string>
#include <vector>

#include "tools/filepacktools_lib/packindex.h"

// True when every component of the name (split at backslashes) can become
// a file or directory name below a directory without leaving it or meaning
// something else to Windows: not empty, not "." or "..", no byte below 0x20,
// none of < > : " / | ? *, no trailing dot or space (Windows strips them),
// and not a device name such as CON, NUL, COM1 or LPT1 (with any extension).
bool IsSafeEntryName(const std::string& strName);

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

// strPath made absolute against strCurrentDir, with "." and ".." resolved
// and A-Z folded, so that two spellings of one path compare equal.
std::string ComparablePath(const std::string& strPath, const std::string& strCurrentDir);

// Joins a directory and a name with one backslash.
std::string JoinPath(const std::string& strDir, const std::string& strName);
