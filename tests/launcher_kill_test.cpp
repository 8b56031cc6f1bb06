// The real updater killed (SIGKILL) at random moments of its merge, then
// run again to its end: the client pack must come out exactly as from a
// merge that nothing disturbed, and between the two runs it must open as
// the old pack or the merged one. Several tool directories run at once, so
// the loop stays within seconds although each run first spends four
// seconds stopping the client.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "launcher/updatedriver.h"
#include "tests/support/child_process.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

using CClock = std::chrono::steady_clock;

constexpr int kToolDirs = 4;
constexpr int kEntries = 48;
constexpr size_t kEntrySize = 256 << 10;

// Bytes that differ from entry to entry and from version to version.
std::string Filler(size_t nSize, uint32_t dwSeed) {
  std::mt19937 random(dwSeed);
  std::string str(nSize, '\0');
  for (char& ch : str) ch = static_cast<char>('a' + random() % 26);
  return str;
}

std::string EntryName(int i) { return "res\\data\\blob" + std::to_string(100 + i) + ".bin"; }

CTestPack ClientPack() {
  CTestPack pack("res");
  for (int i = 0; i < kEntries; ++i) pack.AddEntry(EntryName(i), Filler(kEntrySize, i), "v1");
  pack.AddTreeForEntries();
  return pack;
}

// Every entry changes: odd ones shrink (written in place), even ones grow
// (appended over the old index), and new ones join.
CTestPack UpdatePack() {
  CTestPack pack("res");
  for (int i = 0; i < kEntries; ++i) {
    const size_t nSize = i % 2 ? kEntrySize - 1000 : kEntrySize + 1000;
    pack.AddEntry(EntryName(i), Filler(nSize, 1000 + i), "v2");
  }
  for (int i = kEntries; i < kEntries + 8; ++i) pack.AddEntry(EntryName(i), Filler(4096, 1000 + i), "v2");
  return pack;
}

bool MergeStarted(const fs::path& tool) {
  return fs::exists(tool / "clientres.pak.journal.new") || fs::exists(tool / "clientres.pak.journal");
}

class LauncherKillTest : public ::testing::Test {
 protected:
  // The client the updater starts is detached: it is reaped here.
  LauncherKillTest() { AdoptOrphans(); }
  void TearDown() override { CollectOrphans(5000); }
};

TEST_F(LauncherKillTest, KilledMergeIsUndoneAndTheNextRunCompletesIt) {
  const std::string strOld = ClientPack().Bytes();
  const std::string strUpdate = UpdatePack().Bytes();

  // The merge nothing disturbs, and how long it takes.
  CTempDir reference;
  WriteFileBytes(reference.Path() / "clientres.pak", strOld);
  WriteFileBytes(reference.Path() / "update.pak", strUpdate);
  const auto start = CClock::now();
  {
    CRealizePack realize;
    ASSERT_EQ(1, realize.MergePack(reference.ProgramPath("update.pak").c_str(),
                                   reference.ProgramPath("clientres.pak").c_str()));
  }
  const auto mergeTime = std::chrono::duration_cast<std::chrono::microseconds>(CClock::now() - start);
  const std::string strMerged = ReadFileBytes(reference.Path() / "clientres.pak");
  // The updater compacts a merged client with many holes, as this one has.
  ASSERT_TRUE(CompactClientPack(reference.ProgramPath("clientres.pak").c_str()));
  const std::string strNew = ReadFileBytes(reference.Path() / "clientres.pak");

  std::vector<std::unique_ptr<CToolDir>> vecTools;
  std::vector<std::unique_ptr<CChildProcess>> vecRuns;
  for (int i = 0; i < kToolDirs; ++i) {
    vecTools.push_back(std::make_unique<CToolDir>());
    WriteFileBytes(vecTools.back()->Path() / "clientres.pak", strOld);
    WriteFileBytes(vecTools.back()->Path() / "update.pak", strUpdate);
  }
  for (const auto& pTool : vecTools) {
    const std::vector<std::string> vecArgs = {pTool->Program().u8string(), "update.pak", "1.02"};
    vecRuns.push_back(std::make_unique<CChildProcess>(pTool->Program(), vecArgs, pTool->Path()));
  }

  // Each run is killed a random time after its merge began to write.
  const unsigned nSeed = std::random_device()();
  std::mt19937 random(nSeed);
  std::uniform_int_distribution<long long> delay(0, mergeTime.count() * 3 / 2);
  std::vector<CClock::time_point> vecKillAt(kToolDirs, CClock::time_point::max());
  std::vector<long long> vecDelay(kToolDirs, -1);
  const auto deadline = CClock::now() + std::chrono::seconds(60);
  int nMissed = 0;
  for (int nLeft = kToolDirs; nLeft > 0 && CClock::now() < deadline;) {
    for (int i = 0; i < kToolDirs; ++i) {
      if (!vecRuns[i]) continue;
      // On a loaded machine a whole merge can fall between two looks: the
      // version file is written only after it.
      if (vecDelay[i] < 0 && fs::exists(vecTools[i]->Path() / "version.ver")) {
        vecRuns[i].reset();
        --nLeft;
        ++nMissed;
        continue;
      }
      if (vecDelay[i] < 0 && vecRuns[i]->Wait(0)) {
        ADD_FAILURE() << "updater " << i << " ended without a merge:\n" << vecRuns[i]->Output();
        vecRuns[i].reset();
        --nLeft;
        continue;
      }
      if (vecDelay[i] < 0 && MergeStarted(vecTools[i]->Path())) {
        vecDelay[i] = delay(random);
        vecKillAt[i] = CClock::now() + std::chrono::microseconds(vecDelay[i]);
      }
      if (CClock::now() >= vecKillAt[i]) {
        vecRuns[i].reset();  // SIGKILL, then reaped
        --nLeft;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_LT(CClock::now(), deadline) << "a merge never began";

  int nOld = 0;
  for (int i = 0; i < kToolDirs; ++i) {
    SCOPED_TRACE("tool directory " + std::to_string(i) + ", killed " + std::to_string(vecDelay[i]) +
                 " us into the merge, seed " + std::to_string(nSeed));
    const fs::path tool = vecTools[i]->Path();
    {
      CPackFile pack;
      EXPECT_TRUE(pack.Open(vecTools[i]->ProgramPath("clientres.pak")));
    }
    const std::string strBetween = ReadFileBytes(tool / "clientres.pak");
    EXPECT_TRUE(strBetween == strOld || strBetween == strMerged || strBetween == strNew)
        << "neither the old pack nor the merged or compacted one";
    nOld += strBetween == strOld;
  }
  // The next runs, all at once, to their end.
  for (int i = 0; i < kToolDirs; ++i) {
    const std::vector<std::string> vecArgs = {vecTools[i]->Program().u8string(), "update.pak", "1.02"};
    vecRuns[i] = std::make_unique<CChildProcess>(vecTools[i]->Program(), vecArgs, vecTools[i]->Path());
  }
  for (int i = 0; i < kToolDirs; ++i) {
    SCOPED_TRACE("tool directory " + std::to_string(i));
    ASSERT_TRUE(vecRuns[i]->Wait(60000));
    EXPECT_EQ(0, vecRuns[i]->ExitCode());
    EXPECT_TRUE(ReadFileBytes(vecTools[i]->Path() / "clientres.pak") == strNew) << "differs from the merge";
    EXPECT_EQ("1.02", ReadFileBytes(vecTools[i]->Path() / "version.ver"));
    EXPECT_FALSE(fs::exists(vecTools[i]->Path() / "clientres.pak.journal"));
  }
  vecRuns.clear();
  std::cout << kToolDirs - nMissed << " of " << kToolDirs << " updaters killed within a merge of "
            << mergeTime.count() / 1000 << " ms (seed " << nSeed << "); " << nOld << " left the old pack\n";
}

}  // namespace
