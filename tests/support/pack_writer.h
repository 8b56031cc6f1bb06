// Packs written and read byte by byte, so that tests control every field of
// the format, broken ones included, and can check what really is on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packrecords.h"

struct CTestPack {
  PackHeader header;
  std::string strData;  // the data area: the bytes from offset 60 to the index
  std::vector<PackEntry> vecEntries;
  std::vector<PackDirRecord> vecDirs;
  std::string strAfterDirs;  // stray bytes between the directory table and the free list
  std::vector<PackFreeBlock> vecFree;
  // When set, Bytes() writes header's dwIndexOffset and counts as they are.
  bool bKeepHeader = false;

  explicit CTestPack(const std::string& strRoot = "res", bool bCompressed = false);

  // Appends stored bytes to the data area with an index record for them.
  // dwOrigSize defaults to the stored size.
  PackEntry& AddEntry(const std::string& strName, const std::string& strStored, const std::string& strTag = "",
                      uint32_t dwOrigSize = UINT32_MAX);
  // Appends a hole of dwSize filler bytes to the data area and lists it free.
  void AddHole(uint32_t dwSize);
  void AddDir(int32_t nKind, const std::string& strFullPath);
  // Adds the directory table a build writes for the entries' names: keys in
  // byte order, each directory's children in the order of the entries.
  void AddTreeForEntries();

  std::string Bytes() const;
  void WriteTo(const std::filesystem::path& path) const;

  // Parses a whole pack file as written (entries, records and free blocks in
  // file order; the directory-table length derived from the file size).
  static CTestPack Parse(const std::string& strBytes);
  static CTestPack ReadFrom(const std::filesystem::path& path);

  // The stored bytes of an entry, from the parsed file.
  std::string StoredBytes(const PackEntry& entry) const;
  const PackEntry* FindEntry(const std::string& strName) const;
};

std::string RootOf(const PackHeader& header);

// An Lzma86 stream of the bytes, as a compressed pack stores them, and the
// bytes of such a stream (dwOrigSize of them); failures are test failures.
std::string Lzma86Encode(const std::string& strPlain);
std::string Lzma86Decode(const std::string& strStream, uint32_t dwOrigSize);
