// A merge failed or interrupted at every point that changes a file on disk,
// in every way the fault injector knows (a failing call, every call failing
// from there on, a disk that fills up there, a killed process, a power cut,
// each with or without a torn last write): after the next open the client
// must be exactly the old one or exactly the merged one, pack and loose
// files together (a player's own file that a loose file replaces
// included); a merge that fails reports the error that failed it, not one
// of its rollback. Each injected merge runs in a child process of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault_inject.h"
#include "tests/support/child_process.h"
#include "tests/support/fault_child_run.h"
#include "tests/support/pack_writer.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace {

const char* const kPowerCutModes[] = {"power-cut", "power-cut-torn"};

// A client that every placement case of a merge touches, and its update.
CTestPack ScenarioClient() {
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", "AAAAAAAA", "a1");    // shrinks in place, frees its tail
  client.AddHole(6);                                      // takes b exactly
  client.AddEntry("res\\ui\\b.txt", "BBBB", "b1");        // grows into the hole
  client.AddEntry("res\\ui\\c.txt", "CCCCCCCCCC", "c1");  // grows, appended; h takes its old slot
  client.AddEntry("res\\ui\\d.txt", "DDDDD", "d1");       // same size, in place
  client.AddEntry("res\\ui\\e.txt", "EEE", "e1");         // unchanged
  client.AddEntry("res\\ui\\f.txt", "FFF", "f1");         // grows, appended
  client.AddTreeForEntries();
  return client;
}

CTestPack ScenarioUpdate() {
  CTestPack update("res", /*bCompressed=*/true);
  auto add = [&update](const std::string& strName, const std::string& strPlain, const std::string& strTag) {
    update.AddEntry(strName, Lzma86Encode(strPlain), strTag, static_cast<uint32_t>(strPlain.size()));
  };
  add("res\\loose\\x.txt", "new loose x", "x2");    // replaces an old loose file
  add("res\\maps\\town\\t.map", "town map", "t1");  // a new loose file in new directories
  add("res\\ui\\a.txt", "new", "a2");
  add("res\\ui\\b.txt", "bbbbbb", "b2");
  add("res\\ui\\c.txt", "cccccccccccc", "c2");
  add("res\\ui\\d.txt", "ddddd", "d2");
  add("res\\ui\\deep\\n.txt", "nn", "n1");  // new, in a new directory of the tree
  add("res\\ui\\e.txt", "not written", "e1");
  add("res\\ui\\f.txt", "ffffffffffffffffffff", "f2");
  add("res\\ui\\h.txt", "hhhhhhhhh", "h1");  // new, into c's old slot
  return update;
}

// Everything below a work directory by relative path: each file with its
// bytes (staged files of an interrupted merge included), each directory as
// "<dir>".
std::map<std::string, std::string> LooseFiles(const fs::path& work) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& item : fs::recursive_directory_iterator(work)) {
    const std::string strRel = fs::relative(item.path(), work).generic_u8string();
    mapFiles[strRel] = item.is_directory() ? std::string("<dir>") : ReadFileBytes(item.path());
  }
  return mapFiles;
}

// The names whose bytes differ between two states, for a failure's message.
std::string Differences(const std::map<std::string, std::string>& mapA,
                        const std::map<std::string, std::string>& mapB) {
  std::string strOut;
  for (const auto& item : mapA) {
    const auto it = mapB.find(item.first);
    if (it == mapB.end() || it->second != item.second) strOut += item.first + " ";
  }
  for (const auto& item : mapB) {
    if (mapA.count(item.first) == 0) strOut += "+" + item.first + " ";
  }
  return strOut;
}

CFaultChildRun RunMergeChild(const fs::path& workDir, const std::string& strMode, uint32_t nPoint,
                             const std::vector<std::string>& vecOpArgs) {
  return RunFaultChild(Utf8Path(MERGE_CHILD_EXE), workDir, strMode, nPoint, vecOpArgs);
}

// The points a run in strMode covers: each of the nPoints, and for a power
// cut also the moment after the call returned.
uint32_t LastPoint(const std::string& strMode, uint32_t nPoints) {
  return strMode.compare(0, 9, "power-cut") == 0 ? nPoints + 1 : nPoints;
}

class MergeCrashTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_pOld = new std::string(ScenarioClient().Bytes());
    s_pOldLoose = new std::map<std::string, std::string>{{"loose", "<dir>"}, {"loose/x.txt", "old loose x"}};
    // The merged state, from a merge that nothing disturbs.
    CTempDir reference;
    Lay(reference.Path());
    EXPECT_EQ(1, MergeInProcess(reference.Path()));
    s_pNew = new std::string(ReadFileBytes(reference.Path() / "client.pak"));
    s_pNewLoose = new std::map<std::string, std::string>(LooseFiles(reference.Path() / "work"));
  }
  static void TearDownTestSuite() {
    delete s_pOld;
    delete s_pNew;
    delete s_pOldLoose;
    delete s_pNewLoose;
  }

  static void Lay(const fs::path& dir) {
    ScenarioClient().WriteTo(dir / "client.pak");
    ScenarioUpdate().WriteTo(dir / "update.pak");
    fs::create_directories(dir / "work/loose");
    WriteFileBytes(dir / "work/loose/x.txt", "old loose x");
  }

  static int MergeInProcess(const fs::path& dir) {
    CCurrentDirGuard cwd;
    fs::current_path(dir / "work");
    CRealizePack realize;
    return realize.MergePack(ToProgramPath(dir / "update.pak").c_str(), ToProgramPath(dir / "client.pak").c_str());
  }

  // Runs the child with MODE and POINT on the pack set in dir.
  static CFaultChildRun RunChild(const fs::path& dir, const std::string& strMode, uint32_t nPoint, bool bOpenOnly) {
    return RunMergeChild(
        dir / "work", strMode, nPoint,
        {bOpenOnly ? std::string("--open") : ToProgramPath(dir / "update.pak"), ToProgramPath(dir / "client.pak")});
  }

  // Opens the client as the next run would and checks that it is the old
  // or the new pack, with every loose file to match and nothing staged
  // left. Returns true for new.
  static bool ExpectOldOrNew(const fs::path& dir) {
    {
      CPackFile pack;
      EXPECT_TRUE(pack.Open(ToProgramPath(dir / "client.pak")));
    }
    EXPECT_FALSE(fs::exists(dir / "client.pak.journal"));
    EXPECT_FALSE(fs::exists(dir / "client.pak.journal.new"));
    const std::string strPack = ReadFileBytes(dir / "client.pak");
    const bool bNew = strPack == *s_pNew;
    EXPECT_TRUE(bNew || strPack == *s_pOld) << "the pack is neither the old one nor the merged one";
    const std::map<std::string, std::string> mapLoose = LooseFiles(dir / "work");
    const std::map<std::string, std::string>& mapWanted = bNew ? *s_pNewLoose : *s_pOldLoose;
    EXPECT_TRUE(mapLoose == mapWanted) << "beside the " << (bNew ? "merged" : "old")
                                       << " pack, the loose files differ: " << Differences(mapWanted, mapLoose);
    return bNew;
  }

  // The run after a failure: the merge again, to its end.
  static void ExpectRerunCompletes(const fs::path& dir) {
    EXPECT_EQ(1, MergeInProcess(dir));
    EXPECT_TRUE(*s_pNew == ReadFileBytes(dir / "client.pak")) << "the merge run again differs";
    EXPECT_EQ(*s_pNewLoose, LooseFiles(dir / "work"));
  }

  static std::string* s_pOld;
  static std::string* s_pNew;
  static std::map<std::string, std::string>* s_pOldLoose;
  static std::map<std::string, std::string>* s_pNewLoose;
};

std::string* MergeCrashTest::s_pOld = nullptr;
std::string* MergeCrashTest::s_pNew = nullptr;
std::map<std::string, std::string>* MergeCrashTest::s_pOldLoose = nullptr;
std::map<std::string, std::string>* MergeCrashTest::s_pNewLoose = nullptr;

TEST_F(MergeCrashTest, EveryPointOfAMergeGivesTheOldOrTheNewPack) {
  ASSERT_NE(*s_pOld, *s_pNew);
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  ASSERT_EQ(1, count.nResult);
  EXPECT_EQ(*s_pNew, ReadFileBytes(counted.Path() / "client.pak")) << "the child's merge differs";
  // Journal (create, write, flush, rename), two loose files (create, write,
  // flush, rename each) and the two new directories of one, seven blobs,
  // the save (index, end of file, header, flush) and the journal's removal.
  ASSERT_EQ(4u + 8u + 2u + 7u + 4u + 1u, count.nPoints);

  unsigned nTested = 0;
  int nOld = 0;
  int nNew = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= count.nPoints; ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      Lay(dir.Path());
      const CFaultChildRun run = RunChild(dir.Path(), pszMode, nPoint, false);
      ExpectFaultExit(run, pszMode);
      if (std::string(pszMode) == "fail" || (IsDiskFullMode(pszMode) && run.nResult == 0)) {
        // Rolled back at once: no open is needed to see the old pack.
        EXPECT_TRUE(*s_pOld == ReadFileBytes(dir.Path() / "client.pak")) << "not rolled back";
        EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.journal"));
      }
      const bool bNew = ExpectOldOrNew(dir.Path());
      if (run.nResult == 1) {
        EXPECT_TRUE(bNew) << "a merge that needed no more space than the disk had is complete";
      } else {
        (bNew ? nNew : nOld)++;
        ExpectRerunCompletes(dir.Path());
      }
      ++nTested;
      if (HasFatalFailure()) return;
    }
  }
  // The journal's removal is the last point, and the merge's commit: until
  // it is done, every interruption gives back the old pack.
  EXPECT_EQ(0, nNew);
  std::cout << "merge: " << count.nPoints << " write points x " << std::size(kFaultModes) << " modes = " << nTested
            << " interrupted merges, " << nOld << " gave the old pack, " << nNew << " the merged one\n";
  RecordProperty("merge_write_points", static_cast<int>(count.nPoints));
}

// A restore is interrupted in its turn: the journal stays, so the next open
// restores again.
TEST_F(MergeCrashTest, EveryPointOfARestoreGivesTheOldPack) {
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  // Stopped just before the journal is removed: the pack and the loose
  // files are the merged ones and the restore has everything to undo. (A
  // copy would not do: a journal is applied only to the file it was made
  // for.)
  auto layStopped = [&count](const fs::path& dir) {
    Lay(dir);
    ASSERT_EQ(kFaultExitCode, RunChild(dir, "stop", count.nPoints, false).nExitCode);
  };
  CTempDir stopped;
  layStopped(stopped.Path());
  ASSERT_EQ(*s_pNew, ReadFileBytes(stopped.Path() / "client.pak"));
  ASSERT_EQ(*s_pNewLoose, LooseFiles(stopped.Path() / "work"));
  ASSERT_TRUE(fs::exists(stopped.Path() / "client.pak.journal"));
  // A check reads only: it reports the journal and leaves both files alone.
  std::vector<std::string> vecProblems;
  EXPECT_TRUE(VerifyPack(ToProgramPath(stopped.Path() / "client.pak").c_str(), vecProblems));
  ASSERT_EQ(1u, vecProblems.size());
  EXPECT_NE(std::string::npos, vecProblems[0].find("interrupted")) << vecProblems[0];
  EXPECT_TRUE(fs::exists(stopped.Path() / "client.pak.journal"));
  // Nor is a half-merged pack read when it cannot be written to restore it.
  const fs::perms permsBefore = fs::status(stopped.Path() / "client.pak").permissions();
  fs::permissions(stopped.Path() / "client.pak", fs::perms::owner_read | fs::perms::group_read);
  CPackFile readOnly;
  EXPECT_FALSE(readOnly.OpenForReading(ToProgramPath(stopped.Path() / "client.pak")));
  fs::permissions(stopped.Path() / "client.pak", permsBefore);
  EXPECT_EQ(*s_pNew, ReadFileBytes(stopped.Path() / "client.pak"));
  EXPECT_TRUE(fs::exists(stopped.Path() / "client.pak.journal"));

  CTempDir restored;
  layStopped(restored.Path());
  const CFaultChildRun restore = RunChild(restored.Path(), "count", 0, true);
  ASSERT_EQ(1, restore.nResult);
  EXPECT_EQ(*s_pOld, ReadFileBytes(restored.Path() / "client.pak"));
  EXPECT_EQ(*s_pOldLoose, LooseFiles(restored.Path() / "work"));
  // The ranges, the end of the file and the flush; the player's file put
  // back (create, write, flush, move), the new loose file deleted, the two
  // new directories removed; the journal's removal.
  ASSERT_GE(restore.nPoints, 4u + 4u + 1u + 2u + 1u);

  unsigned nTested = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= restore.nPoints; ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at restore point " + std::to_string(nPoint));
      CTempDir dir;
      layStopped(dir.Path());
      const CFaultChildRun run = RunChild(dir.Path(), pszMode, nPoint, true);
      ASSERT_TRUE(run.bEnded);
      if (IsDiskFullMode(pszMode)) {
        ExpectDiskFullError(run);
      } else if (IsFailMode(pszMode)) {
        EXPECT_EQ(0, run.nResult) << "an open whose restore failed must fail";
        EXPECT_EQ(static_cast<unsigned long>(ERROR_WRITE_FAULT), run.nError);
      }
      EXPECT_FALSE(ExpectOldOrNew(dir.Path())) << "a journal that was there must win";
      ++nTested;
    }
  }
  std::cout << "restore: " << restore.nPoints << " write points x " << std::size(kFaultModes) << " modes = " << nTested
            << " interrupted restores\n";
  RecordProperty("restore_write_points", static_cast<int>(restore.nPoints));
}

// A merge that returned has committed: a power cut right after it (with the
// last directory operation landed first, or not) leaves exactly the merged
// pack and every loose file. The restore likewise: its journal is gone for
// good once the open returned.
TEST_F(MergeCrashTest, APowerCutAfterTheMergeOrTheRestoreReturnedKeepsItsOutcome) {
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  for (const char* pszMode : kPowerCutModes) {
    SCOPED_TRACE(pszMode);
    CTempDir dir;
    Lay(dir.Path());
    const CFaultChildRun run = RunChild(dir.Path(), pszMode, count.nPoints + 1, false);
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ(kFaultExitCode, run.nExitCode);
    EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.journal")) << "the commit was lost";
    EXPECT_TRUE(ExpectOldOrNew(dir.Path()));
    EXPECT_EQ(*s_pNewLoose, LooseFiles(dir.Path() / "work"));

    // Stopped before the commit, then restored by an open that returned.
    CTempDir counting;
    CTempDir restored;
    for (const CTempDir* pDir : {&counting, &restored}) {
      Lay(pDir->Path());
      ASSERT_EQ(kFaultExitCode, RunChild(pDir->Path(), "stop", count.nPoints, false).nExitCode);
    }
    const CFaultChildRun restore = RunChild(counting.Path(), "count", 0, true);
    const CFaultChildRun cut = RunChild(restored.Path(), pszMode, restore.nPoints + 1, true);
    EXPECT_EQ(1, cut.nResult);
    EXPECT_EQ(kFaultExitCode, cut.nExitCode);
    EXPECT_FALSE(fs::exists(restored.Path() / "client.pak.journal")) << "the restore's end was lost";
    EXPECT_EQ(*s_pOld, ReadFileBytes(restored.Path() / "client.pak"));
    EXPECT_EQ(*s_pOldLoose, LooseFiles(restored.Path() / "work"));
  }
}

// The updater merges, then writes version.ver. Whatever point a power cut
// hits, the pair is never the old pack under the new version. (version.ver lies in a
// directory of its own here, so that its write-through move does not make
// the merge's commit durable in passing.)
TEST_F(MergeCrashTest, TheNewVersionNeverNamesTheOldPack) {
  auto lay = [](const fs::path& dir) {
    Lay(dir);
    fs::create_directory(dir / "game");
    WriteFileBytes(dir / "game/version.ver", "1.01");
  };
  auto run = [](const fs::path& dir, const std::string& strMode, uint32_t nPoint) {
    return RunMergeChild(dir / "work", strMode, nPoint,
                         {"--merge-version", ToProgramPath(dir / "update.pak"), ToProgramPath(dir / "client.pak"),
                          ToProgramPath(dir / "game"), "1.02"});
  };
  CTempDir counted;
  lay(counted.Path());
  const CFaultChildRun count = run(counted.Path(), "count", 0);
  ASSERT_EQ(1, count.nResult);
  ASSERT_EQ("1.02", ReadFileBytes(counted.Path() / "game/version.ver"));

  int nNew = 0;
  for (const char* pszMode : kPowerCutModes) {
    for (uint32_t nPoint = 1; nPoint <= LastPoint(pszMode, count.nPoints); ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      lay(dir.Path());
      ExpectFaultExit(run(dir.Path(), pszMode, nPoint), pszMode);
      const bool bNew = ExpectOldOrNew(dir.Path());
      const std::string strVersion = ReadFileBytes(dir.Path() / "game/version.ver");
      EXPECT_TRUE(strVersion == "1.01" || strVersion == "1.02") << strVersion;
      EXPECT_FALSE(!bNew && strVersion == "1.02") << "the new version names the old pack";
      if (bNew) {
        EXPECT_EQ(*s_pNewLoose, LooseFiles(dir.Path() / "work"));
        ++nNew;
      }
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(nNew, 0);
}

// Two updaters merging into one client at once. The first runs in a child
// process that holds still at a point: before it wrote anything, and once
// everything but the commit is written. Meanwhile a second merge, in a
// process of its own, fails with ERROR_SHARING_VIOLATION and changes
// nothing, and so do the readers of the client (an open, a check): they
// neither roll the first merge back under it nor read a pack half merged.
// The first then ends as if alone.
TEST_F(MergeCrashTest, ASecondMergeOfTheSamePackFailsCleanly) {
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  ASSERT_EQ(1, count.nResult);
  for (const uint32_t nPause : {1u, count.nPoints}) {
    SCOPED_TRACE("the first merge holds at point " + std::to_string(nPause));
    CTempDir dir;
    Lay(dir.Path());
    const std::vector<std::string> vecMerge = {ToProgramPath(dir.Path() / "update.pak"),
                                               ToProgramPath(dir.Path() / "client.pak")};
    CChildProcess first(Utf8Path(MERGE_CHILD_EXE),
                        {"merge_fault_child", "pause", std::to_string(nPause), vecMerge[0], vecMerge[1]},
                        dir.Path() / "work");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(dir.Path() / "work/paused") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(dir.Path() / "work/paused"));
    const std::string strPack = ReadFileBytes(dir.Path() / "client.pak");
    const bool bJournal = fs::exists(dir.Path() / "client.pak.journal");
    EXPECT_EQ(nPause > 1, bJournal);
    const std::string strJournal = bJournal ? ReadFileBytes(dir.Path() / "client.pak.journal") : std::string();

    const CFaultChildRun second = RunMergeChild(dir.Path() / "work", "count", 0, vecMerge);
    EXPECT_EQ(0, second.nResult);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_SHARING_VIOLATION), second.nError);
    CPackFile reader;
    EXPECT_FALSE(reader.Open(ToProgramPath(dir.Path() / "client.pak")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(reader.OpenForReading(ToProgramPath(dir.Path() / "client.pak")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    std::vector<std::string> vecProblems;
    EXPECT_FALSE(VerifyPack(ToProgramPath(dir.Path() / "client.pak").c_str(), vecProblems));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    const CFaultChildRun extract =
        RunMergeChild(dir.Path() / "work", "count", 0, {"--extract", ToProgramPath(dir.Path() / "client.pak")});
    EXPECT_EQ(0, extract.nResult);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_SHARING_VIOLATION), extract.nError);
    EXPECT_FALSE(fs::exists(dir.Path() / "work/res")) << "a reader wrote what it could not read";
    EXPECT_TRUE(strPack == ReadFileBytes(dir.Path() / "client.pak")) << "the pack changed under the first merge";
    EXPECT_EQ(bJournal, fs::exists(dir.Path() / "client.pak.journal"));
    if (bJournal) {
      EXPECT_TRUE(strJournal == ReadFileBytes(dir.Path() / "client.pak.journal")) << "the journal changed";
    }

    WriteFileBytes(dir.Path() / "work/resume", "");
    ASSERT_TRUE(first.Wait(60000));
    int nResult = -1;
    std::sscanf(first.Output().c_str(), "result %d", &nResult);
    EXPECT_EQ(1, nResult);
    EXPECT_TRUE(*s_pNew == ReadFileBytes(dir.Path() / "client.pak"));
    EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.journal"));
  }
}

// A merge's commit is the journal's removal. A directory sync that fails
// before it (the journal's move, a new directory, a loose file's move)
// fails the merge, which gives back the old client; one that fails after
// it (the removal's own) leaves the merge done, and it says so: it
// returns 1, with the sync's error as the last error, and the updater goes
// on to write version.ver.
TEST_F(MergeCrashTest, AFailedSyncFailsTheMergeBeforeItsCommitAndNotAfter) {
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  ASSERT_EQ(1, count.nResult);
  ASSERT_EQ(6u, count.nSyncs);
  for (uint32_t nSync = 1; nSync <= count.nSyncs; ++nSync) {
    SCOPED_TRACE("sync " + std::to_string(nSync) + " fails");
    CTempDir dir;
    Lay(dir.Path());
    fs::create_directory(dir.Path() / "game");
    WriteFileBytes(dir.Path() / "game/version.ver", "1.01");
    const CFaultChildRun run =
        RunMergeChild(dir.Path() / "work", "fail-sync", nSync,
                      {"--merge-version", ToProgramPath(dir.Path() / "update.pak"),
                       ToProgramPath(dir.Path() / "client.pak"), ToProgramPath(dir.Path() / "game"), "1.02"});
    ASSERT_TRUE(run.bEnded);
    const bool bCommitted = nSync == count.nSyncs;
    EXPECT_EQ(bCommitted ? 1 : 0, run.nResult);
    if (!bCommitted) {
      EXPECT_NE(0u, run.nError);
    }
    EXPECT_EQ(bCommitted, ExpectOldOrNew(dir.Path()));
    EXPECT_EQ(bCommitted ? "1.02" : "1.01", ReadFileBytes(dir.Path() / "game/version.ver"));
  }
  CTempDir dir;
  Lay(dir.Path());
  const CFaultChildRun run = RunChild(dir.Path(), "fail-sync", count.nSyncs, false);
  EXPECT_EQ(1, run.nResult);
  EXPECT_NE(0u, run.nError) << "the commit's failed sync is not told";
}

// A journal is applied only to the file it was made for. A build over the
// pack restores it first (into the pack it belongs to, loose files too),
// then replaces the pack; a pack moved over the name by another program,
// even one with the very header the journal expects, does not get it: the
// next open drops it and leaves that pack as it is.
TEST_F(MergeCrashTest, AJournalBelongsToTheFileItWasMadeFor) {
  CTempDir counted;
  Lay(counted.Path());
  const CFaultChildRun count = RunChild(counted.Path(), "count", 0, false);
  // The merged pack with other bytes in one slot: the same header.
  std::string strOther = *s_pNew;
  const size_t nSlot = strOther.find("cccccccccccc");
  ASSERT_NE(std::string::npos, nSlot);
  strOther.replace(nSlot, 12, "CCCCCCCCCCCC");

  CTempDir moved;
  Lay(moved.Path());
  ASSERT_EQ(kFaultExitCode, RunChild(moved.Path(), "stop", count.nPoints, false).nExitCode);
  ASSERT_TRUE(fs::exists(moved.Path() / "client.pak.journal"));
  WriteFileBytes(moved.Path() / "other.pak", strOther);
  fs::rename(moved.Path() / "other.pak", moved.Path() / "client.pak");
  {
    CPackFile pack;
    EXPECT_TRUE(pack.Open(ToProgramPath(moved.Path() / "client.pak")));
  }
  EXPECT_TRUE(strOther == ReadFileBytes(moved.Path() / "client.pak")) << "a journal was applied to another file";
  EXPECT_FALSE(fs::exists(moved.Path() / "client.pak.journal"));

  CTempDir built;
  Lay(built.Path());
  ASSERT_EQ(kFaultExitCode, RunChild(built.Path(), "stop", count.nPoints, false).nExitCode);
  fs::create_directories(built.Path() / "client/ui");
  WriteFileBytes(built.Path() / "client/ui/z.txt", "a release built over the pack");
  {
    CCurrentDirGuard cwd;
    CPackFile builder;
    builder.SetRootPath(ToProgramPath(built.Path() / "client").c_str());
    builder.CollectFiles(ToProgramPath(built.Path() / "client").c_str());
    ASSERT_TRUE(builder.CreatePack(ToProgramPath(built.Path() / "client").c_str(), ToProgramPath(built.Path()).c_str(),
                                   false, nullptr, nullptr, false));
  }
  EXPECT_FALSE(fs::exists(built.Path() / "client.pak.journal"));
  EXPECT_EQ(*s_pOldLoose, LooseFiles(built.Path() / "work")) << "the interrupted merge's loose files stayed";
  const std::string strBuilt = ReadFileBytes(built.Path() / "client.pak");
  CPackFile pack;
  ASSERT_TRUE(pack.Open(ToProgramPath(built.Path() / "client.pak")));
  EXPECT_TRUE(strBuilt == ReadFileBytes(built.Path() / "client.pak"));
  EXPECT_EQ(1u, pack.GetEntryMap()->count("client\\ui\\z.txt"));
}

// What durability costs a merge: the flushes of the journal, of each loose
// file and of the pack, and the directory syncs of the journal's and each
// loose file's move, of each new directory and of the journal's removal.
TEST_F(MergeCrashTest, DurabilityCost) {
  CTempDir dir;
  Lay(dir.Path());
  const CFaultChildRun count = RunChild(dir.Path(), "count", 0, false);
  ASSERT_EQ(1, count.nResult);
  std::cout << "merge: " << count.nFlushes << " flushes, " << count.nSyncs << " directory syncs\n";
  EXPECT_EQ(1u + 2u + 1u, count.nFlushes);
  EXPECT_EQ(1u + 2u + 2u + 1u, count.nSyncs);
}

// Leftovers of a journal that never became complete do not count.
TEST_F(MergeCrashTest, IncompleteOrForeignJournalIsIgnored) {
  CTempDir dir;
  Lay(dir.Path());
  WriteFileBytes(dir.Path() / "client.pak.journal.new", "torn");
  WriteFileBytes(dir.Path() / "client.pak.journal", std::string(200, '\x55'));  // no valid journal
  ExpectOldOrNew(dir.Path());
  EXPECT_EQ(*s_pOld, ReadFileBytes(dir.Path() / "client.pak"));

  // A complete journal of this pack, laid beside a pack replaced since.
  CTempDir stopped;
  Lay(stopped.Path());
  const CFaultChildRun count = RunChild(stopped.Path(), "count", 0, false);
  CTempDir other;
  Lay(other.Path());
  ASSERT_EQ(kFaultExitCode, RunChild(other.Path(), "stop", count.nPoints, false).nExitCode);
  CTestPack replacement("other");
  replacement.AddEntry("other\\z.txt", "zzz", "z");
  replacement.AddTreeForEntries();
  replacement.WriteTo(other.Path() / "client.pak");
  CPackFile pack;
  EXPECT_TRUE(pack.Open(ToProgramPath(other.Path() / "client.pak")));
  pack.Close();
  EXPECT_EQ(replacement.Bytes(), ReadFileBytes(other.Path() / "client.pak"));
  EXPECT_FALSE(fs::exists(other.Path() / "client.pak.journal"));
}

// A release update that removes entries, from the pack and among the
// client's recorded loose files, interrupted at every point: after the next
// open everything is old (pack, loose files, record) or everything is new,
// and the update run again ends exactly as one that nothing disturbed.
TEST_F(MergeCrashTest, RemovalsAtEveryPointGiveTheOldOrTheNewPack) {
  const std::string strRemovals = "res\\ui\\g.txt;res\\loose\\old.txt";
  auto lay = [](const fs::path& dir) {
    CTestPack client = ScenarioClient();
    client.vecDirs.clear();
    client.AddEntry("res\\ui\\g.txt", "GGGGGGGGGGGG", "g1");  // removed: its slot takes an entry
    client.AddTreeForEntries();
    client.WriteTo(dir / "client.pak");
    ScenarioUpdate().WriteTo(dir / "update.pak");
    fs::create_directories(dir / "work/loose");
    WriteFileBytes(dir / "work/loose/x.txt", "old loose x");
    WriteFileBytes(dir / "work/loose/old.txt", "a loose file the update removes");
    WriteFileBytes(dir / "client.pak.loose", "patchloom-loose-files 1\nres\\loose\\old.txt\nres\\loose\\x.txt\n");
  };
  auto run = [&strRemovals](const fs::path& dir, const std::string& strMode, uint32_t nPoint) {
    return RunMergeChild(
        dir / "work", strMode, nPoint,
        {"--merge-update", ToProgramPath(dir / "update.pak"), ToProgramPath(dir / "client.pak"), strRemovals});
  };
  // What the update leaves: the pack's entries (a merge run again over a
  // committed one writes the same entries, its index in another order),
  // loose files and record.
  auto state = [](const fs::path& dir) {
    std::map<std::string, std::string> mapState = LooseFiles(dir / "work");
    for (const auto& item : PackContent(dir / "client.pak")) mapState["pack: " + item.first] = item.second;
    mapState["client.pak.loose"] = ReadFileBytes(dir / "client.pak.loose");
    return mapState;
  };
  // The client byte for byte: the pack, the loose files, the record.
  auto exact = [](const fs::path& dir) {
    std::map<std::string, std::string> mapState = LooseFiles(dir / "work");
    mapState["client.pak"] = ReadFileBytes(dir / "client.pak");
    mapState["client.pak.loose"] = ReadFileBytes(dir / "client.pak.loose");
    return mapState;
  };
  CTempDir counted;
  lay(counted.Path());
  const std::map<std::string, std::string> mapOldExact = exact(counted.Path());
  const CFaultChildRun count = run(counted.Path(), "count", 0);
  ASSERT_EQ(1, count.nResult);
  const std::map<std::string, std::string> mapNew = state(counted.Path());
  const std::map<std::string, std::string> mapNewExact = exact(counted.Path());
  EXPECT_EQ(0u, mapNew.count("loose/old.txt"));
  EXPECT_EQ(0u, mapNew.count("pack: ui/g.txt"));

  unsigned nTested = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= count.nPoints; ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      lay(dir.Path());
      ASSERT_TRUE(run(dir.Path(), pszMode, nPoint).bEnded);
      {
        CPackFile pack;
        EXPECT_TRUE(pack.Open(ToProgramPath(dir.Path() / "client.pak")));
      }
      const std::map<std::string, std::string> mapAfter = exact(dir.Path());
      const bool bNew = mapAfter.at("client.pak") == mapNewExact.at("client.pak");
      const std::map<std::string, std::string>& mapWanted = bNew ? mapNewExact : mapOldExact;
      EXPECT_TRUE(mapAfter == mapWanted) << "not all " << (bNew ? "new" : "old") << ": "
                                         << Differences(mapWanted, mapAfter);
      {
        CCurrentDirGuard cwd;
        fs::current_path(dir.Path() / "work");
        CRealizePack realize;
        CUpdateRemovals removals;
        removals.vecNames = {"res\\ui\\g.txt", "res\\loose\\old.txt"};
        EXPECT_EQ(1, realize.MergeUpdate(ToProgramPath(dir.Path() / "update.pak").c_str(),
                                         ToProgramPath(dir.Path() / "client.pak").c_str(), removals));
      }
      const std::map<std::string, std::string> mapAgain = state(dir.Path());
      EXPECT_TRUE(mapNew == mapAgain) << "run again, the update does not end as undisturbed: "
                                      << Differences(mapNew, mapAgain);
      ++nTested;
      if (HasFatalFailure()) return;
    }
  }
  std::cout << "merge with removals: " << count.nPoints << " points, " << nTested << " interrupted merges\n";
}

// A delta update, rebuilt against the client into a file beside it and
// merged, interrupted at every point of the rebuild and the merge: the
// client is the old or the merged one after the next open, and the delta
// merged again ends as one that nothing disturbed, with no rebuilt file
// left.
TEST_F(MergeCrashTest, DeltasAtEveryPointGiveTheOldOrTheNewPack) {
  CTempDir releases;
  fs::create_directories(releases.Path() / "old/res/ui");
  fs::create_directories(releases.Path() / "new/res/ui");
  const std::string strBig = RandomBytes(20000, 5);
  WriteFileBytes(releases.Path() / "old/res/ui/a.txt", strBig);
  WriteFileBytes(releases.Path() / "old/res/ui/b.txt", "bravo");
  WriteFileBytes(releases.Path() / "new/res/ui/a.txt", strBig.substr(0, 9000) + "an edit" + strBig.substr(9000));
  WriteFileBytes(releases.Path() / "new/res/ui/b.txt", "bravo, longer now");
  WriteFileBytes(releases.Path() / "new/res/ui/c.txt", "charlie");
  {
    CCurrentDirGuard cwd;
    CPackFile old;
    CPackFile newer;
    for (CPackFile* pRelease : {&old, &newer}) {
      const std::string strRoot = ToProgramPath(releases.Path() / (pRelease == &old ? "old/res" : "new/res"));
      pRelease->SetRootPath(strRoot.c_str());
      pRelease->CollectFiles(strRoot.c_str());
    }
    CReleaseDiff diff;
    std::string strFailed;
    ASSERT_TRUE(old.DiffRelease(newer, false, diff, strFailed));
    CDeltaReport report;
    ASSERT_TRUE(old.CreateDeltaUpdate(newer, diff, ToProgramPath(releases.Path() / "delta.pak"), true, report));
    ASSERT_EQ(1u, report.nPatches);
    old.SetContentTags(true);
    const std::string strRoot = ToProgramPath(releases.Path() / "old/res");
    ASSERT_TRUE(
        old.CreatePack(strRoot.c_str(), ToProgramPath(releases.Path()).c_str(), false, nullptr, "client", false));
  }
  auto lay = [&](const fs::path& dir) {
    fs::create_directories(dir / "work");
    fs::copy_file(releases.Path() / "client.pak", dir / "client.pak");
    fs::copy_file(releases.Path() / "delta.pak", dir / "delta.pak");
  };
  auto run = [](const fs::path& dir, const std::string& strMode, uint32_t nPoint) {
    return RunMergeChild(dir / "work", strMode, nPoint,
                         {"--merge-delta", ToProgramPath(dir / "delta.pak"), ToProgramPath(dir / "client.pak")});
  };
  CTempDir counted;
  lay(counted.Path());
  const std::string strOld = ReadFileBytes(counted.Path() / "client.pak");
  const CFaultChildRun count = run(counted.Path(), "count", 0);
  ASSERT_EQ(1, count.nResult);
  const std::string strNew = ReadFileBytes(counted.Path() / "client.pak");
  ASSERT_NE(strOld, strNew);
  EXPECT_FALSE(fs::exists(counted.Path() / "client.pak.rebuilt.pak"));

  unsigned nTested = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= count.nPoints; ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      lay(dir.Path());
      const CFaultChildRun result = run(dir.Path(), pszMode, nPoint);
      ASSERT_TRUE(result.bEnded);
      {
        CPackFile pack;
        EXPECT_TRUE(pack.Open(ToProgramPath(dir.Path() / "client.pak")));
      }
      const std::string strPack = ReadFileBytes(dir.Path() / "client.pak");
      const bool bNew = strPack == strNew;
      EXPECT_TRUE(bNew || strPack == strOld) << "neither the old nor the merged pack";
      // Run again: a merged client no longer holds the patches' bases, an
      // old one takes the delta as if nothing had happened; either way the
      // run removes what an interrupted one left.
      EXPECT_EQ(bNew ? 0 : 1, run(dir.Path(), "count", 0).nResult);
      EXPECT_TRUE(strNew == ReadFileBytes(dir.Path() / "client.pak")) << "merged again, the client differs";
      EXPECT_FALSE(fs::exists(dir.Path() / "client.pak.rebuilt.pak"));
      ++nTested;
      if (HasFatalFailure()) return;
    }
  }
  std::cout << "delta: " << count.nPoints << " points, " << nTested << " interrupted rebuilds and merges\n";
}

// A build that deletes its sources, interrupted at every point and after
// it returned: the pack is the old one or the complete new one, and no
// source is gone unless the new pack is complete.
TEST(BuildCrashTest, NoSourceIsGoneWithoutTheCompletePack) {
  const std::map<std::string, std::string> mapSources = {
      {"a.txt", "alpha"}, {"b.txt", "bravo"}, {"sub/c.txt", "charlie"}};
  CTestPack old("client");
  old.AddEntry("client\\old.txt", "old", "o1");
  old.AddTreeForEntries();
  auto lay = [&](const fs::path& dir) {
    for (const auto& item : mapSources) {
      fs::create_directories((dir / "client" / item.first).parent_path());
      WriteFileBytes(dir / "client" / item.first, item.second);
    }
    fs::create_directories(dir / "out");
    old.WriteTo(dir / "out/client.pak");
  };
  auto run = [](const fs::path& dir, const std::string& strMode, uint32_t nPoint) {
    return RunMergeChild(dir, strMode, nPoint, {"--build", ToProgramPath(dir / "client"), ToProgramPath(dir / "out")});
  };
  CTempDir counted;
  lay(counted.Path());
  const CFaultChildRun count = run(counted.Path(), "count", 0);
  ASSERT_EQ(1, count.nResult);
  const std::string strNew = ReadFileBytes(counted.Path() / "out/client.pak");
  ASSERT_NE(old.Bytes(), strNew);

  unsigned nTested = 0;
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= LastPoint(pszMode, count.nPoints); ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      lay(dir.Path());
      const CFaultChildRun result = run(dir.Path(), pszMode, nPoint);
      ASSERT_TRUE(result.bEnded);
      // A source that cannot be deleted stays; the build has succeeded.
      EXPECT_EQ(IsFailMode(pszMode) ? 0 : kFaultExitCode, result.nExitCode);
      if (IsDiskFullMode(pszMode)) ExpectDiskFullError(result);
      const std::string strPack = ReadFileBytes(dir.Path() / "out/client.pak");
      const bool bNew = strPack == strNew;
      EXPECT_TRUE(bNew || strPack == old.Bytes()) << "the pack is neither the old one nor the new one";
      for (const auto& item : mapSources) {
        const fs::path source = dir.Path() / "client" / item.first;
        if (fs::exists(source)) {
          EXPECT_EQ(item.second, ReadFileBytes(source));
        } else {
          EXPECT_TRUE(bNew) << item.first << " is gone beside the old pack";
        }
      }
      ++nTested;
      if (HasFatalFailure()) return;
    }
  }
  std::cout << "build: " << count.nPoints << " points, " << nTested << " interrupted builds\n";
}

// version.ver is written under a temporary name and moved over the old one:
// at every point it holds the old version or the new one, and the new one
// once the call returned.
TEST(VersionCrashTest, VersionFileIsOldOrNew) {
  auto lay = [](const fs::path& dir) { WriteFileBytes(dir / "version.ver", "1.01"); };
  auto run = [](const fs::path& dir, const std::string& strMode, uint32_t nPoint) {
    return RunMergeChild(dir, strMode, nPoint, {"--version", ToProgramPath(dir), "1.02"});
  };
  CTempDir counted;
  lay(counted.Path());
  const CFaultChildRun count = run(counted.Path(), "count", 0);
  ASSERT_EQ(1, count.nResult);
  EXPECT_EQ("1.02", ReadFileBytes(counted.Path() / "version.ver"));
  for (const char* pszMode : kFaultModes) {
    for (uint32_t nPoint = 1; nPoint <= LastPoint(pszMode, count.nPoints); ++nPoint) {
      SCOPED_TRACE(std::string(pszMode) + " at point " + std::to_string(nPoint));
      CTempDir dir;
      lay(dir.Path());
      const CFaultChildRun result = run(dir.Path(), pszMode, nPoint);
      ExpectFaultExit(result, pszMode);
      const std::string strVersion = ReadFileBytes(dir.Path() / "version.ver");
      EXPECT_TRUE(strVersion == "1.01" || strVersion == "1.02") << strVersion;
      if (nPoint > count.nPoints) {
        EXPECT_EQ("1.02", strVersion) << "the write returned";
      }
    }
  }
}

}  // namespace
