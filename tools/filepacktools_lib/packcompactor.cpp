#include "tools/filepacktools_lib/packcompactor.h"

#include <algorithm>

#include "platform/file_copy.h"
#include "platform/last_error.h"

namespace {

constexpr char kCompactTempSuffix[] = ".compact.new";

// The entries by the position of their bytes in the data area.
std::vector<PackEntry*> InFileOrder(PackEntryMap& mapEntry) {
  std::vector<PackEntry*> vecOrder;
  vecOrder.reserve(mapEntry.size());
  for (auto& item : mapEntry) vecOrder.push_back(item.second.get());
  // At one offset the empty entries come first: a build gives an empty
  // entry the offset where the next entry's bytes begin. Stable, so the
  // rest keeps name order.
  std::stable_sort(vecOrder.begin(), vecOrder.end(), [](const PackEntry* a, const PackEntry* b) {
    if (a->dwOffset != b->dwOffset) return a->dwOffset < b->dwOffset;
    return a->dwStoredSize == 0 && b->dwStoredSize != 0;
  });
  return vecOrder;
}

}  // namespace

CCompactLayout LayoutCompaction(PackEntryMap& mapEntry) {
  CCompactLayout layout;
  uint64_t qwTo = kPackHeaderSize;
  for (PackEntry* pEntry : InFileOrder(mapEntry)) {
    const uint64_t qwFrom = pEntry->dwOffset;
    pEntry->dwOffset = static_cast<uint32_t>(qwTo);
    if (pEntry->dwStoredSize == 0) continue;  // occupies nothing
    CCopyRun* pLast = layout.vecRuns.empty() ? nullptr : &layout.vecRuns.back();
    if (pLast && pLast->qwFrom + pLast->qwLength == qwFrom) {
      pLast->qwLength += pEntry->dwStoredSize;
    } else {
      layout.vecRuns.push_back({qwFrom, qwTo, pEntry->dwStoredSize});
    }
    qwTo += pEntry->dwStoredSize;
  }
  layout.dwIndexOffset = static_cast<uint32_t>(qwTo);
  return layout;
}

bool CopyRuns(HANDLE hFrom, HANDLE hTo, const std::vector<CCopyRun>& vecRuns) {
  for (const CCopyRun& run : vecRuns) {
    if (!CopyFileBytes(hFrom, run.qwFrom, hTo, run.qwTo, run.qwLength)) return false;
  }
  return true;
}

uint64_t HoleBytes(const PackEntryMap& mapEntry, uint32_t dwIndexOffset) {
  if (dwIndexOffset <= kPackHeaderSize) return 0;
  std::vector<std::pair<uint64_t, uint64_t>> vecSpans;
  vecSpans.reserve(mapEntry.size());
  for (const auto& item : mapEntry) {
    // Clipped to the data area: bytes beyond it are no part of it.
    const uint64_t qwStart = std::max<uint64_t>(item.second->dwOffset, kPackHeaderSize);
    const uint64_t qwEnd =
        std::min<uint64_t>(uint64_t{item.second->dwOffset} + item.second->dwStoredSize, dwIndexOffset);
    if (qwStart < qwEnd) vecSpans.emplace_back(qwStart, qwEnd);
  }
  std::sort(vecSpans.begin(), vecSpans.end());
  uint64_t qwCovered = 0;
  uint64_t qwReached = kPackHeaderSize;  // overlapping spans count once
  for (const auto& span : vecSpans) {
    const uint64_t qwStart = std::max(span.first, qwReached);
    if (span.second > qwStart) qwCovered += span.second - qwStart;
    qwReached = std::max(qwReached, span.second);
  }
  return (dwIndexOffset - kPackHeaderSize) - qwCovered;
}

std::string CompactTempPath(const std::string& strPackPath) { return strPackPath + kCompactTempSuffix; }

void RemoveCompactLeftover(const std::string& strPackPath) {
  const std::string strTemp = CompactTempPath(strPackPath);
  CKeepLastError keep;
  // Asked first, so that a pack without a leftover sees no deletion at all.
  if (GetFileAttributesA(strTemp.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(strTemp.c_str());
}
