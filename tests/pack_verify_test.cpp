// Checking pack files: sound packs (written byte by byte, built and merged
// by the library) pass; each kind of damage is found and named.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace {

std::string Joined(const std::vector<std::string>& vecProblems) {
  std::string strAll;
  for (const std::string& str : vecProblems) strAll += str + "\n";
  return strAll;
}

class PackVerifyTest : public ::testing::Test {
 protected:
  // Writes the pack and checks it; the file must be readable to the end.
  std::vector<std::string> Verify(const CTestPack& pack) {
    pack.WriteTo(m_dir.Path() / "x.pak");
    return VerifyFile("x.pak");
  }
  std::vector<std::string> VerifyFile(const std::string& strRelUtf8) {
    std::vector<std::string> vecProblems;
    EXPECT_TRUE(VerifyPack(m_dir.ProgramPath(strRelUtf8).c_str(), vecProblems));
    return vecProblems;
  }

  // res\ui\a.txt, res\ui\b.txt, res\c.txt with their tree: a sound pack.
  static CTestPack SoundPack(bool bCompressed = false) {
    CTestPack pack("res", bCompressed);
    for (const auto& [strName, strPlain] : {std::pair<std::string, std::string>{"res\\ui\\a.txt", "alpha"},
                                            {"res\\ui\\b.txt", std::string(300, 'b')},
                                            {"res\\c.txt", "charlie"}}) {
      pack.AddEntry(strName, bCompressed ? Lzma86Encode(strPlain) : strPlain, "",
                    static_cast<uint32_t>(strPlain.size()));
    }
    pack.AddTreeForEntries();
    return pack;
  }

  CTempDir m_dir;
};

// Exactly one problem, which names what is wrong.
::testing::AssertionResult OneProblem(const std::vector<std::string>& vecProblems, const std::string& strText) {
  if (vecProblems.size() != 1) return ::testing::AssertionFailure() << "not one problem:\n" << Joined(vecProblems);
  if (vecProblems[0].find(strText) == std::string::npos) return ::testing::AssertionFailure() << vecProblems[0];
  return ::testing::AssertionSuccess();
}

TEST_F(PackVerifyTest, SoundPacksHaveNoProblems) {
  EXPECT_EQ("", Joined(Verify(SoundPack(false))));
  EXPECT_EQ("", Joined(Verify(SoundPack(true))));

  CTestPack withHole = SoundPack();
  withHole.AddHole(40);
  EXPECT_EQ("", Joined(Verify(withHole)));

  CTestPack empty("res");
  EXPECT_EQ("", Joined(Verify(empty)));
}

TEST_F(PackVerifyTest, ProgressIsToldOncePerEntry) {
  SoundPack(true).WriteTo(m_dir.Path() / "x.pak");
  std::vector<std::string> vecProblems;
  std::vector<std::pair<size_t, size_t>> vecCalls;
  ASSERT_TRUE(VerifyPack(m_dir.ProgramPath("x.pak").c_str(), vecProblems,
                         [&](size_t nDone, size_t nTotal) { vecCalls.emplace_back(nDone, nTotal); }));
  const std::vector<std::pair<size_t, size_t>> vecExpected = {{1, 3}, {2, 3}, {3, 3}};
  EXPECT_EQ(vecExpected, vecCalls);
}

TEST_F(PackVerifyTest, PacksBuiltAndMergedByTheLibraryAreSound) {
  for (const char* pszRel : {"src/资源/界面/图标.txt", "src/资源/界面/b.txt", "src/资源/地图/城镇.map"}) {
    fs::create_directories(m_dir.Path() / Utf8Path(pszRel).parent_path());
    WriteFileBytes(m_dir.Path() / Utf8Path(pszRel), std::string(pszRel) + std::string(500, 'x'));
  }
  CCurrentDirGuard guard;
  for (bool bCompress : {false, true}) {
    CPackFile pack;
    pack.SetContentTags(true);
    pack.SetRootPath(m_dir.ProgramPath("src/资源").c_str());
    pack.CollectFiles(m_dir.ProgramPath("src/资源").c_str());
    const std::string strName = bCompress ? "z" : "p";
    ASSERT_TRUE(pack.CreatePack(m_dir.ProgramPath("src").c_str(), m_dir.ProgramPath().c_str(), bCompress, nullptr,
                                strName.c_str(), false));
    EXPECT_EQ("", Joined(VerifyFile(strName + ".pak")));
  }
  // An update that changes one entry and adds one, merged into both.
  CTestPack update(Gbk("资源"));
  update.AddEntry(Gbk("资源\\界面\\b.txt"), std::string(2000, 'n'), "new-b");
  update.AddEntry(Gbk("资源\\界面\\新.txt"), "new", "new-file");
  update.WriteTo(m_dir.Path() / "update.pak");
  for (const char* pszTarget : {"p.pak", "z.pak"}) {
    CRealizePack realizePack;
    ASSERT_EQ(1, realizePack.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath(pszTarget).c_str()));
    EXPECT_EQ("", Joined(VerifyFile(pszTarget))) << pszTarget;
  }
}

TEST_F(PackVerifyTest, OverlappingBlobsAreNamed) {
  CTestPack pack = SoundPack();
  pack.vecEntries[2].dwOffset = pack.vecEntries[1].dwOffset + 10;  // c.txt inside b.txt
  EXPECT_TRUE(OneProblem(Verify(pack), "entry \"res\\c.txt\" overlaps entry \"res\\ui\\b.txt\""));
}

TEST_F(PackVerifyTest, FreeBlockOverAnEntryIsAnOverlap) {
  CTestPack pack = SoundPack();
  pack.vecFree.push_back({pack.vecEntries[0].dwOffset, 2});
  EXPECT_TRUE(OneProblem(Verify(pack), "free block 1 (offset 60, 2 bytes) overlaps entry \"res\\ui\\a.txt\""));
}

TEST_F(PackVerifyTest, EntryPastTheDataAreaIsNamed) {
  CTestPack pack = SoundPack();
  pack.vecEntries[0].dwOffset = kPackHeaderSize + static_cast<uint32_t>(pack.strData.size()) - 2;
  EXPECT_TRUE(OneProblem(Verify(pack), "entry \"res\\ui\\a.txt\" (offset " +
                                           std::to_string(pack.vecEntries[0].dwOffset) +
                                           ", 5 bytes) lies outside the data area"));

  CTestPack inHeader = SoundPack();
  inHeader.vecEntries[1].dwOffset = 10;
  EXPECT_TRUE(
      OneProblem(Verify(inHeader), "entry \"res\\ui\\b.txt\" (offset 10, 300 bytes) lies outside the data area"));
}

TEST_F(PackVerifyTest, TruncatedStreamDoesNotDecode) {
  CTestPack pack("res", true);
  const std::string strStream = Lzma86Encode(std::string(5000, 'q') + "tail");
  pack.AddEntry("res\\a.bin", strStream.substr(0, strStream.size() / 2), "", 5004);
  pack.AddTreeForEntries();
  EXPECT_TRUE(OneProblem(Verify(pack), "entry \"res\\a.bin\" does not decode"));
}

TEST_F(PackVerifyTest, StreamOfTheWrongSizeDoesNotDecode) {
  CTestPack pack("res", true);
  pack.AddEntry("res\\a.bin", Lzma86Encode("12345678"), "", 9);
  pack.AddTreeForEntries();
  EXPECT_TRUE(OneProblem(Verify(pack), "entry \"res\\a.bin\" does not decode"));
}

TEST_F(PackVerifyTest, PlainEntryWithUnequalSizes) {
  CTestPack pack = SoundPack();
  pack.vecEntries[2].dwOrigSize = 8;
  EXPECT_TRUE(OneProblem(Verify(pack), "entry \"res\\c.txt\" has 7 stored bytes but a size of 8 in a plain pack"));
}

TEST_F(PackVerifyTest, DuplicateNameInTheRawIndex) {
  CTestPack pack = SoundPack();
  pack.AddEntry("res\\c.txt", "second");
  EXPECT_TRUE(OneProblem(Verify(pack), "entry name \"res\\c.txt\" appears 2 times in the index"));
}

TEST_F(PackVerifyTest, TreeAndIndexMustAgree) {
  CTestPack ghost = SoundPack();
  ghost.AddDir(kPackDirKindFile, "res\\ui\\ghost.txt");
  EXPECT_TRUE(OneProblem(Verify(ghost), "file record \"res\\ui\\ghost.txt\" names no entry"));

  CTestPack untracked = SoundPack();
  untracked.AddEntry("res\\ui\\new.txt", "n");
  EXPECT_TRUE(OneProblem(Verify(untracked), "entry \"res\\ui\\new.txt\" has no file record in the directory table"));

  CTestPack orphan("res");
  orphan.AddEntry("res\\ui\\a.txt", "a");
  orphan.AddDir(kPackDirKindFile, "res\\ui\\a.txt");  // res\ui has no record of its own
  EXPECT_TRUE(OneProblem(Verify(orphan), "directory \"res\\ui\" holds records but has no directory record of its own"));

  CTestPack twice = SoundPack();
  twice.AddDir(kPackDirKindFile, "res\\c.txt");
  EXPECT_TRUE(OneProblem(Verify(twice), "file record \"res\\c.txt\" appears 2 times in the directory table"));

  CTestPack outside = SoundPack();
  outside.AddDir(kPackDirKindDir, "other\\ui");
  EXPECT_TRUE(OneProblem(Verify(outside), "directory record \"other\\ui\" does not lie below the root \"res\""));

  CTestPack kind = SoundPack();
  kind.vecDirs[0].nKind = 7;
  const std::vector<std::string> vecProblems = Verify(kind);
  EXPECT_NE(std::string::npos, Joined(vecProblems).find("has the unknown kind 7")) << Joined(vecProblems);
}

TEST_F(PackVerifyTest, UnsafeNamesAreNamed) {
  CTestPack pack("res");
  pack.AddEntry("res\\..\\evil.txt", "x");
  pack.AddTreeForEntries();
  const std::string strAll = Joined(Verify(pack));
  EXPECT_NE(std::string::npos, strAll.find("entry \"res\\..\\evil.txt\" is not a safe path")) << strAll;
  EXPECT_NE(std::string::npos, strAll.find("directory record \"res\\..\" is not a safe path")) << strAll;
}

TEST_F(PackVerifyTest, StaleTailAfterTheDirectoryTable) {
  CTestPack pack = SoundPack();
  pack.strAfterDirs = "stale";
  EXPECT_TRUE(OneProblem(Verify(pack), "5 bytes behind the directory table are not a whole record"));
}

TEST_F(PackVerifyTest, RegionsThatDoNotFitStopTheCheck) {
  CTestPack pack = SoundPack();
  pack.bKeepHeader = true;
  pack.header.dwIndexOffset = kPackHeaderSize + static_cast<uint32_t>(pack.strData.size());
  pack.header.nEntryCount = 1000;
  EXPECT_TRUE(OneProblem(Verify(pack), "the index (1000 records from offset"));

  pack.header.nEntryCount = -1;
  EXPECT_TRUE(OneProblem(Verify(pack), "the header's entry count -1 is negative"));

  pack.header.nEntryCount = 3;
  pack.header.dwIndexOffset = 20;
  EXPECT_TRUE(OneProblem(Verify(pack), "the data area ends at offset 20, inside the header"));

  WriteFileBytes(m_dir.Path() / "short.pak", "pack");
  EXPECT_TRUE(OneProblem(VerifyFile("short.pak"), "the file is 4 bytes long, shorter than the 60-byte header"));
}

TEST_F(PackVerifyTest, HeaderFieldsAreChecked) {
  CTestPack pack = SoundPack();
  pack.header.szMagic[0] = 'P';
  EXPECT_TRUE(OneProblem(Verify(pack), "the header's magic is not \"pack\""));
}

// A journal beside a pack (an update's, say) is reported, and left alone:
// the check neither applies nor removes it.
TEST_F(PackVerifyTest, AJournalBesideThePackIsReportedAndLeftAlone) {
  WriteFileBytes(m_dir.Path() / "x.pak.journal", "any bytes");
  const std::vector<std::string> vecProblems = Verify(SoundPack());
  ASSERT_EQ(1u, vecProblems.size()) << Joined(vecProblems);
  EXPECT_NE(std::string::npos, vecProblems[0].find("x.pak.journal")) << vecProblems[0];
  EXPECT_NE(std::string::npos, vecProblems[0].find("as an update never applies the journal")) << vecProblems[0];
  EXPECT_EQ("any bytes", ReadFileBytes(m_dir.Path() / "x.pak.journal"));
}

TEST_F(PackVerifyTest, FileThatCannotBeOpenedIsAnError) {
  std::vector<std::string> vecProblems;
  EXPECT_FALSE(VerifyPack(m_dir.ProgramPath("missing.pak").c_str(), vecProblems));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(vecProblems.empty());
}

}  // namespace
