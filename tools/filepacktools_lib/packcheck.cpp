#include "tools/filepacktools_lib/packcheck.h"

#include <algorithm>

namespace {

struct Span {
  uint64_t qwStart;
  uint64_t qwEnd;
};

}  // namespace

bool IsInDataArea(const PackEntry& entry, uint32_t dwIndexOffset) {
  return entry.dwOffset >= kPackHeaderSize &&
         static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize <= dwIndexOffset;
}

bool IsLayoutSound(const PackHeader& header, const PackEntryMap& mapEntry,
                   const std::vector<PackFreeBlock>& vecFreeBlock) {
  std::vector<Span> vecSpans;
  vecSpans.reserve(mapEntry.size() + vecFreeBlock.size());
  for (const auto& item : mapEntry) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, header.dwIndexOffset)) return false;
    if (header.byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) return false;
    vecSpans.push_back({entry.dwOffset, static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize});
  }
  for (const PackFreeBlock& block : vecFreeBlock) {
    const uint64_t qwEnd = static_cast<uint64_t>(block.dwOffset) + block.dwSize;
    if (block.dwOffset < kPackHeaderSize || qwEnd > header.dwIndexOffset) return false;
    vecSpans.push_back({block.dwOffset, qwEnd});
  }
  // Empty spans occupy nothing (an empty entry may sit anywhere).
  vecSpans.erase(std::remove_if(vecSpans.begin(), vecSpans.end(),
                                [](const Span& span) { return span.qwStart == span.qwEnd; }),
                 vecSpans.end());
  std::sort(vecSpans.begin(), vecSpans.end(), [](const Span& a, const Span& b) { return a.qwStart < b.qwStart; });
  for (size_t i = 1; i < vecSpans.size(); ++i) {
    if (vecSpans[i].qwStart < vecSpans[i - 1].qwEnd) return false;
  }
  return true;
}
