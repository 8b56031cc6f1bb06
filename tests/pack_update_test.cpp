// Release updates merged into a client (CRealizePack::MergeUpdate): the
// entries an update removes leave the index, the tree and the data area in
// the same step as the rest of the merge; the client's loose files are
// recorded, and deleted when a later update removes their entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace {

class UpdateMergeTest : public ::testing::Test {
 protected:
  UpdateMergeTest() {
    fs::current_path(m_dir.Path());
    CTestPack client("res");
    client.AddEntry("res\\ui\\a.txt", std::string(400, 'a'), "a1");
    client.AddEntry("res\\ui\\b.txt", std::string(300, 'b'), "b1");
    client.AddEntry(Gbk("res\\地图\\城镇\\c.map"), std::string(500, 'c'), "c1");
    client.AddEntry("res\\readme.txt", "read me", "r1");
    client.AddTreeForEntries();
    client.WriteTo(m_dir.Path() / "clientres.pak");
  }
  ~UpdateMergeTest() override { fs::current_path(fs::temp_directory_path()); }

  int Merge(const CTestPack& update, const CUpdateRemovals& removals) {
    update.WriteTo(m_dir.Path() / "update.pak");
    m_strBefore = ReadFileBytes(m_dir.Path() / "clientres.pak");
    CRealizePack realize;
    const int nMerged = realize.MergeUpdate(Path("update.pak").c_str(), Path("clientres.pak").c_str(), removals);
    m_strRefusal = realize.GetMergeRefusal();
    m_setMerged = realize.GetMergedNames();
    return nMerged;
  }
  std::string Path(const std::string& strRel) const { return m_dir.ProgramPath(strRel); }
  std::set<std::string> Recorded() const {
    std::set<std::string> setNames;
    EXPECT_TRUE(ReadLooseRecord(Path("clientres.pak"), setNames));
    return setNames;
  }
  // The client's entries and directory records; it must verify.
  CTestPack Client() const {
    std::vector<std::string> vecProblems;
    EXPECT_TRUE(VerifyPack(Path("clientres.pak").c_str(), vecProblems));
    EXPECT_EQ(std::vector<std::string>(), vecProblems);
    return CTestPack::ReadFrom(m_dir.Path() / "clientres.pak");
  }
  static std::set<std::string> DirPaths(const CTestPack& pack) {
    std::set<std::string> setPaths;
    for (const PackDirRecord& record : pack.vecDirs) setPaths.insert(FieldString(record.szFullPath, kPackNameSize));
    return setPaths;
  }

  CTempDir m_dir;
  std::string m_strBefore;
  std::string m_strRefusal;
  std::set<std::string> m_setMerged;
};

TEST_F(UpdateMergeTest, RemovedEntriesGoWithTheirEmptiedDirectoriesAndFreeTheirSlots) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", std::string(450, 'A'), "a2");  // no longer fits: moves
  update.AddEntry("res\\ui\\new.txt", std::string(280, 'n'), "n1");
  CUpdateRemovals removals;
  removals.vecNames = {Gbk("res\\地图\\城镇\\c.map"), "res\\ui\\b.txt", "res\\ui\\never-there.txt"};
  ASSERT_EQ(1, Merge(update, removals)) << m_strRefusal;

  const CTestPack client = Client();
  EXPECT_EQ(3u, client.vecEntries.size());
  EXPECT_EQ(nullptr, client.FindEntry("res\\ui\\b.txt"));
  EXPECT_EQ(nullptr, client.FindEntry(Gbk("res\\地图\\城镇\\c.map")));
  EXPECT_EQ(std::string(450, 'A'), client.StoredBytes(*client.FindEntry("res\\ui\\a.txt")));
  EXPECT_EQ(std::string(280, 'n'), client.StoredBytes(*client.FindEntry("res\\ui\\new.txt")));
  // 地图 and 地图\城镇 held only c.map: both go, as a build of the new release
  // would not have them.
  EXPECT_EQ((std::set<std::string>{"res\\readme.txt", "res\\ui", "res\\ui\\a.txt", "res\\ui\\new.txt"}),
            DirPaths(client));
  // The freed slots of b (300 bytes) and c (500) took the new entry and the
  // moved one: the data area did not grow.
  EXPECT_EQ(CTestPack::Parse(m_strBefore).header.dwIndexOffset, client.header.dwIndexOffset);
  EXPECT_EQ((std::set<std::string>{"res\\ui\\a.txt", "res\\ui\\new.txt"}), m_setMerged);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "clientres.pak.loose"));
}

// The loose files a release update writes are recorded beside the pack; a
// later update that removes their entries deletes them, and the
// directories it leaves empty, and nothing of the player's.
TEST_F(UpdateMergeTest, LooseFilesAreRecordedAndGoWithTheirEntries) {
  CTestPack first("res");
  first.AddEntry(Gbk("res\\声音\\a.wav"), "sound a", "s1");
  first.AddEntry(Gbk("res\\声音\\深\\b.wav"), "sound b", "s2");
  first.AddEntry("res\\extra.txt", "extra", "e1");
  ASSERT_EQ(1, Merge(first, CUpdateRemovals())) << m_strRefusal;
  EXPECT_EQ((std::set<std::string>{Gbk("res\\声音\\a.wav"), Gbk("res\\声音\\深\\b.wav"), "res\\extra.txt"}),
            Recorded());
  EXPECT_EQ("sound b", ReadFileBytes(m_dir.Path() / Utf8Path("声音/深/b.wav")));
  WriteFileBytes(m_dir.Path() / Utf8Path("声音/mine.txt"), "the player's");

  CTestPack second("res");
  CUpdateRemovals removals;
  removals.vecNames = {"res\\extra.txt", Gbk("res\\声音\\深\\b.wav")};
  ASSERT_EQ(1, Merge(second, removals)) << m_strRefusal;
  EXPECT_EQ((std::set<std::string>{Gbk("res\\声音\\a.wav")}), Recorded());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "extra.txt"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / Utf8Path("声音/深")));
  EXPECT_EQ("sound a", ReadFileBytes(m_dir.Path() / Utf8Path("声音/a.wav")));
  EXPECT_EQ("the player's", ReadFileBytes(m_dir.Path() / Utf8Path("声音/mine.txt")));
  EXPECT_EQ(m_strBefore, ReadFileBytes(m_dir.Path() / "clientres.pak"));  // the pack itself did not change
}

// A full update brings the whole release: what it lacks goes, in the pack
// and among the recorded loose files.
TEST_F(UpdateMergeTest, AFullUpdateRemovesEverythingItLacks) {
  CTestPack loose("res");
  loose.AddEntry(Gbk("res\\声音\\a.wav"), "sound a", "s1");
  ASSERT_EQ(1, Merge(loose, CUpdateRemovals()));
  CTestPack full("res");
  full.AddEntry("res\\ui\\a.txt", std::string(400, 'a'), "a1");
  full.AddEntry("res\\readme.txt", "read me again", "r2");
  CUpdateRemovals removals;
  removals.bAllOthers = true;
  ASSERT_EQ(1, Merge(full, removals)) << m_strRefusal;
  const CTestPack client = Client();
  EXPECT_EQ(2u, client.vecEntries.size());
  EXPECT_EQ("read me again", client.StoredBytes(*client.FindEntry("res\\readme.txt")));
  EXPECT_EQ((std::set<std::string>{"res\\readme.txt", "res\\ui", "res\\ui\\a.txt"}), DirPaths(client));
  EXPECT_FALSE(fs::exists(m_dir.Path() / Utf8Path("声音")));
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ((std::set<std::string>{"res\\readme.txt"}), m_setMerged);  // a1 was unchanged
}

// Refused before anything is written: an update that brings and removes the
// same entry, and a client whose record of loose files is damaged. A dry
// run shows the removals the merge would make.
TEST_F(UpdateMergeTest, ContradictionsAndDamagedRecordsAreRefusedAndDryRunsShowRemovals) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new a", "a2");
  CUpdateRemovals removals;
  removals.vecNames = {"res\\ui\\a.txt"};
  EXPECT_EQ(0, Merge(update, removals));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_NE(std::string::npos, m_strRefusal.find("both brought and removed")) << m_strRefusal;
  EXPECT_EQ(m_strBefore, ReadFileBytes(m_dir.Path() / "clientres.pak"));

  WriteFileBytes(m_dir.Path() / "clientres.pak.loose", "patchloom-loose-files 1\nres\\b\nres\\a\n");
  removals.vecNames = {"res\\ui\\b.txt"};
  EXPECT_EQ(0, Merge(update, removals));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_NE(std::string::npos, m_strRefusal.find("record of loose files")) << m_strRefusal;
  EXPECT_EQ(m_strBefore, ReadFileBytes(m_dir.Path() / "clientres.pak"));

  ASSERT_TRUE(WriteLooseRecord(Path("clientres.pak"), {"res\\gone\\x.txt"}));
  CRealizePack realize;
  CMergePreview preview;
  ASSERT_EQ(1, realize.PreviewMerge(Path("update.pak").c_str(), Path("clientres.pak").c_str(), preview, &removals));
  EXPECT_EQ(std::vector<std::string>{"res\\ui\\b.txt"}, preview.vecRemoved);
  removals.vecNames.push_back("res\\gone\\x.txt");
  ASSERT_EQ(1, realize.PreviewMerge(Path("update.pak").c_str(), Path("clientres.pak").c_str(), preview, &removals));
  EXPECT_EQ(std::vector<std::string>{"res\\gone\\x.txt"}, preview.vecLooseRemoved);
  EXPECT_EQ(m_strBefore, ReadFileBytes(m_dir.Path() / "clientres.pak"));
}

}  // namespace
