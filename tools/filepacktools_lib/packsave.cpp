// Rewriting the regions behind the data area, and the header, after a merge.
#include "platform/last_error.h"
#include "tools/filepacktools_lib/crealizepack.h"

// Writes the entry index (loaded entries in name order, then the entries the
// merge added, in the order added), the directory table and the free list
// at dwIndexOffset, ends the file there, writes the header last and flushes
// the file: a merge removes its journal only once everything is on disk.
bool CPackFile::SaveIndex(const char* /*pszTarPack*/) {
  if (!m_hPackFile) return Fail(false, ERROR_INVALID_HANDLE);
  if (m_bReadOnly) {
    SetLastError(ERROR_ACCESS_DENIED);
    CloseFile();
    return false;
  }
  // Windows will not shorten a file while a mapping of it exists, and the
  // merge reads only the source's mapping.
  m_hFileMapping.Reset();
  const PackHeader saved = HeaderForLayout(m_header, LayoutIndex(m_header.dwIndexOffset, Regions()));
  const bool bOk = WriteIndexRegions(m_hPackFile.Get(), m_header, Regions()) && FlushFileBuffers(m_hPackFile.Get());
  // What was written is the pack now: the index in memory is handed over.
  m_header = saved;
  m_mapEntry.clear();
  m_vecNewEntry.clear();
  m_vecFreeBlock.clear();
  CloseFile();
  return bOk;
}
