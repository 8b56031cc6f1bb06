// A merge's dry run: MergePack's own opening, checks and plan, handed back
// instead of carried out.
#include <cassert>

#include "platform/last_error.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packlock.h"
#include "tools/filepacktools_lib/packplan.h"

namespace {

CMergePreviewStep PreviewStep(const CMergeStep& step) {
  CMergePreviewStep preview;
  preview.eAction = step.eAction;
  preview.ePlace = step.ePlace;
  preview.strName = *step.pstrName;
  preview.dwOffset = step.dwOffset;
  preview.dwSize = step.dwSize;
  preview.dwPlainSize = step.pSource->dwOrigSize;
  if (step.eAction == MergeAction::kLoose) preview.strLoosePath = LooseRelative(*step.pstrName);
  return preview;
}

}  // namespace

int CRealizePack::PreviewMerge(const char* pszSrcPack, const char* pszTarPack, CMergePreview& preview,
                               const CUpdateRemovals* pRemovals) {
  assert(NULL != pszSrcPack);
  assert(NULL != pszTarPack);
  m_strRefusal.clear();
  preview = CMergePreview();
  if (!pszSrcPack || !pszSrcPack[0] || !pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  CMergePlan plan;
  CPackLock lock;
  CRemovalPlan removal;
  const bool bOk =
      OpenUpdate(pszSrcPack) && PlanHeld(pszSrcPack, pszTarPack, lock, plan, pRemovals ? &removal : nullptr, pRemovals);
  CKeepLastError keep;  // the plan's outcome, through the closes below
  if (bOk) {
    CPackFile& target = *m_pTarPack;
    DWORD dwSizeHigh = 0;
    const DWORD dwSizeLow = GetFileSize(target.m_hPackFile.Get(), &dwSizeHigh);
    preview.qwSizeBefore = (static_cast<uint64_t>(dwSizeHigh) << 32) | dwSizeLow;
    // The plan is in the target's index now: its regions are what the save
    // would write, and the file ends behind them.
    preview.qwSizeAfter = LayoutIndex(target.m_header.dwIndexOffset, target.Regions()).End();
    for (const PackFreeBlock& block : plan.vecFree) preview.dwFreeBytesAfter += block.dwSize;
    preview.nUpdateEntries = m_pSrcPack->m_mapEntry.size();
    for (const CMergeStep& step : plan.vecSteps) preview.vecSteps.push_back(PreviewStep(step));
    preview.vecRemoved = removal.vecFromPack;
    preview.vecLooseRemoved = removal.vecLoose;
  }
  m_strHeldUpdate.clear();
  m_pSrcPack->Close();
  m_pTarPack->Close();
  return bOk ? 1 : 0;
}
