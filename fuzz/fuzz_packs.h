// Packs written byte by byte for the fuzz targets' fixed inputs and for
// their seed corpora.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "tools/filepacktools_lib/packjournal.h"

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

// The client every merge target starts from, and its entries.
std::string FixedClient();
std::vector<CFuzzEntry> FixedClientEntries();

// A delta update (packdelta.h) to the entries vecNew, written byte by byte
// here: an entry whose name the base entries vecBase hold goes as a patch
// against it, any other whole (an Lzma86 stream when bCompressed).
std::string MakeDelta(const std::vector<CFuzzEntry>& vecBase, const std::vector<CFuzzEntry>& vecNew, bool bCompressed);

// The undo journal a merge of strPack would write before writing
// newHeader and vecRanges (and leaving the pack at its size), made by the
// library in a sandbox of its own, for the file it wrote there. Throws
// std::runtime_error when the library cannot write it.
std::string MakeJournal(const std::string& strPack, const PackHeader& newHeader,
                        const std::vector<CWriteRange>& vecRanges);

// A journal is applied only to the file it was made for. The bytes of one
// as a journal of the file identity names: a journal that lists no files
// beside the pack gets that identity, so that its ranges reach the
// restore; one that lists files gets an identity no file has, so that the
// paths it names, which could be any on the machine, are never acted on
// (they are still read and checked). A right CRC is kept right, a wrong one
// wrong. Other bytes are returned as they are.
std::string ForPack(const std::string& strJournal, const CFileIdentity& identity);
