// The placement rules of a merge, planned in memory from two indexes: where
// each changed and new entry goes, which blocks are carved or freed, and
// where the data area ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packplan.h"

namespace {

struct CEntryRow {
  std::string strName;
  uint32_t dwOffset;  // target entries only
  uint32_t dwOrigSize;
  uint32_t dwStoredSize;
  std::string strTag;
};

struct CStepRow {
  std::string strName;
  MergeAction eAction;
  MergePlace ePlace;
  uint32_t dwOffset;
  uint32_t dwSize;
};

struct PlanCase {
  const char* pszWhat;
  std::vector<CEntryRow> vecTarget;
  std::vector<PackFreeBlock> vecFree;
  uint32_t dwIndexOffset;
  std::vector<CEntryRow> vecSource;
  std::vector<CStepRow> vecSteps;
  std::vector<PackFreeBlock> vecFreeAfter;
  uint32_t dwIndexOffsetAfter;
  bool bCompressed = false;
};

PackEntryMap MapOf(const std::vector<CEntryRow>& vecRows) {
  PackEntryMap map;
  for (const CEntryRow& row : vecRows) {
    auto pEntry = std::make_unique<PackEntry>();
    std::memset(pEntry.get(), 0, sizeof(PackEntry));
    SetField(pEntry->szName, kPackNameSize, row.strName);
    SetField(pEntry->szTag, kPackTagSize, row.strTag);
    pEntry->dwOffset = row.dwOffset;
    pEntry->dwOrigSize = row.dwOrigSize;
    pEntry->dwStoredSize = row.dwStoredSize;
    map.emplace(row.strName, std::move(pEntry));
  }
  return map;
}

// The client's tree: the first directories ui and maps below the root res.
PackDirMap Tree() {
  PackDirMap map;
  map["res"];
  map["res\\ui"];
  map["res\\maps"];
  return map;
}

std::string Describe(const std::vector<PackFreeBlock>& vecFree) {
  std::string str;
  for (const PackFreeBlock& block : vecFree) {
    str += "{" + std::to_string(block.dwOffset) + "," + std::to_string(block.dwSize) + "}";
  }
  return str;
}

// A compressed client stores a stream: here every entry's stream is its
// stored size, as a compressed update's is.
bool StoredSizeOf(const PackEntry& entry, uint32_t& dwSize) {
  dwSize = entry.dwStoredSize;
  return true;
}

const std::vector<PlanCase>& Cases() {
  using A = MergeAction;
  using P = MergePlace;
  static const std::vector<PlanCase> s_vecCases = {
      {"equal tags change nothing",
       {{"res\\ui\\a", 60, 8, 8, "t1"}}, {}, 68,
       {{"res\\ui\\a", 0, 3, 3, "t1"}},
       {}, {}, 68},
      {"smaller content overwrites in place and frees the tail",
       {{"res\\ui\\a", 60, 8, 8, "t1"}}, {}, 68,
       {{"res\\ui\\a", 0, 3, 3, "t2"}},
       {{"res\\ui\\a", A::kInPlace, P::kSlot, 60, 3}}, {{63, 5}}, 68},
      {"equal size overwrites in place without a block",
       {{"res\\ui\\a", 60, 8, 8, "t1"}}, {}, 68,
       {{"res\\ui\\a", 0, 8, 8, "t2"}},
       {{"res\\ui\\a", A::kInPlace, P::kSlot, 60, 8}}, {}, 68},
      {"a block of exactly the size leaves the list; the old slot is appended",
       {{"res\\ui\\a", 60, 4, 4, "t1"}, {"res\\ui\\b", 70, 2, 2, "t1"}}, {{64, 6}}, 72,
       {{"res\\ui\\a", 0, 6, 6, "t2"}},
       {{"res\\ui\\a", A::kMove, P::kFreeBlock, 64, 6}}, {{60, 4}}, 72},
      {"first fit carves the first block large enough from its front",
       {{"res\\ui\\a", 60, 4, 4, "t1"}}, {{100, 3}, {110, 20}, {140, 50}}, 200,
       {{"res\\ui\\a", 0, 15, 15, "t2"}},
       {{"res\\ui\\a", A::kMove, P::kFreeBlock, 110, 15}}, {{100, 3}, {125, 5}, {140, 50}, {60, 4}}, 200},
      {"a grown entry never moves into its own slot; a later entry may",
       {{"res\\ui\\a", 60, 4, 4, "t1"}}, {}, 64,
       {{"res\\ui\\a", 0, 6, 6, "t2"}, {"res\\ui\\b", 0, 4, 4, "t1"}},
       {{"res\\ui\\a", A::kMove, P::kEnd, 64, 6}, {"res\\ui\\b", A::kAdd, P::kFreeBlock, 60, 4}}, {}, 70},
      {"no block large enough: appended, the data area grows",
       {{"res\\ui\\a", 60, 4, 4, "t1"}}, {{64, 2}}, 66,
       {{"res\\ui\\a", 0, 9, 9, "t2"}},
       {{"res\\ui\\a", A::kMove, P::kEnd, 66, 9}}, {{64, 2}, {60, 4}}, 75},
      {"new entries: existing first directory joins, missing one is loose, none at all is passed over",
       {{"res\\ui\\a", 60, 4, 4, "t1"}}, {}, 64,
       {{"res\\maps\\deep\\m", 0, 5, 5, "n"}, {"res\\sounds\\s", 0, 2, 2, "n"}, {"res\\top", 0, 1, 1, "n"},
        {"res\\ui\\b", 0, 3, 3, "n"}, {"resx", 0, 1, 1, "n"}},
       {{"res\\maps\\deep\\m", A::kAdd, P::kEnd, 64, 5}, {"res\\sounds\\s", A::kLoose, P::kNone, 0, 0},
        {"res\\top", A::kLoose, P::kNone, 0, 0}, {"res\\ui\\b", A::kAdd, P::kEnd, 69, 3}},
       {}, 72},
      {"a compressed client sizes slots and entries by their stored bytes",
       {{"res\\ui\\a", 60, 100, 10, "t1"}}, {}, 70,
       {{"res\\ui\\a", 0, 200, 7, "t2"}, {"res\\ui\\b", 0, 50, 12, "n"}},
       {{"res\\ui\\a", A::kInPlace, P::kSlot, 60, 7}, {"res\\ui\\b", A::kAdd, P::kEnd, 70, 12}}, {{67, 3}}, 82,
       true},
  };
  return s_vecCases;
}

TEST(PlanMergeTest, PlacementRules) {
  const PackDirMap mapDir = Tree();
  for (const PlanCase& planCase : Cases()) {
    SCOPED_TRACE(planCase.pszWhat);
    const PackEntryMap mapTarget = MapOf(planCase.vecTarget);
    const PackEntryMap mapSource = MapOf(planCase.vecSource);
    const CMergeInput input{mapSource, mapTarget, mapDir, planCase.vecFree, planCase.dwIndexOffset,
                            planCase.bCompressed, StoredSizeOf};
    CMergePlan plan;
    ASSERT_TRUE(PlanMerge(input, plan));
    ASSERT_EQ(planCase.vecSteps.size(), plan.vecSteps.size());
    for (size_t i = 0; i < plan.vecSteps.size(); ++i) {
      const CMergeStep& step = plan.vecSteps[i];
      const CStepRow& expected = planCase.vecSteps[i];
      EXPECT_EQ(expected.strName, *step.pstrName);
      EXPECT_EQ(expected.eAction, step.eAction) << expected.strName;
      EXPECT_EQ(expected.ePlace, step.ePlace) << expected.strName;
      EXPECT_EQ(expected.dwOffset, step.dwOffset) << expected.strName;
      EXPECT_EQ(expected.dwSize, step.dwSize) << expected.strName;
    }
    EXPECT_EQ(Describe(planCase.vecFreeAfter), Describe(plan.vecFree));
    EXPECT_EQ(planCase.dwIndexOffsetAfter, plan.dwIndexOffset);
    EXPECT_EQ(planCase.dwIndexOffset, plan.dwOldIndexOffset);
  }
}

TEST(PlanMergeTest, FailsBeforeTheDataAreaReachesFourGiB) {
  const PackEntryMap mapTarget = MapOf({{"res\\ui\\a", 60, 4, 4, "t1"}});
  const PackEntryMap mapSource = MapOf({{"res\\ui\\a", 0, 100, 100, "t2"}});
  const PackFreeList vecFree;
  const PackDirMap mapDir = Tree();
  const CMergeInput input{mapSource, mapTarget, mapDir, vecFree, UINT32_MAX - 50, false, StoredSizeOf};
  CMergePlan plan;
  EXPECT_FALSE(PlanMerge(input, plan));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), GetLastError());
}

TEST(PlanMergeTest, TakeFreeSpaceReportsHowItPlaced) {
  PackFreeList vecFree = {{100, 10}, {200, 4}};
  uint32_t dwOffset = 0;
  EXPECT_EQ(1, TakeFreeSpace(vecFree, 500, 6, dwOffset));
  EXPECT_EQ(100u, dwOffset);
  EXPECT_EQ(2, TakeFreeSpace(vecFree, 500, 4, dwOffset));
  EXPECT_EQ(106u, dwOffset);
  EXPECT_EQ(0, TakeFreeSpace(vecFree, 500, 5, dwOffset));
  EXPECT_EQ(500u, dwOffset);
  EXPECT_EQ("{200,4}", Describe(vecFree));
}

}  // namespace
