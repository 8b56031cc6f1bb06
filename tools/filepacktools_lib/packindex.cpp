#include "tools/filepacktools_lib/packindex.h"

#include "platform/file_io.h"
#include "platform/record_writer.h"
#include "tools/filepacktools_lib/packentryblock.h"

#include <cstring>

void LoadEntryIndex(const unsigned char* pbyIndex, size_t nCount, PackEntryMap& mapEntry) {
  CEntryBlock block(nCount);
  for (size_t i = 0; i < nCount; ++i) {
    const unsigned char* pbyRecord = pbyIndex + i * kPackEntrySize;
    const char* pszName = reinterpret_cast<const char*>(pbyRecord + offsetof(PackEntry, szName));
    mapEntry.emplace_hint(mapEntry.end(), FieldString(pszName, kPackNameSize), block.Copy(pbyRecord));
  }
}

PackHeader DefaultPackHeader() {
  PackHeader header;
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.szMagic, kPackMagic, kPackMagicSize);
  std::memcpy(&header.fVersion, &kPackVersionBits, sizeof(header.fVersion));
  header.dwIndexOffset = kPackHeaderSize;
  header.nEntryCount = 1;
  return header;
}

CIndexLayout LayoutIndex(uint32_t dwIndexOffset, const CIndexRegions& regions) {
  CIndexLayout layout;
  layout.qwIndexOffset = dwIndexOffset;
  layout.qwEntryCount = regions.mapEntry.size() + regions.vecAdded.size();
  for (const auto& item : regions.mapDir) layout.qwDirRecordCount += item.second.size();
  layout.qwFreeBlockCount = regions.vecFree.size();
  return layout;
}

PackHeader HeaderForLayout(const PackHeader& header, const CIndexLayout& layout) {
  PackHeader out = header;
  out.nEntryCount = static_cast<int32_t>(layout.qwEntryCount);
  out.nFreeBlockCount = static_cast<int32_t>(layout.qwFreeBlockCount);
  return out;
}

bool WriteIndexRegions(HANDLE hFile, const PackHeader& header, const CIndexRegions& regions) {
  const CIndexLayout layout = LayoutIndex(header.dwIndexOffset, regions);
  if (!layout.Fits()) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // offsets and counts are 32 bits wide
    return false;
  }
  LARGE_INTEGER liPos;
  CRecordWriter writer(hFile, liPos, layout.qwIndexOffset);
  for (const auto& item : regions.mapEntry) writer.Add(item.second.get(), kPackEntrySize);
  for (const auto& pEntry : regions.vecAdded) writer.Add(pEntry.get(), kPackEntrySize);
  for (const auto& item : regions.mapDir) {
    for (const PackDirRecord& record : item.second) writer.Add(&record, kPackDirRecordSize);
  }
  for (const PackFreeBlock& block : regions.vecFree) writer.Add(&block, kPackFreeBlockSize);
  // The directory table's length is derived from the file size, so the file
  // must end at the free list, also when it was longer before.
  const PackHeader written = HeaderForLayout(header, layout);
  return writer.Finish() && SeekFile(hFile, liPos, layout.End()) && SetEndOfFile(hFile) &&
         SeekFile(hFile, liPos, 0) && WriteAll(hFile, &written, sizeof(written));
}
