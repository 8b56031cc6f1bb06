// Content tags of many pack entries or files at once, computed on every
// core: what a comparison of two releases needs of each side.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packread.h"
#include "tools/filepacktools_lib/packrecords.h"

// One thing to tag under a name: an entry of an open pack, or a file.
struct CContentSource {
  std::string strName;
  const PackEntry* pEntry = nullptr;  // an entry, read through the reader
  std::string strFile;                // else a file's path
};

// The lower-case hexadecimal MD5 of the plain bytes, and their number.
struct CContentTag {
  char szTag[kPackTagSize];
  uint32_t dwSize;
};

using ContentTagMap = std::map<std::string, CContentTag>;

// Where entries are read: through the reader, one view or decoded buffer
// per entry, or, for a plain pack mapped whole, straight from that view
// (unmapping thousands of small views costs more than hashing them).
struct CContentPack {
  const CEntryReader* pReader = nullptr;   // null when there are no entries
  const unsigned char* pbyWhole = nullptr;  // a plain pack's whole file, or null
  uint64_t qwWholeSize = 0;
};

// Tags every source (entries' plain bytes decoded when the pack is
// compressed) on nWorkers threads (0: one per processor) and adds the tags
// to mapTags under the sources' names. An entry that does not lie inside a
// whole view, or claims more plain bytes than it stores, fails with
// ERROR_INVALID_DATA, as the reader fails it.
// Returns false at the first source that cannot be read or decoded, or a
// file of 4 GiB or more (ERROR_FILE_TOO_LARGE), with the last error set and
// strFailed holding its name; mapTags is then incomplete.
bool TagContent(const std::vector<CContentSource>& vecSources, const CContentPack& pack, int nWorkers,
                ContentTagMap& mapTags, std::string& strFailed);
