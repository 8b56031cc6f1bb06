// The placement of a merge, decided in memory before anything is written:
// changed entries stay in their slot when they fit (the rest of the slot
// becomes a free block), else take the first free block that holds them or
// go to the end of the data area (the old slot becomes a free block); new
// entries of the tree take a free block or the end of the data area.
#include <cstring>
#include <memory>

#include "platform/paths.h"
#include "tools/filepacktools_lib/packmerger.h"

namespace {

size_t FindFreeBlock(const std::vector<PackFreeBlock>& vecFree, uint32_t dwSize) {
  for (size_t i = 0; i < vecFree.size(); ++i) {
    if (dwSize <= vecFree[i].dwSize) return i;
  }
  return CPackMerger::kNoBlock;
}

// Carves dwSize bytes from the front of block nBlock: 2 when that used the
// whole block (it leaves the list), else 1.
int TakeFromFreeBlock(std::vector<PackFreeBlock>& vecFree, size_t nBlock, uint32_t dwSize) {
  PackFreeBlock& block = vecFree[nBlock];
  block.dwSize -= dwSize;
  if (block.dwSize == 0) {
    vecFree.erase(vecFree.begin() + static_cast<std::ptrdiff_t>(nBlock));
    return 2;
  }
  block.dwOffset += dwSize;
  return 1;
}

}  // namespace

int CPackFile::AllocSpace(uint32_t dwSize, uint32_t* pdwOffset) {
  const size_t nBlock = FindFreeBlock(m_vecFreeBlock, dwSize);
  if (nBlock == CPackMerger::kNoBlock) {
    *pdwOffset = m_header.dwIndexOffset;
    return 0;
  }
  *pdwOffset = m_vecFreeBlock[nBlock].dwOffset;
  return TakeFromFreeBlock(m_vecFreeBlock, nBlock, dwSize);
}

bool CPackMerger::Plan() {
  std::memset(m_target.m_szWorkDir, 0, sizeof(m_target.m_szWorkDir));
  const std::string strWorkDir = CurrentDirectory();
  std::memcpy(m_target.m_szWorkDir, strWorkDir.data(), strWorkDir.size());
  m_dwOldIndexOffset = m_target.m_header.dwIndexOffset;
  m_vecStep.clear();
  for (const auto& item : m_source.m_mapEntry) {
    if (!PlanEntry(item.first, *item.second)) return false;
  }
  const size_t nEntries = m_target.m_mapEntry.size() + m_target.m_vecNewEntry.size();
  if (SavedEnd(m_target) > UINT32_MAX || nEntries > INT32_MAX || m_target.m_vecFreeBlock.size() > INT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // offsets and counts are 32 bits wide
    return false;
  }
  return true;
}

bool CPackMerger::PlanEntry(const std::string& strName, const PackEntry& srcEntry) {
  auto itTarget = m_target.m_mapEntry.find(strName);
  if (itTarget != m_target.m_mapEntry.end()) {
    PackEntry& target = *itTarget->second;
    if (TagsEqual(target.szTag, srcEntry.szTag)) return true;
    return PlanReplace(strName, srcEntry, target);
  }
  if (BelongsToTree(m_target, strName)) return PlanAdd(strName, srcEntry);
  // A name without a directory is passed over.
  if (!LooseRelative(strName).empty()) m_vecStep.push_back({&srcEntry, &strName, true, 0, 0});
  return true;
}

bool CPackMerger::PlanReplace(const std::string& strName, const PackEntry& srcEntry, PackEntry& target) {
  uint32_t dwSize = 0;
  if (!StoredSize(srcEntry, dwSize)) return false;
  // A plain pack sizes a slot by the original size (equal to the stored
  // size there); a compressed one by the stored size.
  const uint32_t dwSlot = m_target.m_byCompressed ? target.dwStoredSize : target.dwOrigSize;
  if (dwSlot >= dwSize) {
    AddBlobStep(srcEntry, strName, target.dwOffset, dwSize);
    if (dwSlot > dwSize) m_target.m_vecFreeBlock.push_back({target.dwOffset + dwSize, dwSlot - dwSize});
  } else {
    uint32_t dwOffset = 0;
    if (!Place(dwSize, dwOffset)) return false;
    AddBlobStep(srcEntry, strName, dwOffset, dwSize);
    // The old slot is freed only now, so an entry never moves into it.
    m_target.m_vecFreeBlock.push_back({target.dwOffset, target.dwStoredSize});
    target.dwOffset = dwOffset;
  }
  target.dwOrigSize = srcEntry.dwOrigSize;
  target.dwStoredSize = dwSize;
  std::memcpy(target.szTag, srcEntry.szTag, kPackTagSize);
  return true;
}

bool CPackMerger::PlanAdd(const std::string& strName, const PackEntry& srcEntry) {
  uint32_t dwSize = 0;
  uint32_t dwOffset = 0;
  if (!StoredSize(srcEntry, dwSize) || !Place(dwSize, dwOffset)) return false;
  AddBlobStep(srcEntry, strName, dwOffset, dwSize);
  auto pEntry = std::make_unique<PackEntry>();
  std::memset(pEntry.get(), 0, sizeof(PackEntry));
  std::memcpy(pEntry->szName, srcEntry.szName, kPackNameSize);
  pEntry->dwOrigSize = srcEntry.dwOrigSize;
  pEntry->dwStoredSize = dwSize;
  pEntry->dwOffset = dwOffset;
  std::memcpy(pEntry->szTag, srcEntry.szTag, kPackTagSize);
  m_target.AddPathToTree(strName.c_str(), pEntry.get());
  m_target.m_vecNewEntry.push_back(std::move(pEntry));
  ++m_target.m_header.nEntryCount;
  return true;
}

// The bytes the entry will take in the target: its plain size in a plain
// pack, the source's stream in a compressed pack fed a compressed pack, and
// in a compressed pack fed a plain one the length of its encoding (the
// encoder is deterministic: Write gets the same stream again).
bool CPackMerger::StoredSize(const PackEntry& srcEntry, uint32_t& dwSize) {
  if (m_target.m_byCompressed == 0) {
    dwSize = srcEntry.dwOrigSize;
    return true;
  }
  if (m_source.m_byCompressed != 0) {
    dwSize = srcEntry.dwStoredSize;
    return true;
  }
  CEntryBytes bytes;
  if (!ReadForTarget(srcEntry, bytes)) return false;
  dwSize = bytes.dwSize;
  return true;
}

// The first free block that holds dwSize bytes, else the end of the data
// area, which then grows.
bool CPackMerger::Place(uint32_t dwSize, uint32_t& dwOffset) {
  const size_t nBlock = FindFreeBlock(m_target.m_vecFreeBlock, dwSize);
  if (nBlock != kNoBlock) {
    dwOffset = m_target.m_vecFreeBlock[nBlock].dwOffset;
    TakeFromFreeBlock(m_target.m_vecFreeBlock, nBlock, dwSize);
    return true;
  }
  if (static_cast<uint64_t>(m_target.m_header.dwIndexOffset) + dwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // offsets are 32 bits wide
    return false;
  }
  dwOffset = m_target.m_header.dwIndexOffset;
  m_target.m_header.dwIndexOffset += dwSize;
  return true;
}

void CPackMerger::AddBlobStep(const PackEntry& srcEntry, const std::string& strName, uint32_t dwOffset,
                              uint32_t dwSize) {
  m_vecStep.push_back({&srcEntry, &strName, false, dwOffset, dwSize});
}

std::vector<CWriteRange> CPackMerger::WriteRanges() const {
  std::vector<CWriteRange> vecRanges;
  vecRanges.push_back({0, kPackHeaderSize});
  for (const CStep& step : m_vecStep) {
    if (!step.bLoose) vecRanges.push_back({step.dwOffset, step.dwSize});
  }
  // Offsets stay below 4 GiB, so this reaches past any end of the file.
  vecRanges.push_back({m_dwOldIndexOffset, uint64_t{1} << 32});
  return vecRanges;
}

PackHeader CPackMerger::SavedHeader(const CPackFile& target) {
  PackHeader header = target.m_header;
  header.nEntryCount = static_cast<int32_t>(target.m_mapEntry.size() + target.m_vecNewEntry.size());
  header.nFreeBlockCount = static_cast<int32_t>(target.m_vecFreeBlock.size());
  return header;
}

uint64_t CPackMerger::SavedEnd(const CPackFile& target) {
  uint64_t qwDirRecords = 0;
  for (const auto& item : target.m_mapDir) qwDirRecords += item.second.size();
  const uint64_t qwEntries = target.m_mapEntry.size() + target.m_vecNewEntry.size();
  return target.m_header.dwIndexOffset + qwEntries * kPackEntrySize + qwDirRecords * kPackDirRecordSize +
         target.m_vecFreeBlock.size() * uint64_t{kPackFreeBlockSize};
}
