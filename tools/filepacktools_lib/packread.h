// Reading one entry of an open pack: its stored bytes through a view of just
// that entry, or its plain bytes, decoded when the pack is compressed.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/packrecords.h"

// The bytes of one entry as an operation needs them: straight from a view of
// the pack file, or from a buffer a codec filled (with the decode slack
// behind the data).
struct CEntryBytes {
  CMappedView view;
  std::unique_ptr<unsigned char[]> pbyBuffer;
  const unsigned char* pbyData = nullptr;
  uint32_t dwSize = 0;
};

class CEntryReader {
 public:
  //   hMapping       a mapping of the whole pack file, readable.
  //   dwGranularity  the system's allocation granularity.
  //   bCompressed    the pack's storage flag.
  CEntryReader(HANDLE hMapping, DWORD dwGranularity, bool bCompressed)
      : m_hMapping(hMapping), m_dwGranularity(dwGranularity), m_bCompressed(bCompressed) {}

  bool IsCompressed() const { return m_bCompressed; }

  // The entry's dwStoredSize stored bytes, in a view of the pack. False, with
  // the last error set, when the view cannot be mapped.
  bool MapStoredBytes(const PackEntry& entry, CEntryBytes& out) const;

  // The entry's dwOrigSize plain bytes: the stored bytes of a plain pack,
  // decoded ones of a compressed pack. False, with the last error set and no
  // bytes handed out, when the view cannot be mapped, the entry claims more
  // bytes than it stores (plain) or than its stream can hold, or the stream
  // does not decode to exactly dwOrigSize bytes (ERROR_INVALID_DATA), or the
  // buffer cannot be had (ERROR_NOT_ENOUGH_MEMORY). Thread-safe: views and
  // buffers are the caller's.
  bool ReadPlainBytes(const PackEntry& entry, CEntryBytes& out) const;

 private:
  HANDLE m_hMapping;
  DWORD m_dwGranularity;
  bool m_bCompressed;
};
