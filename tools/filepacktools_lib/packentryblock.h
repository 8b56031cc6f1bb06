// Where the records of an entry index live. PackEntry has allocation
// functions of its own, so that std::unique_ptr<PackEntry> (the entry map's
// type) can own a record that came alone from operator new (make_unique) as
// well as one of many records in one block: loading an index of n records
// costs one allocation, not n. Deleting a record gives it back where it came
// from; a block is freed when its last record is deleted, so a record moved
// out of the map may outlive the pack object that loaded it.
#pragma once

#include <cstddef>
#include <memory>

#include "tools/filepacktools_lib/packrecords.h"

struct CEntryBlockHeader;

class CEntryBlock {
 public:
  // Room for nCount records. When the memory cannot be had, Copy allocates
  // each record alone instead.
  explicit CEntryBlock(size_t nCount);
  // The block stays until its last record is deleted.
  ~CEntryBlock();
  CEntryBlock(const CEntryBlock&) = delete;
  CEntryBlock& operator=(const CEntryBlock&) = delete;

  // A record holding a copy of the kPackEntrySize bytes at pbyRecord: from
  // the block while it has room, else allocated alone.
  std::unique_ptr<PackEntry> Copy(const unsigned char* pbyRecord);

 private:
  CEntryBlockHeader* m_pHeader;
  size_t m_nCount;
  size_t m_nUsed = 0;
};
