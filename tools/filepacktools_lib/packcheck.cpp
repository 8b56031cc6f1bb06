#include "tools/filepacktools_lib/packcheck.h"

#include <algorithm>

namespace {

struct Span {
  uint64_t qwStart;
  uint64_t qwEnd;
  std::string strWhat;  // "entry \"...\"" or "free block at N"
};

std::string EntryLabel(const std::string& strName) { return "entry \"" + strName + "\""; }

}  // namespace

bool IsInDataArea(const PackEntry& entry, uint32_t dwIndexOffset) {
  return entry.dwOffset >= kPackHeaderSize &&
         static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize <= dwIndexOffset;
}

std::string LayoutProblem(const PackHeader& header, const PackEntryMap& mapEntry,
                          const std::vector<PackFreeBlock>& vecFreeBlock) {
  std::vector<Span> vecSpans;
  vecSpans.reserve(mapEntry.size() + vecFreeBlock.size());
  for (const auto& item : mapEntry) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, header.dwIndexOffset)) return EntryLabel(item.first) + " lies outside the data area";
    if (header.byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) {
      return EntryLabel(item.first) + " of a plain pack has differing sizes";
    }
    if (entry.dwStoredSize == 0) continue;  // an empty entry occupies nothing and may sit anywhere
    vecSpans.push_back({entry.dwOffset, static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize, EntryLabel(item.first)});
  }
  for (const PackFreeBlock& block : vecFreeBlock) {
    const uint64_t qwEnd = static_cast<uint64_t>(block.dwOffset) + block.dwSize;
    const std::string strBlock = "the free block at " + std::to_string(block.dwOffset);
    if (block.dwOffset < kPackHeaderSize || qwEnd > header.dwIndexOffset) return strBlock + " lies outside the data area";
    if (block.dwSize > 0) vecSpans.push_back({block.dwOffset, qwEnd, strBlock});
  }
  std::sort(vecSpans.begin(), vecSpans.end(), [](const Span& a, const Span& b) { return a.qwStart < b.qwStart; });
  for (size_t i = 1; i < vecSpans.size(); ++i) {
    if (vecSpans[i].qwStart < vecSpans[i - 1].qwEnd) return vecSpans[i - 1].strWhat + " overlaps " + vecSpans[i].strWhat;
  }
  return std::string();
}

bool IsLayoutSound(const PackHeader& header, const PackEntryMap& mapEntry,
                   const std::vector<PackFreeBlock>& vecFreeBlock) {
  return LayoutProblem(header, mapEntry, vecFreeBlock).empty();
}
