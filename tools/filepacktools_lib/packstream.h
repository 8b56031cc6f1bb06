// An entry of an opened pack read as an in-memory file.
//
// CPackFile::StreamOpen creates the record; the caller owns it and releases
// it with CPackFile::StreamClose, which frees pData and then the record.
// The bytes are a private copy, so a stream stays readable after its pack is
// closed; pEntry does not.
#pragma once

#include <cstdint>

#include "tools/filepacktools_lib/packrecords.h"

struct PackStream {
  uint32_t dwReserved0;  // 0
  uint32_t dwReserved1;  // 0
  // The entry's plain bytes, owned by the stream: dwSize defined bytes in a
  // buffer of dwSize + 100 (kLzma86DecodeSlack, compressed pack) or
  // dwSize + 1 (plain pack), no terminating NUL.
  unsigned char* pData;
  uint32_t dwReserved2;   // 0
  uint32_t dwDataOffset;  // the entry's dwOffset in the pack file
  uint32_t dwPos;         // read position, 0 to dwSize
  uint32_t dwSize;        // readable bytes: the entry's dwOrigSize
  // The pack's own index record of the entry; not owned, valid only until
  // the pack is closed.
  PackEntry* pEntry;
};
