// Reading an entry's bytes through a view of just that entry.
#include <new>

#include "tools/filepacktools_lib/packread.h"

#include "tools/filepacktools_lib/packcodec.h"

bool CEntryReader::MapStoredBytes(const PackEntry& entry, CEntryBytes& out) const {
  out.pbyData = out.view.Map(m_hMapping, entry.dwOffset, entry.dwStoredSize, m_dwGranularity);
  out.dwSize = entry.dwStoredSize;
  return out.pbyData != nullptr;
}

bool CEntryReader::ReadPlainBytes(const PackEntry& entry, CEntryBytes& out) const {
  if (!MapStoredBytes(entry, out)) return false;
  if (!m_bCompressed) {
    // A plain entry's bytes are its stored bytes; more cannot be read.
    if (entry.dwOrigSize > entry.dwStoredSize) {
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    out.dwSize = entry.dwOrigSize;
    return true;
  }
  // No stream of this length decodes to more: a larger claim is refused
  // before anything is allocated for it.
  if (entry.dwOrigSize > Lzma86MaxPlainSize(entry.dwStoredSize)) {
    out.view.Unmap();
    out.pbyData = nullptr;
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[static_cast<size_t>(entry.dwOrigSize) + kLzma86DecodeSlack]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  uint32_t dwLen = entry.dwOrigSize;
  int nResult = LzmaUncompress(out.pbyData, entry.dwStoredSize, out.pbyBuffer.get(), &dwLen);
  out.view.Unmap();
  if (nResult != kLzmaOk || dwLen != entry.dwOrigSize) {
    out.pbyBuffer.reset();
    out.pbyData = nullptr;
    SetLastError(nResult == kLzmaErrorMem ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA);
    return false;
  }
  out.pbyData = out.pbyBuffer.get();
  out.dwSize = entry.dwOrigSize;
  return true;
}
