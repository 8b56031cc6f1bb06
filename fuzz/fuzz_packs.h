// Packs written byte by byte for the fuzz targets' fixed inputs and for
// their seed corpora.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CFuzzEntry {
  std::string strName;
  std::string strPlain;
  std::string strTag;
};

// A well-formed pack: the entries' blobs in order (Lzma86 streams when
// bCompressed), one hole of nHole bytes after the first blob (listed free),
// the index, the directory table a build writes, the free list.
std::string MakePack(const std::string& strRoot, const std::vector<CFuzzEntry>& vecEntries, bool bCompressed,
                     uint32_t nHole = 0);

// One Lzma86 stream of the bytes.
std::string Lzma86(const std::string& strPlain);

// The client every merge target starts from.
std::string FixedClient();
