// Releases and updates in the library: how a build names its files before
// it runs, two releases compared by content, the update pack between them
// (from a tree or from a pack, the same bytes), and a merge's dry run
// against the merge itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/support/pack_writer.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

class ReleaseTest : public ::testing::Test {
 protected:
  void Write(const std::string& strRel, const std::string& strBytes) const {
    const fs::path path = m_dir.Path() / Utf8Path(strRel);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, strBytes);
  }

  // A release as a build's file list: the directory strRel is the root.
  std::unique_ptr<CPackFile> Tree(const std::string& strRel, int nWorkers = 0) const {
    CCurrentDirGuard guard;  // the walk changes the current directory
    auto pTree = std::make_unique<CPackFile>();
    pTree->SetBuildWorkers(nWorkers);
    const std::string strRoot = m_dir.ProgramPath(strRel);
    pTree->SetRootPath(strRoot.c_str());
    pTree->CollectFiles(strRoot.c_str());
    return pTree;
  }
  std::unique_ptr<CPackFile> Pack(const std::string& strRel) const {
    auto pPack = std::make_unique<CPackFile>();
    EXPECT_TRUE(pPack->OpenForReading(m_dir.ProgramPath(strRel)));
    return pPack;
  }
  // Builds the tree strRel into out/<strName>.pak.
  void BuildPack(const std::string& strRel, const std::string& strName, bool bCompress, bool bTags = false) const {
    fs::create_directories(m_dir.Path() / "out");
    std::unique_ptr<CPackFile> pTree = Tree(strRel);
    pTree->SetContentTags(bTags);
    const std::string strRoot = m_dir.ProgramPath(strRel);
    ASSERT_TRUE(pTree->CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), bCompress, nullptr,
                                  strName.c_str(), false));
  }
  // The update from old to newer as out/<strName>.pak; its bytes.
  std::string Update(const CPackFile& old, const CPackFile& newer, bool bCompress, const std::string& strName,
                     int nWorkers = 0) const {
    CReleaseDiff diff;
    std::string strFailed;
    EXPECT_TRUE(old.DiffRelease(newer, false, diff, strFailed)) << strFailed;
    fs::create_directories(m_dir.Path() / "out");
    CPackFile update;
    update.SetBuildWorkers(nWorkers);
    EXPECT_TRUE(update.CreateUpdatePack(newer, diff, m_dir.ProgramPath("out").c_str(), bCompress, nullptr,
                                        strName.c_str()));
    return ReadFileBytes(m_dir.Path() / "out" / (strName + ".pak"));
  }
  bool CaseSensitiveFiles() const {
    Write("case/a", "");
    return !fs::exists(m_dir.Path() / "case" / "A");
  }

  CTempDir m_dir;
};

const CReleaseEntry* Find(const CReleaseDiff& diff, const std::string& strName) {
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.strName == strName) return &entry;
  }
  return nullptr;
}

TEST_F(ReleaseTest, NamingTellsEveryFileABuildLeavesOutAndWhy) {
  Write("client/ui/a.txt", "a");
  Write("client/ui/b.txt", "b");
  Write("elsewhere.txt", "outside the root");
  CPackFile tree;
  const std::string strRoot = m_dir.ProgramPath("client");
  tree.SetRootPath(strRoot.c_str());
  tree.AddFile(m_dir.ProgramPath("client/ui/missing.txt").c_str());  // does not open, takes no name
  tree.AddFile(m_dir.ProgramPath("client/ui/a.txt").c_str());
  tree.AddFile(m_dir.ProgramPath("client/UI/A.TXT").c_str());  // the same entry name
  tree.AddFile(m_dir.ProgramPath("elsewhere.txt").c_str());    // no entry name
  tree.AddFile((strRoot + "\\" + std::string(MAX_PATH, 'x')).c_str());
  tree.AddFile(m_dir.ProgramPath("client/ui/b.txt").c_str());

  const std::vector<CBuildFileName> vecNames = tree.NameBuildFiles();
  ASSERT_EQ(6u, vecNames.size());
  EXPECT_EQ(BuildFileFate::kCannotOpen, vecNames[0].eFate);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), vecNames[0].dwError);
  EXPECT_EQ("client\\ui\\missing.txt", vecNames[0].strName);
  EXPECT_EQ(BuildFileFate::kTaken, vecNames[1].eFate);
  EXPECT_EQ("client\\ui\\a.txt", vecNames[1].strName);
  EXPECT_EQ(BuildFileFate::kFolded, vecNames[2].eFate);
  EXPECT_EQ(1u, vecNames[2].nTakenBy);
  EXPECT_EQ(BuildFileFate::kNoName, vecNames[3].eFate);
  EXPECT_EQ(BuildFileFate::kPathTooLong, vecNames[4].eFate);
  EXPECT_EQ(BuildFileFate::kTaken, vecNames[5].eFate);

  // The build takes exactly the files the naming said: without the long
  // path (which fails a build) the pack holds a.txt from its first file and b.txt.
  CPackFile build;
  build.SetRootPath(strRoot.c_str());
  for (size_t i : {0, 1, 2, 3, 5}) build.AddFile(vecNames[i].strFile.c_str());
  fs::create_directories(m_dir.Path() / "out");
  ASSERT_TRUE(build.CreatePack(strRoot.c_str(), m_dir.ProgramPath("out").c_str(), false, nullptr, "p", false));
  EXPECT_EQ((ReleaseFiles{{"ui/a.txt", "a"}, {"ui/b.txt", "b"}}), PackContent(m_dir.Path() / "out" / "p.pak"));
}

TEST_F(ReleaseTest, FilesDifferingOnlyInCaseFoldOntoOneName) {
  if (!CaseSensitiveFiles()) GTEST_SKIP() << "names differ only in case on no file system here";
  Write("client/xt_MARK.h", "upper");
  Write("client/xt_mark.h", "lower");
  const std::vector<CBuildFileName> vecNames = Tree("client")->NameBuildFiles();
  ASSERT_EQ(2u, vecNames.size());
  const size_t nFolded = vecNames[0].eFate == BuildFileFate::kFolded ? 0 : 1;
  EXPECT_EQ(BuildFileFate::kFolded, vecNames[nFolded].eFate);
  EXPECT_EQ(1 - nFolded, vecNames[nFolded].nTakenBy);
  EXPECT_EQ(BuildFileFate::kTaken, vecNames[1 - nFolded].eFate);
  EXPECT_EQ(vecNames[0].strName, vecNames[1].strName);
}

TEST_F(ReleaseTest, ADiffSortsEveryNameByContent) {
  Write("v1/res/ui/same.txt", "same");
  Write("v1/res/ui/grown.txt", "short");
  Write("v1/res/ui/edited.txt", "abcd");
  Write("v1/res/地图/gone.map", "old map");
  Write("v2/res/ui/same.txt", "same");
  Write("v2/res/ui/grown.txt", "much longer now");
  Write("v2/res/ui/edited.txt", "abce");
  Write("v2/res/ui/new.txt", "joins ui");
  Write("v2/res/新/loose.txt", "a directory the old release lacks");
  Write("v2/res/top.txt", "below the root: no first directory");
  BuildPack("v1/res", "v1", true, true);

  for (bool bOldPack : {false, true}) {
    SCOPED_TRACE(bOldPack ? "old release as a pack" : "old release as a tree");
    std::unique_ptr<CPackFile> pOld = bOldPack ? Pack("out/v1.pak") : Tree("v1/res");
    CReleaseDiff diff;
    std::string strFailed;
    ASSERT_TRUE(pOld->DiffRelease(*Tree("v2/res"), false, diff, strFailed));
    std::vector<std::pair<std::string, ReleaseChange>> vecKinds;
    for (const CReleaseEntry& entry : diff.vecEntries) vecKinds.push_back({entry.strName, entry.eChange});
    const std::vector<std::pair<std::string, ReleaseChange>> vecExpected = {
        {"res\\top.txt", ReleaseChange::kAdded},
        {"res\\ui\\edited.txt", ReleaseChange::kChanged},
        {"res\\ui\\grown.txt", ReleaseChange::kChanged},
        {"res\\ui\\new.txt", ReleaseChange::kAdded},
        {"res\\ui\\same.txt", ReleaseChange::kUnchanged},
        {EntryNameOf("res", "地图/gone.map"), ReleaseChange::kRemoved},  // GBK 0xB5.. before 0xD0..
        {EntryNameOf("res", "新/loose.txt"), ReleaseChange::kAdded}};
    EXPECT_EQ(vecExpected, vecKinds);
    EXPECT_TRUE(Find(diff, "res\\top.txt")->bLoose);
    EXPECT_TRUE(Find(diff, EntryNameOf("res", "新/loose.txt"))->bLoose);
    EXPECT_FALSE(Find(diff, "res\\ui\\new.txt")->bLoose);
    EXPECT_EQ(5u, Find(diff, "res\\ui\\grown.txt")->dwOldSize);
    EXPECT_EQ(15u, Find(diff, "res\\ui\\grown.txt")->dwNewSize);
    EXPECT_EQ(2u, diff.Count(ReleaseChange::kChanged));
    EXPECT_EQ(4u + 15u, diff.Bytes(ReleaseChange::kChanged));
    EXPECT_EQ(7u, diff.Bytes(ReleaseChange::kRemoved));
    EXPECT_TRUE(diff.HasUpdate());
  }

  // Roots must match.
  Write("other/data/x.txt", "x");
  CReleaseDiff diff;
  std::string strFailed;
  EXPECT_FALSE(Tree("v1/res")->DiffRelease(*Tree("other/data"), false, diff, strFailed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
}

TEST_F(ReleaseTest, StoredTagsAreTakenOnlyWhenTrustedAndShapedLikeContentTags) {
  // An old pack whose stored tags lie: "a" has the tag of "b"'s bytes, a
  // content tag's form; "c" has a tag of another form.
  CTestPack old;
  old.AddEntry("res\\ui\\a.txt", "old a", "92eb5ffee6ae2fec3ad71c777531578f");  // MD5 of "b"
  old.AddEntry("res\\ui\\c.txt", "c", "version 7");
  old.AddTreeForEntries();
  old.WriteTo(m_dir.Path() / "old.pak");
  Write("new/res/ui/a.txt", "b");
  Write("new/res/ui/c.txt", "c");
  for (bool bTrust : {false, true}) {
    CReleaseDiff diff;
    std::string strFailed;
    ASSERT_TRUE(Pack("old.pak")->DiffRelease(*Tree("new/res"), bTrust, diff, strFailed));
    EXPECT_EQ(bTrust ? ReleaseChange::kUnchanged : ReleaseChange::kChanged, Find(diff, "res\\ui\\a.txt")->eChange);
    EXPECT_EQ(ReleaseChange::kUnchanged, Find(diff, "res\\ui\\c.txt")->eChange);
  }
}

TEST_F(ReleaseTest, AnEntryThatDoesNotDecodeFailsTheDiffNamingIt) {
  CTestPack old("res", true);
  old.AddEntry("res\\ui\\a.txt", Lzma86Encode("fine"), "", 4);
  PackEntry& broken = old.AddEntry("res\\ui\\b.txt", Lzma86Encode("damaged"));
  broken.dwOrigSize = 3;  // the stream holds more
  old.AddTreeForEntries();
  old.WriteTo(m_dir.Path() / "old.pak");
  Write("new/res/ui/a.txt", "fine");
  CReleaseDiff diff;
  std::string strFailed;
  EXPECT_FALSE(Pack("old.pak")->DiffRelease(*Tree("new/res"), false, diff, strFailed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_EQ("res\\ui\\b.txt", strFailed);
}

// The update holds exactly the changed and added entries, tagged, in name
// order, and is the same file whether either release is a tree or a pack
// (plain or compressed), and whatever the number of workers.
TEST_F(ReleaseTest, AnUpdateIsTheSameFileFromTreesAndFromPacks) {
  const ReleaseFiles v1 = FirstRelease(11);
  const ReleaseFiles v2 = NextRelease(v1, 12);
  WriteRelease(v1, m_dir.Path() / "v1" / "res");
  WriteRelease(v2, m_dir.Path() / "v2" / "res");
  BuildPack("v1/res", "v1", false, true);
  BuildPack("v2/res", "v2", false);
  BuildPack("v2/res", "v2z", true);

  for (bool bCompress : {false, true}) {
    SCOPED_TRACE(bCompress ? "compressed update" : "plain update");
    const std::string strBytes = Update(*Tree("v1/res"), *Tree("v2/res"), bCompress, "tt", 1);
    EXPECT_EQ(strBytes, Update(*Pack("out/v1.pak"), *Tree("v2/res"), bCompress, "pt", 3));
    EXPECT_EQ(strBytes, Update(*Tree("v1/res"), *Pack("out/v2.pak"), bCompress, "tp"));
    EXPECT_EQ(strBytes, Update(*Pack("out/v1.pak"), *Pack("out/v2z.pak"), bCompress, "pp", 2));

    ReleaseFiles expected;
    for (const auto& item : v2) {
      auto itOld = v1.find(item.first);
      if (itOld == v1.end() || itOld->second != item.second) expected.insert(item);
    }
    EXPECT_EQ(expected, PackContent(m_dir.Path() / "out" / "tt.pak"));
    const CTestPack update = CTestPack::Parse(strBytes);
    EXPECT_EQ(bCompress ? 1 : 0, update.header.byCompressed);
    std::string strPrevious;
    for (const PackEntry& entry : update.vecEntries) {
      EXPECT_NE('\0', entry.szTag[0]);
      EXPECT_LT(strPrevious, FieldString(entry.szName, kPackNameSize));
      strPrevious = FieldString(entry.szName, kPackNameSize);
    }
  }
}

TEST_F(ReleaseTest, NothingToUpdateWritesNothing) {
  Write("v1/res/a.txt", "a");
  Write("v2/res/a.txt", "a");
  CReleaseDiff diff;
  std::string strFailed;
  std::unique_ptr<CPackFile> pNew = Tree("v2/res");
  ASSERT_TRUE(Tree("v1/res")->DiffRelease(*pNew, false, diff, strFailed));
  EXPECT_FALSE(diff.HasUpdate());
  CPackFile update;
  EXPECT_FALSE(update.CreateUpdatePack(*pNew, diff, m_dir.ProgramPath().c_str(), false, nullptr, "u"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "u.pak"));
}

class PreviewTest : public ReleaseTest {
 protected:
  PreviewTest() {
    fs::create_directory(m_dir.Path() / "work");
    fs::current_path(m_dir.Path() / "work");
  }
  CCurrentDirGuard m_cwd;
};

// The dry run tells every step the merge then takes, where it puts each
// blob, and the size the client ends with.
TEST_F(PreviewTest, TheDryRunIsThePlanTheMergeCarriesOut) {
  for (bool bCompressedClient : {false, true}) {
    SCOPED_TRACE(bCompressedClient ? "compressed client" : "plain client");
    CTestPack client("res", bCompressedClient);
    const auto store = [&](const std::string& str) { return bCompressedClient ? Lzma86Encode(str) : str; };
    client.AddEntry("res\\ui\\a.txt", store(std::string(400, 'a')), "1");
    client.AddEntry("res\\ui\\b.txt", store(RandomBytes(300, 1)), "2");
    client.AddEntry("res\\ui\\c.txt", store("c"), "3");
    client.AddHole(900);
    client.AddTreeForEntries();
    client.WriteTo(m_dir.Path() / "client.pak");
    CTestPack update("res", true);
    update.AddEntry("res\\ui\\a.txt", Lzma86Encode(std::string(10, 'A')), "10", 10);  // smaller: in place
    update.AddEntry("res\\ui\\b.txt", Lzma86Encode(RandomBytes(600, 2)), "20", 600);  // larger: moves
    update.AddEntry("res\\ui\\c.txt", Lzma86Encode("c"), "3", 1);                      // unchanged
    update.AddEntry("res\\ui\\d.txt", Lzma86Encode(RandomBytes(2000, 3)), "40", 2000);  // new, appended
    update.AddEntry("res\\snd\\e.txt", Lzma86Encode("loose"), "50", 5);                  // loose
    update.AddTreeForEntries();
    update.WriteTo(m_dir.Path() / "update.pak");
    const std::string strBefore = ReadFileBytes(m_dir.Path() / "client.pak");

    CRealizePack realize;
    CMergePreview preview;
    ASSERT_EQ(1, realize.PreviewMerge(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str(),
                                      preview));
    EXPECT_EQ(strBefore, ReadFileBytes(m_dir.Path() / "client.pak"));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "work" / "snd"));
    EXPECT_EQ(5u, preview.nUpdateEntries);
    EXPECT_EQ(strBefore.size(), preview.qwSizeBefore);
    ASSERT_EQ(4u, preview.vecSteps.size());
    EXPECT_EQ(MergeAction::kLoose, preview.vecSteps[0].eAction);
    EXPECT_EQ("snd\\e.txt", preview.vecSteps[0].strLoosePath);
    EXPECT_EQ(MergeAction::kInPlace, preview.vecSteps[1].eAction);
    EXPECT_EQ(MergeAction::kMove, preview.vecSteps[2].eAction);
    EXPECT_EQ(MergeAction::kAdd, preview.vecSteps[3].eAction);

    ASSERT_EQ(1, realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str()));
    const CTestPack merged = CTestPack::ReadFrom(m_dir.Path() / "client.pak");
    EXPECT_EQ(preview.qwSizeAfter, fs::file_size(m_dir.Path() / "client.pak"));
    uint32_t dwFree = 0;
    for (const PackFreeBlock& block : merged.vecFree) dwFree += block.dwSize;
    EXPECT_EQ(preview.dwFreeBytesAfter, dwFree);
    for (const CMergePreviewStep& step : preview.vecSteps) {
      if (step.eAction == MergeAction::kLoose) continue;
      const PackEntry* pEntry = merged.FindEntry(step.strName);
      ASSERT_NE(nullptr, pEntry) << step.strName;
      EXPECT_EQ(step.dwOffset, pEntry->dwOffset) << step.strName;
      EXPECT_EQ(step.dwSize, pEntry->dwStoredSize) << step.strName;
      EXPECT_EQ(step.dwPlainSize, pEntry->dwOrigSize) << step.strName;
    }
    EXPECT_EQ("loose", ReadFileBytes(m_dir.Path() / "work" / "snd" / "e.txt"));
    fs::remove_all(m_dir.Path() / "work" / "snd");
  }
}

TEST_F(PreviewTest, ARefusedMergeIsRefusedByItsDryRunWithTheSameWords) {
  CTestPack client;
  client.AddEntry("res\\ui\\a.txt", "a", "1");
  client.AddTreeForEntries();
  client.WriteTo(m_dir.Path() / "client.pak");
  CTestPack update;
  update.AddEntry("res\\ui\\a.txt\\b.txt", "below a file", "2");
  update.AddTreeForEntries();
  update.WriteTo(m_dir.Path() / "update.pak");
  const std::string strBefore = ReadFileBytes(m_dir.Path() / "client.pak");

  CRealizePack realize;
  CMergePreview preview;
  EXPECT_EQ(0, realize.PreviewMerge(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str(),
                                    preview));
  const DWORD dwPreviewError = GetLastError();
  const std::string strPreviewRefusal = realize.GetMergeRefusal();
  EXPECT_NE("", strPreviewRefusal);
  EXPECT_EQ(0, realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ(dwPreviewError, GetLastError());
  EXPECT_EQ(strPreviewRefusal, realize.GetMergeRefusal());
  EXPECT_EQ(strBefore, ReadFileBytes(m_dir.Path() / "client.pak"));

  EXPECT_EQ(0, realize.PreviewMerge(m_dir.ProgramPath("missing.pak").c_str(),
                                    m_dir.ProgramPath("client.pak").c_str(), preview));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

}  // namespace
