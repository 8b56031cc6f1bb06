// Merging an update pack into a client pack: placement, loose files, the
// saved file on disk, and the packs a merge must refuse.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> IndexNames(const CTestPack& pack) {
  std::vector<std::string> vecNames;
  for (const PackEntry& entry : pack.vecEntries) vecNames.push_back(FieldString(entry.szName, kPackNameSize));
  return vecNames;
}

std::vector<std::pair<uint32_t, uint32_t>> FreeList(const CTestPack& pack) {
  std::vector<std::pair<uint32_t, uint32_t>> vecOut;
  for (const PackFreeBlock& block : pack.vecFree) vecOut.push_back({block.dwOffset, block.dwSize});
  return vecOut;
}

class MergeTest : public ::testing::Test {
 protected:
  MergeTest() {
    fs::create_directory(m_dir.Path() / "work");
    fs::current_path(m_dir.Path() / "work");
  }

  // Writes both packs, merges, and returns MergePack's result.
  int Merge(const CTestPack& client, const CTestPack& update) {
    client.WriteTo(m_dir.Path() / "client.pak");
    update.WriteTo(m_dir.Path() / "update.pak");
    m_strClientBefore = ReadFileBytes(m_dir.Path() / "client.pak");
    return MergeFiles();
  }
  int MergeFiles() {
    CRealizePack realize;
    const int nResult =
        realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str());
    m_strRefusal = realize.GetMergeRefusal();
    return nResult;
  }

  // The client pack as it is on disk now; it must also open.
  CTestPack Client() {
    CPackFile file;
    EXPECT_TRUE(file.Open(m_dir.ProgramPath("client.pak")));
    CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / "client.pak");
    EXPECT_EQ("", pack.strAfterDirs) << "the file must end at the free list";
    return pack;
  }
  std::string Content(const std::string& strName) {
    CTestPack pack = Client();
    const PackEntry* pEntry = pack.FindEntry(strName);
    if (!pEntry) return "<missing>";
    std::string strStored = pack.StoredBytes(*pEntry);
    return pack.header.byCompressed ? Lzma86Decode(strStored, pEntry->dwOrigSize) : strStored;
  }
  bool ClientUnchanged() { return ReadFileBytes(m_dir.Path() / "client.pak") == m_strClientBefore; }
  std::vector<std::string> LooseFiles() {
    std::vector<std::string> vecFiles;
    for (const auto& item : fs::recursive_directory_iterator(m_dir.Path() / "work")) {
      vecFiles.push_back(fs::relative(item.path(), m_dir.Path() / "work").generic_u8string());
    }
    std::sort(vecFiles.begin(), vecFiles.end());
    return vecFiles;
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  std::string m_strClientBefore;
  std::string m_strRefusal;  // of the last merge
};

// A client "res" with res\ui\a.txt (8 bytes), res\ui\b.txt (4 bytes) and a
// 6-byte hole between them.
CTestPack SampleClient() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "AAAAAAAA", "tag-a");
  pack.AddHole(6);
  pack.AddEntry("res\\ui\\b.txt", "BBBB", "tag-b");
  pack.AddTreeForEntries();
  return pack;
}

TEST_F(MergeTest, EqualTagsWriteNothing) {
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", "AAAA", "same");
  client.AddEntry("res\\ui\\z.txt", "ZZZZ");  // all-zero tag
  client.AddTreeForEntries();
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "xxxxxxxxxx", "same");
  update.AddEntry("res\\ui\\z.txt", "yy");
  EXPECT_EQ(1, Merge(client, update));
  EXPECT_TRUE(ClientUnchanged());
}

TEST_F(MergeTest, SmallerContentIsWrittenInPlaceAndFreesTheTail) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "tag-a2");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  const PackEntry& entry = *client.FindEntry("res\\ui\\a.txt");
  EXPECT_EQ(60u, entry.dwOffset);
  EXPECT_EQ(3u, entry.dwOrigSize);
  EXPECT_EQ(3u, entry.dwStoredSize);
  EXPECT_EQ("tag-a2", FieldString(entry.szTag, kPackTagSize));
  EXPECT_EQ("new", Content("res\\ui\\a.txt"));
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{68, 6}, {63, 5}}), FreeList(client));
  EXPECT_EQ(60u + 18, client.header.dwIndexOffset);
}

TEST_F(MergeTest, EqualSizeIsWrittenInPlaceWithoutABlock) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\b.txt", "bbbb", "tag-b2");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(74u, client.FindEntry("res\\ui\\b.txt")->dwOffset);
  EXPECT_EQ("bbbb", Content("res\\ui\\b.txt"));
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{68, 6}}), FreeList(client));
}

TEST_F(MergeTest, LargerContentMovesToTheFirstBlockThatHoldsIt) {
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", "AAAA", "t1");
  client.AddHole(3);  // too small
  client.AddHole(9);  // holds 5 bytes
  client.AddTreeForEntries();
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "55555", "t2");
  ASSERT_EQ(1, Merge(client, update));
  CTestPack merged = Client();
  EXPECT_EQ(67u, merged.FindEntry("res\\ui\\a.txt")->dwOffset);
  EXPECT_EQ("55555", Content("res\\ui\\a.txt"));
  // The rest of the block stays in place; the old slot comes last.
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{64, 3}, {72, 4}, {60, 4}}), FreeList(merged));
}

TEST_F(MergeTest, LargerContentWithoutABlockIsAppended) {
  const std::string strBig(20, 'L');
  CTestPack update("res");
  update.AddEntry("res\\ui\\b.txt", strBig, "tag-b2");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(78u, client.FindEntry("res\\ui\\b.txt")->dwOffset);
  EXPECT_EQ(98u, client.header.dwIndexOffset);
  EXPECT_EQ(strBig, Content("res\\ui\\b.txt"));
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{68, 6}, {74, 4}}), FreeList(client));
}

TEST_F(MergeTest, AnExactFitRemovesTheBlock) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\b.txt", "666666", "tag-b2");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(62u + 6, client.FindEntry("res\\ui\\b.txt")->dwOffset);
  EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{74, 4}}), FreeList(client));
}

TEST_F(MergeTest, NewEntriesJoinAnExistingFirstDirectory) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\0first.txt", "0", "n1");  // sorts before every loaded name
  update.AddEntry("res\\ui\\deep\\c.txt", "ccc", "n2");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(4, client.header.nEntryCount);
  EXPECT_EQ(
      (std::vector<std::string>{"res\\ui\\a.txt", "res\\ui\\b.txt", "res\\ui\\0first.txt", "res\\ui\\deep\\c.txt"}),
      IndexNames(client));
  EXPECT_EQ("0", Content("res\\ui\\0first.txt"));
  EXPECT_EQ("ccc", Content("res\\ui\\deep\\c.txt"));
  EXPECT_EQ(std::vector<std::string>{}, LooseFiles());

  CPackFile reopened;
  ASSERT_TRUE(reopened.Open(m_dir.ProgramPath("client.pak")));
  EXPECT_EQ("res\\ui\\0first.txt", reopened.GetEntryMap()->begin()->first);
  const auto& ui = reopened.GetDirMap().at("res\\ui");
  ASSERT_EQ(4u, ui.size());
  EXPECT_EQ("res\\ui\\0first.txt", FieldString(ui[2].szFullPath, kPackNameSize));
  EXPECT_EQ(kPackDirKindDir, ui[3].nKind);
  EXPECT_EQ("res\\ui\\deep", FieldString(ui[3].szFullPath, kPackNameSize));
  EXPECT_EQ(1u, reopened.GetDirMap().at("res\\ui\\deep").size());
}

TEST_F(MergeTest, EntriesOutsideTheTreeBecomeLooseFiles) {
  CTestPack client = SampleClient();
  client.AddDir(kPackDirKindDir, "res\\empty");  // no key after loading
  CTestPack update("res");
  update.AddEntry("res\\top.txt", "top", "n1");
  update.AddEntry("res\\maps\\town\\t.map", "map", "n2");
  update.AddEntry("res\\empty\\e.txt", "e", "n3");
  update.AddEntry("alone", "no directory at all", "n4");
  ASSERT_EQ(1, Merge(client, update));
  EXPECT_EQ((std::vector<std::string>{"empty", "empty/e.txt", "maps", "maps/town", "maps/town/t.map", "top.txt"}),
            LooseFiles());
  EXPECT_EQ("map", ReadFileBytes(m_dir.Path() / "work/maps/town/t.map"));
  EXPECT_EQ(2, Client().header.nEntryCount);
}

TEST_F(MergeTest, CompressedUpdateIsDecodedIntoAPlainClient) {
  const std::string strText(3000, 'q');
  CTestPack update("res", /*bCompressed=*/true);
  update.AddEntry("res\\ui\\a.txt", Lzma86Encode("tiny"), "c1", 4);
  update.AddEntry("res\\ui\\new.txt", Lzma86Encode(strText), "c2", 3000);
  update.AddEntry("res\\loose\\l.txt", Lzma86Encode("loose"), "c3", 5);
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(0, client.header.byCompressed);
  EXPECT_EQ(4u, client.FindEntry("res\\ui\\a.txt")->dwStoredSize);
  EXPECT_EQ("tiny", Content("res\\ui\\a.txt"));
  EXPECT_EQ(3000u, client.FindEntry("res\\ui\\new.txt")->dwStoredSize);
  EXPECT_EQ(strText, Content("res\\ui\\new.txt"));
  EXPECT_EQ("loose", ReadFileBytes(m_dir.Path() / "work/loose/l.txt"));
}

TEST_F(MergeTest, InPlaceOnlyKeepsTheIndexWhereItWas) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "1234", "x");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  CTestPack client = Client();
  EXPECT_EQ(78u, client.header.dwIndexOffset);
}

TEST_F(MergeTest, CompressedClientStaysCompressed) {
  CTestPack client("res", /*bCompressed=*/true);
  client.AddEntry("res\\ui\\a.txt", Lzma86Encode(std::string(500, 'a')), "t1", 500);
  client.AddEntry("res\\ui\\b.txt", Lzma86Encode("b"), "t2", 1);
  client.AddTreeForEntries();
  CTestPack plainUpdate("res");
  plainUpdate.AddEntry("res\\ui\\a.txt", "short", "u1");
  plainUpdate.AddEntry("res\\ui\\c.txt", std::string(700, 'c'), "u2");
  ASSERT_EQ(1, Merge(client, plainUpdate));
  EXPECT_EQ("short", Content("res\\ui\\a.txt"));
  EXPECT_EQ(std::string(700, 'c'), Content("res\\ui\\c.txt"));
  EXPECT_EQ("b", Content("res\\ui\\b.txt"));

  CTestPack packedUpdate("res", /*bCompressed=*/true);
  const std::string strStream = Lzma86Encode(std::string(9000, 'z'));
  packedUpdate.AddEntry("res\\ui\\b.txt", strStream, "u3", 9000);
  packedUpdate.WriteTo(m_dir.Path() / "update.pak");
  ASSERT_EQ(1, MergeFiles());
  CTestPack merged = Client();
  EXPECT_EQ(1, merged.header.byCompressed);
  EXPECT_EQ(strStream, merged.StoredBytes(*merged.FindEntry("res\\ui\\b.txt")));  // copied as it was
  EXPECT_EQ(std::string(9000, 'z'), Content("res\\ui\\b.txt"));
}

TEST_F(MergeTest, DuplicateNamesInTheClientDoNotLeaveAStaleTail) {
  CTestPack client = SampleClient();
  client.AddEntry("res\\ui\\a.txt", "dup");
  CTestPack update("res");
  update.AddEntry("res\\ui\\b.txt", "bbbb", "new");
  ASSERT_EQ(1, Merge(client, update));
  CTestPack merged = Client();
  EXPECT_EQ(2, merged.header.nEntryCount);
  EXPECT_EQ(2u, merged.vecEntries.size());
}

// ---- packs a merge refuses ----------------------------------------------

TEST_F(MergeTest, MissingClientWritesNothing) {
  CTestPack update("res");
  update.AddEntry("res\\loose\\x.txt", "x", "t");
  update.WriteTo(m_dir.Path() / "update.pak");
  EXPECT_EQ(0, MergeFiles());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak"));
  EXPECT_TRUE(LooseFiles().empty());
}

TEST_F(MergeTest, MissingUpdateFails) {
  SampleClient().WriteTo(m_dir.Path() / "client.pak");
  EXPECT_EQ(0, MergeFiles());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(MergeTest, ClientThatOpensOnlyInPartIsNotSaved) {
  CTestPack client = SampleClient();
  client.AddHole(2);
  client.bKeepHeader = true;
  client.header.dwIndexOffset = 60 + 20;
  client.header.nEntryCount = 2;
  client.header.nFreeBlockCount = 50;  // reaches past the start of the file
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "x");
  update.AddEntry("res\\loose\\x.txt", "x", "t");
  EXPECT_EQ(0, Merge(client, update));
  EXPECT_TRUE(ClientUnchanged());
  EXPECT_TRUE(LooseFiles().empty());
}

TEST_F(MergeTest, ClientWithOverlappingBlobsIsRefused) {
  CTestPack client = SampleClient();
  client.vecEntries[1].dwOffset = 62;  // inside a.txt
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "x");
  EXPECT_EQ(0, Merge(client, update));
  EXPECT_TRUE(ClientUnchanged());
}

TEST_F(MergeTest, HostileUpdatesWriteNothing) {
  struct Case {
    const char* pszWhat;
    std::string strName;
    bool bBadOffset;
  };
  const Case cases[] = {
      {"parent component", "res\\..\\..\\evil.txt", false},
      {"dot component", "res\\.\\x.txt", false},
      {"empty component", "res\\\\x.txt", false},
      {"trailing separator", "res\\dir\\", false},
      {"drive colon", "res\\c:\\x.txt", false},
      {"forward slash", "res\\a/../../x.txt", false},
      {"control byte", std::string("res\\a\x01.txt"), false},
      {"trailing dot", "res\\dir.\\x.txt", false},
      {"device name", "res\\dir\\con.txt", false},
      {"blob past the data area", "res\\ui\\c.txt", true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.pszWhat);
    CTestPack update("res");
    update.AddEntry("res\\ui\\a.txt", "changed", "x");  // merged if the check were missing
    update.AddEntry("res\\loose\\ok.txt", "ok", "y");
    PackEntry& entry = update.AddEntry(test.strName, "evil", "z");
    if (test.bBadOffset) entry.dwOffset = 70;
    EXPECT_EQ(0, Merge(SampleClient(), update));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    EXPECT_TRUE(ClientUnchanged());
    EXPECT_TRUE(LooseFiles().empty());
    EXPECT_FALSE(fs::exists(m_dir.Path() / "evil.txt"));
  }
}

// A refused merge says which entry broke which rule; a merge that works
// says nothing.
TEST_F(MergeTest, RefusalsNameTheEntryAndTheRule) {
  struct Case {
    const char* pszWhat;
    std::string strName;
    std::string strReason;
  };
  const Case cases[] = {
      {"unsafe name", "res\\..\\evil.txt", "\"res\\..\\evil.txt\" has a name that is not safe on disk"},
      {"blob outside the data area", "res\\ui\\far.txt", "\"res\\ui\\far.txt\" lies outside the update's data area"},
      {"loose file on the client", "res\\client.pak", "\"res\\client.pak\" would be a loose file written over"},
      {"entry below a file", "res\\ui\\a.txt\\x", "\"res\\ui\\a.txt\\x\" would lie below the file \"res\\ui\\a.txt\""},
      {"entry named like a directory", "res\\ui\\n", "new entry \"res\\ui\\n\" has the name of a directory"},
  };
  fs::current_path(m_dir.Path());  // where the client lies: a loose client.pak would land on it
  for (const Case& test : cases) {
    SCOPED_TRACE(test.pszWhat);
    CTestPack update("res");
    PackEntry& entry = update.AddEntry(test.strName, "evil", "z");
    if (test.strName == "res\\ui\\far.txt") entry.dwOffset = 70;
    if (test.strName == "res\\ui\\n") update.AddEntry("res\\ui\\n\\x", "below it", "z");
    EXPECT_EQ(0, Merge(SampleClient(), update));
    EXPECT_NE(std::string::npos, m_strRefusal.find(test.strReason)) << m_strRefusal;
    EXPECT_TRUE(ClientUnchanged());
  }

  CTestPack client = SampleClient();
  client.vecEntries[1].dwOffset = 62;  // inside a.txt
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "x");
  EXPECT_EQ(0, Merge(client, update));
  EXPECT_EQ("the client pack is damaged: entry \"res\\ui\\a.txt\" overlaps entry \"res\\ui\\b.txt\"", m_strRefusal);

  std::string strBroken = Lzma86Encode(std::string(400, 'k'));
  strBroken.resize(strBroken.size() / 2);
  CTestPack broken("res", /*bCompressed=*/true);
  broken.AddEntry("res\\ui\\b.txt", strBroken, "u2", 400);
  EXPECT_EQ(0, Merge(SampleClient(), broken));
  EXPECT_EQ("entry \"res\\ui\\b.txt\" of the update does not decode", m_strRefusal);

  CTestPack good("res");
  good.AddEntry("res\\ui\\a.txt", "new", "x");
  EXPECT_EQ(1, Merge(SampleClient(), good));
  EXPECT_EQ("", m_strRefusal);
}

TEST_F(MergeTest, LooseFileOntoEitherPackIsRefused) {
  // The client pack lies in the starting directory, so a loose file of its
  // name (any letter case) would be written over the pack being merged.
  fs::current_path(m_dir.Path());
  for (const char* pszName : {"x\\CLIENT.pak", "x\\update.pak", "x\\sub\\..\\client.pak"}) {
    SCOPED_TRACE(pszName);
    CTestPack update("x");
    update.AddEntry(pszName, "evil", "z");
    EXPECT_EQ(0, Merge(SampleClient(), update));
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_TRUE(ClientUnchanged());
  }
}

TEST_F(MergeTest, CorruptStreamRollsTheWholeMergeBack) {
  std::string strBroken = Lzma86Encode(std::string(400, 'k'));
  strBroken.resize(strBroken.size() / 2);
  CTestPack update("res", /*bCompressed=*/true);
  update.AddEntry("res\\ui\\a.txt", Lzma86Encode("first"), "u1", 5);  // in place, before the bad one
  update.AddEntry("res\\ui\\b.txt", strBroken, "u2", 400);
  update.AddEntry("res\\ui\\c.txt", Lzma86Encode("never"), "u3", 5);
  EXPECT_EQ(0, Merge(SampleClient(), update));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_TRUE(ClientUnchanged());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal.new"));
}

// Loose files join the merge's commit: a merge that fails after it wrote
// some takes them back, and a player's own file of a loose file's name
// keeps its bytes.
TEST_F(MergeTest, ADamagedEntryAfterLooseFilesLeavesEverythingOld) {
  fs::create_directory(m_dir.Path() / "work/loose");
  WriteFileBytes(m_dir.Path() / "work/loose/x.txt", "the player's own x");
  std::string strBroken = Lzma86Encode(std::string(400, 'k'));
  strBroken.resize(strBroken.size() / 2);
  CTestPack update("res", /*bCompressed=*/true);
  update.AddEntry("res\\loose\\new.txt", Lzma86Encode("new loose"), "u0", 9);
  update.AddEntry("res\\loose\\x.txt", Lzma86Encode("x of the update"), "u1", 15);
  update.AddEntry("res\\maps\\deep\\m.txt", Lzma86Encode("m"), "u2", 1);
  update.AddEntry("res\\ui\\b.txt", strBroken, "u3", 400);
  EXPECT_EQ(0, Merge(SampleClient(), update));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_TRUE(ClientUnchanged());
  EXPECT_EQ((std::vector<std::string>{"loose", "loose/x.txt"}), LooseFiles());
  EXPECT_EQ("the player's own x", ReadFileBytes(m_dir.Path() / "work/loose/x.txt"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
}

// An update never writes the updater's own files, which lie where loose
// files go (the tool's directory): the installed version, the programs of
// the updater and the client, the client's record of loose files. It is
// refused, naming the entry, before anything is written.
TEST_F(MergeTest, LooseFilesOntoTheUpdatersOwnFilesAreRefused) {
  fs::current_path(m_dir.Path());
  WriteFileBytes(m_dir.Path() / "version.ver", "1.01");
  for (const char* pszName :
       {"res\\version.ver", "res\\VERSION.VER.tmp", "res\\Patchloom.exe", "res\\patchloom", "res\\Veshmarkland.EXE",
        "res\\grumvel.exe", "res\\client.pak.loose", "res\\client.pak.LOOSE.~partial"}) {
    SCOPED_TRACE(pszName);
    CTestPack update("res");
    update.AddEntry("res\\ui\\a.txt", "new", "u1");
    update.AddEntry(pszName, "not the updater's", "z");
    EXPECT_EQ(0, Merge(SampleClient(), update));
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_NE(std::string::npos, m_strRefusal.find(pszName)) << m_strRefusal;
    EXPECT_TRUE(ClientUnchanged());
    EXPECT_EQ("1.01", ReadFileBytes(m_dir.Path() / "version.ver"));
    std::vector<std::string> vecFiles;
    for (const auto& item : fs::directory_iterator(m_dir.Path())) vecFiles.push_back(item.path().filename().u8string());
    std::sort(vecFiles.begin(), vecFiles.end());
    EXPECT_EQ((std::vector<std::string>{"client.pak", "update.pak", "version.ver", "work"}), vecFiles);
  }
  // Below a directory of its own, a file of such a name is the game's.
  CTestPack update("res");
  update.AddEntry("res\\sounds\\version.ver", "the sounds' version", "z");
  EXPECT_EQ(1, Merge(SampleClient(), update));
  EXPECT_EQ("the sounds' version", ReadFileBytes(m_dir.Path() / "sounds/version.ver"));
}

// MergeFrom has no journal and no commit: its loose files go into place
// as soon as all are written.
TEST_F(MergeTest, MergeFromPutsItsLooseFilesInPlace) {
  SampleClient().WriteTo(m_dir.Path() / "client.pak");
  CTestPack update("res");
  update.AddEntry("res\\loose\\x.txt", "loose x", "u1");
  update.WriteTo(m_dir.Path() / "update.pak");
  CPackFile client;
  CPackFile source;
  ASSERT_TRUE(client.Open(m_dir.ProgramPath("client.pak")));
  ASSERT_TRUE(source.OpenForReading(m_dir.ProgramPath("update.pak")));
  EXPECT_TRUE(client.MergeFrom(&source));
  EXPECT_TRUE(client.SaveIndex(nullptr));
  EXPECT_EQ((std::vector<std::string>{"loose", "loose/x.txt"}), LooseFiles());
  EXPECT_EQ("loose x", ReadFileBytes(m_dir.Path() / "work/loose/x.txt"));
}

TEST_F(MergeTest, LooseFileThatCannotBeWrittenRollsTheMergeBack) {
  WriteFileBytes(m_dir.Path() / "work/maps", "a file where a directory should be");
  CTestPack update("res");
  update.AddEntry("res\\loose\\early.txt", "early", "u0");  // staged before the failure, then taken back
  update.AddEntry("res\\maps\\m.txt", "m", "u1");
  update.AddEntry("res\\ui\\b.txt", "bbbb", "u2");
  EXPECT_EQ(0, Merge(SampleClient(), update));
  EXPECT_TRUE(ClientUnchanged());
  EXPECT_EQ(std::vector<std::string>{"maps"}, LooseFiles());
}

TEST_F(MergeTest, NewEntryThatClashesWithAFileOrADirectoryIsRefused) {
  // A file of the client as a directory, a directory as a file, and two
  // new entries that would be a file and a directory of the same name.
  for (const std::vector<std::string>& vecNames :
       {std::vector<std::string>{"res\\ui\\a.txt\\x.txt"}, std::vector<std::string>{"res\\ui\\deep"},
        std::vector<std::string>{"res\\ui\\n", "res\\ui\\n\\m.txt"}}) {
    SCOPED_TRACE(vecNames.back());
    CTestPack client("res");
    client.AddEntry("res\\ui\\a.txt", "AAAAAAAA", "tag-a");
    client.AddEntry("res\\ui\\deep\\d.txt", "d", "d");
    client.AddTreeForEntries();
    CTestPack update("res");
    for (const std::string& strName : vecNames) update.AddEntry(strName, "new", "n");
    EXPECT_EQ(0, Merge(client, update));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    EXPECT_TRUE(ClientUnchanged());
  }
}

TEST_F(MergeTest, EntryClaimingGigabytesFailsWithoutAllocatingThem) {
  CTestPack update("res", /*bCompressed=*/true);
  update.AddEntry("res\\ui\\a.txt", Lzma86Encode("tiny"), "u1", 3000000000u);  // appended, far past any stream
  EXPECT_EQ(0, Merge(SampleClient(), update));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  EXPECT_TRUE(ClientUnchanged());
}

// ---- the undo journal ---------------------------------------------------

TEST_F(MergeTest, LooseFilesReplaceOldOnesWithoutLeavingTemporaryFiles) {
  fs::create_directory(m_dir.Path() / "work/maps");
  WriteFileBytes(m_dir.Path() / "work/maps/m.txt", "old loose content, longer than the new");
  CTestPack update("res");
  update.AddEntry("res\\maps\\m.txt", "new", "u1");
  ASSERT_EQ(1, Merge(SampleClient(), update));
  EXPECT_EQ("new", ReadFileBytes(m_dir.Path() / "work/maps/m.txt"));
  EXPECT_EQ((std::vector<std::string>{"maps", "maps/m.txt"}), LooseFiles());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
}

TEST_F(MergeTest, ReadOnlyUpdateMergesAndReadOnlyClientIsLeftAlone) {
  CTestPack update("res");
  update.AddEntry("res\\ui\\a.txt", "new", "x");
  update.AddEntry("res\\loose\\x.txt", "x", "t");
  SampleClient().WriteTo(m_dir.Path() / "client.pak");
  update.WriteTo(m_dir.Path() / "update.pak");
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions(m_dir.Path() / "update.pak", readOnly);
  EXPECT_EQ(1, MergeFiles());
  EXPECT_EQ("new", Content("res\\ui\\a.txt"));

  // A client that was only read cannot take a merge: nothing is written.
  CPackFile client;
  CPackFile source;
  m_strClientBefore = ReadFileBytes(m_dir.Path() / "client.pak");
  fs::permissions(m_dir.Path() / "client.pak", readOnly);
  ASSERT_TRUE(client.OpenForReading(m_dir.ProgramPath("client.pak")));
  ASSERT_TRUE(source.OpenForReading(m_dir.ProgramPath("update.pak")));
  EXPECT_FALSE(client.MergeFrom(&source));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  client.Close();
  source.Close();
  EXPECT_EQ(0, MergeFiles());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  fs::permissions(m_dir.Path() / "client.pak", readOnly | fs::perms::owner_write);
  EXPECT_TRUE(ClientUnchanged());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
}

TEST_F(MergeTest, LooseFileOntoAJournalIsRefused) {
  // A loose file named like the client's journal would be applied to the
  // client by its next open.
  fs::current_path(m_dir.Path());
  for (const char* pszName : {"x\\client.pak.journal", "x\\CLIENT.PAK.JOURNAL.NEW", "x\\update.pak.journal"}) {
    SCOPED_TRACE(pszName);
    CTestPack update("x");
    update.AddEntry(pszName, "forged", "z");
    EXPECT_EQ(0, Merge(SampleClient(), update));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_TRUE(ClientUnchanged());
    EXPECT_FALSE(fs::exists(m_dir.Path() / "client.pak.journal"));
  }
}

}  // namespace
