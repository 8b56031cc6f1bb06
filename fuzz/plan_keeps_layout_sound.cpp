// Any bytes read as a sound client index (entries and free blocks laid out
// without overlap, plain or compressed) and an update index (changed, equal
// and new entries, in and outside the client's tree), planned in memory.
// Checks: the plan's blobs overlap neither each other nor the blobs that
// stay, nor the free list it leaves; everything lies inside the data area,
// which only grows, by what was appended; unchanged entries get no step.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/packplan.h"

namespace {

class CByteReader {
 public:
  CByteReader(const uint8_t* pbyData, size_t nSize) : m_pbyData(pbyData), m_nSize(nSize) {}
  uint32_t Next(uint32_t nBound) { return m_nPos < m_nSize ? m_pbyData[m_nPos++] % nBound : 0; }
  bool More() const { return m_nPos < m_nSize; }

 private:
  const uint8_t* m_pbyData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

void AddEntry(PackEntryMap& map, const std::string& strName, uint32_t dwOffset, uint32_t dwOrig, uint32_t dwStored,
              uint32_t nTag) {
  auto pEntry = std::make_unique<PackEntry>();
  std::memset(pEntry.get(), 0, sizeof(PackEntry));
  SetField(pEntry->szName, kPackNameSize, strName);
  SetField(pEntry->szTag, kPackTagSize, "t" + std::to_string(nTag));
  pEntry->dwOffset = dwOffset;
  pEntry->dwOrigSize = dwOrig;
  pEntry->dwStoredSize = dwStored;
  map.emplace(strName, std::move(pEntry));
}

const char* const kDirs[] = {"res\\ui\\", "res\\maps\\", "res\\new\\", "res\\", ""};

struct Span {
  uint64_t qwStart;
  uint64_t qwEnd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t nSize) {
  CByteReader in(pbyData, nSize);
  const bool bCompressed = in.Next(2) == 1;
  PackEntryMap mapTarget;
  PackFreeList vecFree;
  uint32_t dwEnd = kPackHeaderSize;
  const uint32_t nTargets = in.Next(12);
  for (uint32_t i = 0; i < nTargets; ++i) {
    const uint32_t dwGap = in.Next(5);
    if (dwGap > 0 && in.Next(2)) vecFree.push_back({dwEnd, dwGap});
    dwEnd += dwGap;
    const uint32_t dwStored = in.Next(20);
    const uint32_t dwOrig = bCompressed ? in.Next(60) : dwStored;
    AddEntry(mapTarget, kDirs[in.Next(2)] + std::string("e") + std::to_string(i), dwEnd, dwOrig, dwStored, in.Next(3));
    dwEnd += dwStored;
  }
  PackDirMap mapDir;
  mapDir["res"];
  mapDir["res\\ui"];
  mapDir["res\\maps"];

  PackEntryMap mapSource;
  while (in.More() && mapSource.size() < 24) {
    const uint32_t dwStored = in.Next(30);
    const uint32_t dwOrig = bCompressed ? in.Next(90) : dwStored;
    const std::string strName = kDirs[in.Next(5)] + std::string(in.Next(2) ? "e" : "n") + std::to_string(in.Next(14));
    AddEntry(mapSource, strName, 0, dwOrig, dwStored, in.Next(3));
  }

  const CMergeInput input{mapSource, mapTarget, mapDir, vecFree, dwEnd, bCompressed,
                          [](const PackEntry& entry, uint32_t& dwSize) {
                            dwSize = entry.dwStoredSize;
                            return true;
                          }};
  CMergePlan plan;
  if (!PlanMerge(input, plan)) FuzzFail("a plan far below 4 GiB failed");
  if (plan.dwOldIndexOffset != dwEnd || plan.dwIndexOffset < dwEnd) FuzzFail("the data area shrank");

  std::vector<Span> vecSpans;
  uint64_t qwAppended = 0;
  std::vector<std::string> vecStepped;
  for (const CMergeStep& step : plan.vecSteps) {
    vecStepped.push_back(*step.pstrName);
    auto itTarget = mapTarget.find(*step.pstrName);
    if (itTarget != mapTarget.end() && TagsEqual(itTarget->second->szTag, step.pSource->szTag)) {
      FuzzFail("an unchanged entry got a step");
    }
    if (step.eAction == MergeAction::kLoose) continue;
    if (step.dwSize != step.pSource->dwStoredSize) FuzzFail("a blob of the wrong size");
    if (step.ePlace == MergePlace::kEnd) qwAppended += step.dwSize;
    vecSpans.push_back({step.dwOffset, uint64_t{step.dwOffset} + step.dwSize});
  }
  if (plan.dwIndexOffset - dwEnd != qwAppended) FuzzFail("the data area grew by more than was appended");
  for (const auto& item : mapTarget) {
    if (std::find(vecStepped.begin(), vecStepped.end(), item.first) != vecStepped.end()) continue;
    const PackEntry& entry = *item.second;
    vecSpans.push_back({entry.dwOffset, uint64_t{entry.dwOffset} + entry.dwStoredSize});
  }
  for (const PackFreeBlock& block : plan.vecFree) vecSpans.push_back({block.dwOffset, uint64_t{block.dwOffset} + block.dwSize});

  vecSpans.erase(std::remove_if(vecSpans.begin(), vecSpans.end(), [](const Span& span) { return span.qwStart == span.qwEnd; }),
                 vecSpans.end());
  std::sort(vecSpans.begin(), vecSpans.end(), [](const Span& a, const Span& b) { return a.qwStart < b.qwStart; });
  for (size_t i = 0; i < vecSpans.size(); ++i) {
    if (vecSpans[i].qwStart < kPackHeaderSize || vecSpans[i].qwEnd > plan.dwIndexOffset) {
      FuzzFail("a blob or free block outside the data area");
    }
    if (i > 0 && vecSpans[i].qwStart < vecSpans[i - 1].qwEnd) FuzzFail("blobs or free blocks overlap");
  }
  return 0;
}
