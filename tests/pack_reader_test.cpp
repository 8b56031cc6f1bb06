// Readers of a pack and merges into it: a reader reads the pack as it was
// before a merge or as it is after it, never half merged. A reader holds
// the pack from its open to its close, so a merge that comes meanwhile
// waits for it (a bounded time) and only then writes; a reader that comes
// while a merge runs fails at once with a sharing violation, writing
// nothing. The readers run in child processes of their own, held still
// half way through an extraction.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fault_child_run.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

// Six entries that the update all changes, some in place, some moved.
CTestPack Client() {
  CTestPack pack("res");
  for (const char* pszName : {"a", "b", "c", "d", "e", "f"}) {
    pack.AddEntry(std::string("res\\ui\\") + pszName + ".txt", std::string(40, *pszName), pszName);
  }
  pack.AddTreeForEntries();
  return pack;
}

CTestPack Update() {
  CTestPack pack("res");
  size_t nSize = 20;
  for (const char* pszName : {"a", "b", "c", "d", "e", "f"}) {
    pack.AddEntry(std::string("res\\ui\\") + pszName + ".txt", std::string(nSize, 'n'), std::string("n") + pszName);
    nSize += 10;
  }
  return pack;
}

// Every file (with its bytes) and directory ("<dir>") below root, but the
// child's markers.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> mapTree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string strRel = fs::relative(item.path(), root).generic_u8string();
    if (strRel == "paused" || strRel == "resume") continue;
    mapTree[strRel] = item.is_directory() ? std::string("<dir>") : ReadFileBytes(item.path());
  }
  return mapTree;
}

bool WaitFor(const fs::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fs::exists(path);
}

class ReaderTest : public ::testing::Test {
 protected:
  ReaderTest() {
    Client().WriteTo(m_dir.Path() / "client.pak");
    Update().WriteTo(m_dir.Path() / "update.pak");
    fs::create_directory(m_dir.Path() / "out");
    fs::create_directory(m_dir.Path() / "work");
  }
  std::vector<std::string> ExtractArgs() const { return {"--extract", m_dir.ProgramPath("client.pak")}; }
  int Merge(DWORD dwWait) {
    CRealizePack realize;
    realize.SetLockWait(dwWait);
    return realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str());
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

// A merge that comes while a reader extracts, held still half way: one
// that waits long enough writes only once the reader is done, so the
// reader's files are the old pack's; one that cannot wait fails, having
// written nothing. Either way the reader ends as if alone.
TEST_F(ReaderTest, AReaderPausedMidExtractionReadsTheOldPackWhileAMergeWaits) {
  const std::string strOld = ReadFileBytes(m_dir.Path() / "client.pak");
  const CFaultChildRun count =
      RunFaultChild(Utf8Path(MERGE_CHILD_EXE), m_dir.Path() / "out", "count", 0, ExtractArgs());
  ASSERT_EQ(1, count.nResult);
  const std::map<std::string, std::string> mapOld = Tree(m_dir.Path() / "out");
  ASSERT_EQ(8u, mapOld.size());  // res, res/ui and its six files
  ASSERT_GT(count.nPoints, 4u);

  for (const DWORD dwWait : {DWORD{0}, DWORD{60000}}) {
    SCOPED_TRACE("the merge waits " + std::to_string(dwWait) + " ms");
    fs::remove_all(m_dir.Path() / "out");
    fs::create_directory(m_dir.Path() / "out");
    std::vector<std::string> vecArgs = {"merge_fault_child", "pause", std::to_string(count.nPoints / 2)};
    for (const std::string& strArg : ExtractArgs()) vecArgs.push_back(strArg);
    CChildProcess reader(Utf8Path(MERGE_CHILD_EXE), vecArgs, m_dir.Path() / "out");
    ASSERT_TRUE(WaitFor(m_dir.Path() / "out/paused"));
    int nMerged = -1;
    DWORD dwError = ERROR_SUCCESS;
    std::thread merge([&] {
      nMerged = Merge(dwWait);
      dwError = GetLastError();
    });
    if (dwWait > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_EQ(strOld, ReadFileBytes(m_dir.Path() / "client.pak")) << "the merge wrote under a reader";
      EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
    } else {
      merge.join();
    }
    WriteFileBytes(m_dir.Path() / "out/resume", "");
    ASSERT_TRUE(reader.Wait(60000));
    if (merge.joinable()) merge.join();
    int nExtracted = -1;
    std::sscanf(reader.Output().c_str(), "result %d", &nExtracted);
    EXPECT_EQ(1, nExtracted);
    EXPECT_EQ(mapOld, Tree(m_dir.Path() / "out")) << "the reader read something else than the old pack";
    if (dwWait > 0) {
      EXPECT_EQ(1, nMerged);
      EXPECT_NE(strOld, ReadFileBytes(m_dir.Path() / "client.pak"));
    } else {
      EXPECT_EQ(0, nMerged);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), dwError);
      EXPECT_EQ(strOld, ReadFileBytes(m_dir.Path() / "client.pak"));
    }
  }
}

// A reader that comes while a merge runs (held still after its journal)
// fails at once, writing nothing: it would read half a merge, and it may
// not roll the merge back under it either. Once the merge is done, the
// reader reads the new pack.
TEST_F(ReaderTest, AReaderDuringAMergeFailsCleanlyAndAfterItReadsTheNewPack) {
  const CFaultChildRun count = RunFaultChild(Utf8Path(MERGE_CHILD_EXE), m_dir.Path() / "work", "count", 0,
                                             {m_dir.ProgramPath("update.pak"), m_dir.ProgramPath("client.pak")});
  ASSERT_EQ(1, count.nResult);
  Client().WriteTo(m_dir.Path() / "client.pak");
  CChildProcess merge(Utf8Path(MERGE_CHILD_EXE),
                      {"merge_fault_child", "pause", std::to_string(count.nPoints), m_dir.ProgramPath("update.pak"),
                       m_dir.ProgramPath("client.pak")},
                      m_dir.Path() / "work");
  ASSERT_TRUE(WaitFor(m_dir.Path() / "work/paused"));
  ASSERT_TRUE(fs::exists(m_dir.Path() / "client.pak.journal"));
  const CFaultChildRun during =
      RunFaultChild(Utf8Path(MERGE_CHILD_EXE), m_dir.Path() / "out", "count", 0, ExtractArgs());
  EXPECT_EQ(0, during.nResult);
  EXPECT_EQ(static_cast<unsigned long>(ERROR_SHARING_VIOLATION), during.nError);
  EXPECT_TRUE(Tree(m_dir.Path() / "out").empty());

  WriteFileBytes(m_dir.Path() / "work/resume", "");
  ASSERT_TRUE(merge.Wait(60000));
  const CFaultChildRun after =
      RunFaultChild(Utf8Path(MERGE_CHILD_EXE), m_dir.Path() / "out", "count", 0, ExtractArgs());
  EXPECT_EQ(1, after.nResult);
  std::map<std::string, std::string> mapNew = Tree(m_dir.Path() / "out");
  EXPECT_EQ(std::string(20, 'n'), mapNew["res/ui/a.txt"]);
  EXPECT_EQ(std::string(70, 'n'), mapNew["res/ui/f.txt"]);
}

}  // namespace
