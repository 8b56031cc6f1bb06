// A compaction failed or interrupted at every point that changes a file on
// disk, in every way the fault injector knows (a failing call, every call
// failing from there on, a disk that fills up there, a killed process, a
// power cut, each with or without a torn last write): a compaction that
// fails reports the error that failed it; after the next open the pack
// must be exactly the old pack or exactly the compacted one, and the next compaction must end with the
// compacted pack and no temporary file. The same for a pack that an
// interrupted merge left with its journal, which the compaction restores
// first. Each injected compaction runs in a child process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/fault_inject.h"
#include "tests/support/child_process.h"
#include "tests/support/fault_child_run.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

// A pack with holes in three places, so the copy takes four runs.
CTestPack HoleyPack() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "AAAAAAAA", "a1");
  pack.AddHole(6);
  pack.AddEntry("res\\ui\\b.txt", "BBBB", "b1");
  pack.AddEntry("res\\ui\\c.txt", "CCCCCCCCCC", "c1");
  pack.AddHole(20);
  pack.AddEntry("res\\maps\\d.map", "DDDDD", "d1");
  pack.AddHole(3);
  pack.AddEntry("res\\maps\\e.map", "EEEEEEE", "e1");
  pack.AddTreeForEntries();
  return pack;
}

// Changes a.txt in place and moves c.txt: the merge that the journal case
// interrupts.
CTestPack Update() {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "a2");
  update.AddEntry("res\\ui\\c.txt", "cccccccccccccccccccc", "c2");
  return update;
}

CFaultChildRun RunChild(const fs::path& dir, const std::string& strMode, uint32_t nPoint,
                        const std::string& strAction) {
  return RunFaultChild(
      Utf8Path(MERGE_CHILD_EXE), dir, strMode, nPoint,
      {strAction == "--compact" ? strAction : ToProgramPath(dir / "update.pak"), ToProgramPath(dir / "client.pak")});
}

bool CompactInProcess(const fs::path& dir) {
  CRealizePack realize;
  return realize.CompactPack(ToProgramPath(dir / "client.pak").c_str());
}

class CompactCrashTest : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    s_pOld = new std::string(HoleyPack().Bytes());
    CTempDir reference;
    WriteFileBytes(reference.Path() / "client.pak", *s_pOld);
    EXPECT_TRUE(CompactInProcess(reference.Path()));
    s_pCompacted = new std::string(ReadFileBytes(reference.Path() / "client.pak"));
    Update().WriteTo(reference.Path() / "update.pak");
    WriteFileBytes(reference.Path() / "client.pak", *s_pOld);
    s_nMergePoints = RunChild(reference.Path(), "count", 0, "merge").nPoints;
  }
  static void TearDownTestSuite() {
    delete s_pOld;
    delete s_pCompacted;
  }

  // The pack, and with the parameter set, the merged pack and the journal
  // that gives the old one back: the merge stopped just before it removed
  // its journal.
  static void Lay(const fs::path& dir) {
    WriteFileBytes(dir / "client.pak", *s_pOld);
    if (!GetParam()) return;
    Update().WriteTo(dir / "update.pak");
    ASSERT_EQ(kFaultExitCode, RunChild(dir, "stop", s_nMergePoints, "merge").nExitCode);
    ASSERT_TRUE(fs::exists(dir / "client.pak.journal"));
    ASSERT_NE(*s_pOld, ReadFileBytes(dir / "client.pak"));
  }

  // Opens the pack as the next run would; true for the compacted pack.
  static bool ExpectOldOrCompacted(const fs::path& dir) {
    {
      CPackFile pack;
      EXPECT_TRUE(pack.Open(ToProgramPath(dir / "client.pak")));
    }
    EXPECT_FALSE(fs::exists(dir / "client.pak.journal"));
    const std::string strPack = ReadFileBytes(dir / "client.pak");
    const bool bCompacted = strPack == *s_pCompacted;
    EXPECT_TRUE(bCompacted || strPack == *s_pOld) << "the pack is neither the old one nor the compacted one";
    return bCompacted;
  }

  static std::string* s_pOld;
  static std::string* s_pCompacted;
  static uint32_t s_nMergePoints;
};

std::string* CompactCrashTest::s_pOld = nullptr;
std::string* CompactCrashTest::s_pCompacted = nullptr;
uint32_t CompactCrashTest::s_nMergePoints = 0;

TEST_P(CompactCrashTest, EveryPointOfACompactionGivesTheOldOrTheCompactedPack) {
  ASSERT_NE(*s_pOld, *s_pCompacted);
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, "--compact");
  ASSERT_EQ(1, count.nResult);
  EXPECT_EQ(*s_pCompacted, ReadFileBytes(counted.Path() / "client.pak")) << "the child's compaction differs";
  EXPECT_FALSE(fs::exists(counted.Path() / "client.pak.compact.new"));
  // The new file's creation, four runs of entries, the index regions
  // (index, end of file, header), the flush while the pack is held, the
  // replacement's flush (of nothing more) and the move; with a journal, its
  // restore before them.
  if (!GetParam()) {
    ASSERT_EQ(1u + 4u + 3u + 3u, count.nPoints);
  }

  unsigned nTested = 0;
  int nOld = 0;
  int nCompacted = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= count.nPoints; ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      Lay(dir.Path());
      const CFaultChildRun run = RunChild(dir.Path(), pszMode, nPoint, "--compact");
      ExpectFaultExit(run, pszMode);
      if (std::string(pszMode) == "fail" || (IsDiskFullMode(pszMode) && run.nResult == 0)) {
        // A failure cleans up at once.
        EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.compact.new"));
      }
      const bool bCompacted = ExpectOldOrCompacted(dir.Path());
      if (run.nResult == 1) {
        EXPECT_TRUE(bCompacted) << "a compaction that returned true left the old pack";
      } else {
        (bCompacted ? nCompacted : nOld)++;
      }
      EXPECT_TRUE(CompactInProcess(dir.Path()));
      EXPECT_TRUE(*s_pCompacted == ReadFileBytes(dir.Path() / "client.pak")) << "the compaction run again differs";
      EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.compact.new")) << "the leftover stays";
      ++nTested;
      if (HasFatalFailure()) return;
    }
  }
  // The move is the last point and the compaction's commit.
  EXPECT_EQ(0, nCompacted);
  std::cout << "compaction" << (GetParam() ? " with a journal" : "") << ": " << count.nPoints << " write points x "
            << std::size(kFaultModes) << " modes = " << nTested << " interrupted compactions\n";
  RecordProperty("compact_write_points", static_cast<int>(count.nPoints));
}

INSTANTIATE_TEST_SUITE_P(PackAndPackWithJournal, CompactCrashTest, ::testing::Bool());

}  // namespace
