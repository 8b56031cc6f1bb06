// The fault injector's power cut loses directory operations that were not
// made durable, as a file system may: creations, moves and deletions are
// undone unless a directory sync or a write-through move came after them.
// Each case runs its steps in a child process (tests/support/
// fault_steps_child.cpp), which a power cut ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/fault_inject.h"
#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct CStepsRun {
  int nExitCode = -1;
  int nResult = -1;
  unsigned long nError = 0;
  unsigned nPoints = 0;
  unsigned nFlushes = 0;
  unsigned nSyncs = 0;
};

// After each step, any point: past the last one.
constexpr const char* kAfterAll = "1000";

CStepsRun RunSteps(const fs::path& dir, const std::string& strMode, const std::string& strPoint,
                   const std::vector<std::string>& vecSteps) {
  std::vector<std::string> vecArgs = {"fault_steps_child", strMode, strPoint};
  vecArgs.insert(vecArgs.end(), vecSteps.begin(), vecSteps.end());
  const CChildResult result = RunChild(Utf8Path(FAULT_CHILD_EXE), vecArgs, dir, 60000);
  CStepsRun run;
  EXPECT_TRUE(result.bEnded);
  run.nExitCode = result.nExitCode;
  std::sscanf(result.strOutput.c_str(), "result %d error %lu points %u flushes %u syncs %u", &run.nResult, &run.nError,
              &run.nPoints, &run.nFlushes, &run.nSyncs);
  return run;
}

// Every file below dir by relative path, with its bytes; directories map to
// "/". Whatever the fault layer kept under hidden names would show here.
std::map<std::string, std::string> Listing(const fs::path& dir) {
  std::map<std::string, std::string> mapItems;
  for (const auto& item : fs::recursive_directory_iterator(dir)) {
    const std::string strName = fs::relative(item.path(), dir).generic_u8string();
    mapItems[strName] = item.is_directory() ? "/" : ReadFileBytes(item.path());
  }
  return mapItems;
}

using Listed = std::map<std::string, std::string>;

// A power cut after the steps: the listing that survives.
Listed CutAfter(const fs::path& dir, const std::vector<std::string>& vecSteps, const char* pszMode = "power-cut") {
  const CStepsRun run = RunSteps(dir, pszMode, kAfterAll, vecSteps);
  EXPECT_EQ(1, run.nResult) << "a step failed with error " << run.nError;
  EXPECT_EQ(kFaultExitCode, run.nExitCode);
  return Listing(dir);
}

TEST(FaultInjectorTest, CreationsAndMovesWithoutASyncAreLost) {
  CTempDir dir;
  EXPECT_EQ(Listed(), CutAfter(dir.Path(), {"file:a.tmp:new", "move:a.tmp:a.txt"}));

  CTempDir dirs;
  EXPECT_EQ(Listed(), CutAfter(dirs.Path(), {"mkdir:d", "mkdir:d\\e"}));
}

TEST(FaultInjectorTest, AWriteThroughMoveOrADirectorySyncMakesThemDurable) {
  CTempDir moved;
  EXPECT_EQ(Listed({{"a.txt", "new"}}), CutAfter(moved.Path(), {"file:a.tmp:new", "movewt:a.tmp:a.txt"}));

  CTempDir synced;
  EXPECT_EQ(Listed({{"a.txt", "new"}}), CutAfter(synced.Path(), {"file:a.tmp:new", "move:a.tmp:a.txt", "sync:a.txt"}));

  // Only what came before the sync.
  CTempDir later;
  EXPECT_EQ(Listed({{"a.txt", "new"}}), CutAfter(later.Path(), {"file:a.txt:new", "sync:a.txt", "file:b.txt:b"}));

  // A sync of the directory holding d makes d durable; a file in d needs
  // d itself synced.
  CTempDir dirs;
  EXPECT_EQ(Listed({{"d", "/"}, {"d/x", "x"}}),
            CutAfter(dirs.Path(), {"mkdir:d", "sync:d", "file:d\\x.tmp:x", "movewt:d\\x.tmp:d\\x"}));
}

// On POSIX a sync covers its directory only; on Windows (NTFS's one log)
// every earlier change on the volume.
TEST(FaultInjectorTest, ASyncCoversItsDirectoryOnPosixAndTheVolumeOnWindows) {
  CTempDir dir;
  const Listed listed = CutAfter(dir.Path(), {"mkdir:d", "file:d\\x.tmp:x", "movewt:d\\x.tmp:d\\x"});
  if (kFaultSyncCoversVolume) {
    EXPECT_EQ(Listed({{"d", "/"}, {"d/x", "x"}}), listed);
  } else {
    EXPECT_EQ(Listed(), listed) << "d was never made durable in its parent";
  }
}

TEST(FaultInjectorTest, DeletionsWithoutASyncComeBack) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "old.txt", "old");
  fs::create_directory(dir.Path() / "e");
  EXPECT_EQ(Listed({{"e", "/"}, {"old.txt", "old"}}), CutAfter(dir.Path(), {"delete:old.txt", "rmdir:e"}));

  CTempDir synced;
  WriteFileBytes(synced.Path() / "old.txt", "old");
  EXPECT_EQ(Listed(), CutAfter(synced.Path(), {"delete:old.txt", "sync:old.txt"}));
}

TEST(FaultInjectorTest, AReplacedTargetComesBack) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "a.tmp", "new");
  WriteFileBytes(dir.Path() / "a.txt", "old");
  EXPECT_EQ(Listed({{"a.tmp", "new"}, {"a.txt", "old"}}), CutAfter(dir.Path(), {"move:a.tmp:a.txt"}));

  // Moved back and forth: each move undone in turn.
  CTempDir twice;
  WriteFileBytes(twice.Path() / "a.txt", "old");
  EXPECT_EQ(Listed({{"a.txt", "old"}}),
            CutAfter(twice.Path(), {"file:b.txt:new", "move:a.txt:c.txt", "move:b.txt:c.txt", "move:c.txt:a.txt"}));
}

// Written through, data survives without a flush; written plainly it does
// not, while the name a sync made durable stays.
TEST(FaultInjectorTest, WritesThroughAWriteThroughHandleSurvive) {
  CTempDir dir;
  EXPECT_EQ(
      Listed({{"a.txt", "through"}, {"b.txt", ""}}),
      CutAfter(dir.Path(), {"wtfile:a.tmp:through", "movewt:a.tmp:a.txt", "plainfile:b.txt:plain", "sync:b.txt"}));
}

// The torn power cut lets the last operation not yet durable land with its
// directory, before the others are lost.
TEST(FaultInjectorTest, TheTornPowerCutLandsTheLastOperation) {
  CTempDir dir;
  fs::create_directory(dir.Path() / "a");
  fs::create_directory(dir.Path() / "b");
  WriteFileBytes(dir.Path() / "a/x", "x");
  WriteFileBytes(dir.Path() / "b/y", "y");
  const Listed listed = CutAfter(dir.Path(), {"delete:a\\x", "delete:b\\y"}, "power-cut-torn");
  if (kFaultSyncCoversVolume) {
    EXPECT_EQ(Listed({{"a", "/"}, {"b", "/"}}), listed) << "the log holds the first deletion before the second";
  } else {
    EXPECT_EQ(Listed({{"a", "/"}, {"a/x", "x"}, {"b", "/"}}), listed);
  }
}

// Creations are points of their own; opening an existing file is none.
TEST(FaultInjectorTest, CreationsArePoints) {
  CTempDir dir;
  const std::vector<std::string> vecSteps = {"file:a.txt:1", "file:a.txt:2", "mkdir:d", "sync:d"};
  const CStepsRun count = RunSteps(dir.Path(), "count", "0", vecSteps);
  EXPECT_EQ(1, count.nResult);
  // Create, write, flush; write, flush; create the directory. The sync is
  // no point.
  EXPECT_EQ(6u, count.nPoints);
  EXPECT_EQ(2u, count.nFlushes);
  EXPECT_EQ(1u, count.nSyncs);

  CTempDir failed;
  const CStepsRun fail = RunSteps(failed.Path(), "fail", "1", {"file:a.txt:1"});
  EXPECT_EQ(0, fail.nResult);
  EXPECT_EQ(static_cast<unsigned long>(ERROR_WRITE_FAULT), fail.nError);
  EXPECT_EQ(Listed(), Listing(failed.Path()));

  CTempDir stopped;
  EXPECT_EQ(kFaultExitCode, RunSteps(stopped.Path(), "stop", "6", vecSteps).nExitCode);
  EXPECT_EQ(Listed({{"a.txt", "2"}}), Listing(stopped.Path()));
}

// A full disk refuses only what needs space: from its point on, a write
// past the end of a file fails with ERROR_DISK_FULL, while writes inside a
// file, creations, moves and deletions go ahead; before it, files grow.
TEST(FaultInjectorTest, AFullDiskRefusesOnlyWhatNeedsSpace) {
  CTempDir dir;
  WriteFileBytes(dir.Path() / "old.txt", "0123456789");
  const CStepsRun full =
      RunSteps(dir.Path(), "disk-full", "1",
               {"overwrite:old.txt:abc", "file:new.txt:grows", "move:old.txt:moved.txt", "delete:new.txt"});
  EXPECT_EQ(0, full.nResult);
  EXPECT_EQ(static_cast<unsigned long>(ERROR_DISK_FULL), full.nError);
  EXPECT_EQ(Listed({{"moved.txt", "abc3456789"}}), Listing(dir.Path()));

  // Create, write, flush of a.txt before the disk fills at point 4.
  CTempDir later;
  const CStepsRun filled = RunSteps(later.Path(), "disk-full", "4", {"file:a.txt:1", "file:b.txt:22"});
  EXPECT_EQ(0, filled.nResult);
  EXPECT_EQ(static_cast<unsigned long>(ERROR_DISK_FULL), filled.nError);
  EXPECT_EQ(Listed({{"a.txt", "1"}, {"b.txt", ""}}), Listing(later.Path()));
}

}  // namespace
