#include "tools/filepacktools_lib/packplan.h"

namespace {

// One plan being made: the free list and the end of the data area as the
// steps so far leave them.
class CPlanner {
 public:
  CPlanner(const CMergeInput& input, CMergePlan& plan) : m_input(input), m_plan(plan) {
    m_plan.vecSteps.clear();
    m_plan.vecFree = input.vecTargetFree;
    m_plan.dwIndexOffset = m_plan.dwOldIndexOffset = input.dwTargetIndexOffset;
  }

  bool PlanEntry(const std::string& strName, const PackEntry& source);

 private:
  bool PlanChange(const std::string& strName, const PackEntry& source, const PackEntry& target);
  bool PlanAdd(const std::string& strName, const PackEntry& source);
  bool StoredSize(const PackEntry& source, uint32_t& dwSize) const;
  bool Place(uint32_t dwSize, uint32_t& dwOffset, MergePlace& ePlace);

  const CMergeInput& m_input;
  CMergePlan& m_plan;
};

bool CPlanner::PlanEntry(const std::string& strName, const PackEntry& source) {
  auto itTarget = m_input.mapTarget.find(strName);
  if (itTarget != m_input.mapTarget.end()) {
    const PackEntry& target = *itTarget->second;
    if (TagsEqual(target.szTag, source.szTag)) return true;
    return PlanChange(strName, source, target);
  }
  if (BelongsToTree(m_input.mapTargetDir, strName)) return PlanAdd(strName, source);
  if (!LooseRelative(strName).empty()) {
    m_plan.vecSteps.push_back({MergeAction::kLoose, MergePlace::kNone, &strName, &source});
  }
  return true;
}

bool CPlanner::PlanChange(const std::string& strName, const PackEntry& source, const PackEntry& target) {
  uint32_t dwSize = 0;
  if (!StoredSize(source, dwSize)) return false;
  const uint32_t dwSlot = m_input.bTargetCompressed ? target.dwStoredSize : target.dwOrigSize;
  if (dwSlot >= dwSize) {
    m_plan.vecSteps.push_back({MergeAction::kInPlace, MergePlace::kSlot, &strName, &source, target.dwOffset, dwSize});
    if (dwSlot > dwSize) m_plan.vecFree.push_back({target.dwOffset + dwSize, dwSlot - dwSize});
    return true;
  }
  CMergeStep step{MergeAction::kMove, MergePlace::kNone, &strName, &source, 0, dwSize};
  if (!Place(dwSize, step.dwOffset, step.ePlace)) return false;
  m_plan.vecSteps.push_back(step);
  m_plan.vecFree.push_back({target.dwOffset, target.dwStoredSize});
  return true;
}

bool CPlanner::PlanAdd(const std::string& strName, const PackEntry& source) {
  CMergeStep step{MergeAction::kAdd, MergePlace::kNone, &strName, &source, 0, 0};
  if (!StoredSize(source, step.dwSize) || !Place(step.dwSize, step.dwOffset, step.ePlace)) return false;
  m_plan.vecSteps.push_back(step);
  return true;
}

bool CPlanner::StoredSize(const PackEntry& source, uint32_t& dwSize) const {
  if (!m_input.bTargetCompressed) {
    dwSize = source.dwOrigSize;
    return true;
  }
  return m_input.fnStoredSize(source, dwSize);
}

bool CPlanner::Place(uint32_t dwSize, uint32_t& dwOffset, MergePlace& ePlace) {
  if (TakeFreeSpace(m_plan.vecFree, m_plan.dwIndexOffset, dwSize, dwOffset) != 0) {
    ePlace = MergePlace::kFreeBlock;
    return true;
  }
  if (static_cast<uint64_t>(m_plan.dwIndexOffset) + dwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // offsets are 32 bits wide
    return false;
  }
  ePlace = MergePlace::kEnd;
  m_plan.dwIndexOffset += dwSize;
  return true;
}

}  // namespace

bool PlanMerge(const CMergeInput& input, CMergePlan& plan) {
  CPlanner planner(input, plan);
  for (const auto& item : input.mapSource) {
    if (!planner.PlanEntry(item.first, *item.second)) {
      plan.strFailedName = item.first;
      return false;
    }
  }
  return true;
}

int TakeFreeSpace(PackFreeList& vecFree, uint32_t dwIndexOffset, uint32_t dwSize, uint32_t& dwOffset) {
  for (size_t i = 0; i < vecFree.size(); ++i) {
    PackFreeBlock& block = vecFree[i];
    if (dwSize > block.dwSize) continue;
    dwOffset = block.dwOffset;
    block.dwSize -= dwSize;
    if (block.dwSize == 0) {
      vecFree.erase(vecFree.begin() + static_cast<std::ptrdiff_t>(i));
      return 2;
    }
    block.dwOffset += dwSize;
    return 1;
  }
  dwOffset = dwIndexOffset;
  return 0;
}

bool BelongsToTree(const PackDirMap& mapDir, const std::string& strName) {
  const size_t nFirst = strName.find('\\');
  if (nFirst == std::string::npos) return false;
  const size_t nSecond = strName.find('\\', nFirst + 1);
  if (nSecond == std::string::npos) return false;
  return mapDir.count(strName.substr(0, nSecond)) != 0;
}

std::string LooseRelative(const std::string& strName) {
  const size_t nFirst = strName.find('\\');
  return nFirst == std::string::npos ? std::string() : strName.substr(nFirst + 1);
}
