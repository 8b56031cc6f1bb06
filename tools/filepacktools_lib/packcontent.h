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

// Tags every source (entries' plain bytes decoded when the pack is
// compressed; files mapped, not copied) on nWorkers threads (0: one per
// processor) and adds the tags to mapTags under the sources' names.
//   pReader   reads the entries; may be null when there are none.
// Returns false at the first source that cannot be read or decoded, or a
// file of 4 GiB or more (ERROR_FILE_TOO_LARGE), with the last error set and
// strFailed holding its name; mapTags is then incomplete.
bool TagContent(const std::vector<CContentSource>& vecSources, const CEntryReader* pReader, int nWorkers,
                ContentTagMap& mapTags, std::string& strFailed);
