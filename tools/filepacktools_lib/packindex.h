// A pack's index in memory, and the one writer of the regions behind its
// data area (entry index, directory table, free list) and of its header.
//
// Every writer of a pack goes through WriteIndexRegions: a build after its
// last blob, a save after a merge. A merge's plan uses LayoutIndex to know,
// before it writes, where the regions will lie and where the file will end.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packrecords.h"

// Entry index: name -> record, ascending by unsigned byte order (the order of
// std::string's comparison), which is the order the index is written in.
using PackEntryMap = std::map<std::string, std::unique_ptr<PackEntry>>;

// Entries a merge added, in the order added; written after the map's.
using PackEntryList = std::vector<std::unique_ptr<PackEntry>>;

// Directory tree: a directory's full path (the root's key is the root name)
// -> the records of its children, in the order they were added.
using PackDirMap = std::map<std::string, std::vector<PackDirRecord>>;

using PackFreeList = std::vector<PackFreeBlock>;

// Loads a stored entry index of nCount records into mapEntry, the records
// in one block (packentryblock.h). Of two records with the same name the
// first is kept. The index is stored in name order, so each record is
// inserted at the end of the map in constant time; any order is accepted.
void LoadEntryIndex(const unsigned char* pbyIndex, size_t nCount, PackEntryMap& mapEntry);

// The header of a pack object before anything is loaded or built: "pack",
// version 1.1, the data area ending at the header, nEntryCount 1 (a build
// sets the real count), no root name, not compressed.
PackHeader DefaultPackHeader();

// What the regions behind the data area are written from.
struct CIndexRegions {
  const PackEntryMap& mapEntry;  // the index, in name order
  const PackEntryList& vecAdded;  // then these
  const PackDirMap& mapDir;       // key by key, each list in order
  const PackFreeList& vecFree;    // in order, the last bytes of the file
};

// Where the regions lie once written behind a data area that ends at
// qwIndexOffset. Computed in 64 bits: a pack too large for the format is
// told by Fits(), never by a wrapped offset.
struct CIndexLayout {
  uint64_t qwIndexOffset = kPackHeaderSize;
  uint64_t qwEntryCount = 0;
  uint64_t qwDirRecordCount = 0;
  uint64_t qwFreeBlockCount = 0;

  uint64_t DirTableOffset() const { return qwIndexOffset + qwEntryCount * kPackEntrySize; }
  uint64_t FreeListOffset() const { return DirTableOffset() + qwDirRecordCount * kPackDirRecordSize; }
  // Where the file ends: at the end of the free list.
  uint64_t End() const { return FreeListOffset() + qwFreeBlockCount * kPackFreeBlockSize; }
  // True when offsets and counts fit the format's 32-bit fields.
  bool Fits() const { return End() <= UINT32_MAX && qwEntryCount <= INT32_MAX && qwFreeBlockCount <= INT32_MAX; }
};

CIndexLayout LayoutIndex(uint32_t dwIndexOffset, const CIndexRegions& regions);

// The header as it is written over these regions: header with its entry and
// free-block counts taken from the layout.
PackHeader HeaderForLayout(const PackHeader& header, const CIndexLayout& layout);

// Writes the entry index, the directory table and the free list at
// header.dwIndexOffset through one gathering writer, ends the file there,
// then writes the header (counts from the regions) at offset 0. Does not
// flush: the caller decides when the file must be on disk.
//   hFile    open for writing; its file pointer is moved.
// Returns false, with the last error set, when a write fails (the header is
// then not written) or the regions would not fit the format
// (ERROR_FILE_TOO_LARGE, nothing written).
bool WriteIndexRegions(HANDLE hFile, const PackHeader& header, const CIndexRegions& regions);
