// Rewriting the regions behind the data area, and the header, after a merge.
#include "platform/file_io.h"
#include "platform/record_writer.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packmerger.h"

// Writes the entry index (loaded entries in name order, then the entries the
// merge added, in the order added), the directory table (keys in byte order,
// each list in order) and the free list at dwIndexOffset, ends the file
// there, writes the header last and flushes the file: a merge removes its
// journal only once everything is on disk. The header's counts are those of
// the records written. Returns false, without writing the header, when a
// region cannot be written or the pack would reach 4 GiB, and without
// writing anything when the pack was opened for reading only.
bool CPackFile::SaveIndex(const char* /*pszTarPack*/) {
  if (!m_hPackFile) return false;
  if (m_bReadOnly) {
    SetLastError(ERROR_ACCESS_DENIED);
    m_hPackFile.Reset();
    return false;
  }
  // Windows will not shorten a file while a mapping of it exists, and the
  // merge reads only the source's mapping.
  m_hFileMapping.Reset();
  if (CPackMerger::SavedEnd(*this) > UINT32_MAX || m_mapEntry.size() + m_vecNewEntry.size() > INT32_MAX ||
      m_vecFreeBlock.size() > INT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    m_hPackFile.Reset();
    return false;
  }
  const PackHeader header = CPackMerger::SavedHeader(*this);

  CRecordWriter writer(m_hPackFile.Get(), m_liFilePos, m_header.dwIndexOffset);
  for (const auto& item : m_mapEntry) writer.Add(item.second.get(), kPackEntrySize);
  m_mapEntry.clear();
  for (const auto& pEntry : m_vecNewEntry) writer.Add(pEntry.get(), kPackEntrySize);
  m_vecNewEntry.clear();
  for (const auto& item : m_mapDir) {
    for (const PackDirRecord& record : item.second) writer.Add(&record, kPackDirRecordSize);
  }
  for (const PackFreeBlock& block : m_vecFreeBlock) writer.Add(&block, kPackFreeBlockSize);
  m_header = header;
  m_vecFreeBlock.clear();

  // The directory table's length is derived from the file size, so the file
  // must end at the free list even when the index came out shorter than the
  // one loaded (duplicate names are dropped when a pack is opened).
  bool bOk = writer.Finish() && SetEndOfFile(m_hPackFile.Get()) && SeekFile(m_hPackFile.Get(), m_liFilePos, 0) &&
             WriteAll(m_hPackFile.Get(), &m_header, sizeof(m_header)) && FlushFileBuffers(m_hPackFile.Get());
  m_hPackFile.Reset();
  return bOk;
}
