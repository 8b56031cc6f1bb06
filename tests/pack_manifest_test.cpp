// Releases as data: the canonical text and digest statements sign, one
// digest for a release whatever holds it (a tree, a list, a plain or
// compressed pack, tags or none), and the release a client holds with the
// loose files its record lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/pack_writer.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packmanifest.h"

namespace fs = std::filesystem;

namespace {

CContentTag TagOf(const std::string& strBytes) {
  CContentTag tag = {};
  EXPECT_TRUE(MakeContentTag(strBytes.data(), strBytes.size(), tag.szTag));
  tag.dwSize = static_cast<uint32_t>(strBytes.size());
  return tag;
}

std::string Digest(const ContentTagMap& mapRelease) {
  std::string strDigest;
  EXPECT_TRUE(ReleaseDigest(mapRelease, strDigest));
  return strDigest;
}

TEST(ReleaseTextTest, CanonicalTextAndDigest) {
  // Worked out by hand: these bytes are what publishers sign, so they must
  // never change by accident.
  ContentTagMap mapRelease;
  mapRelease["res\\ui\\a b.txt"] = TagOf("alpha");
  mapRelease["res\\ui\\100%.txt"] = TagOf("");
  EXPECT_EQ(
      "patchloom-release 1\n"
      "d41d8cd98f00b204e9800998ecf8427e 0 res\\ui\\100%25.txt\n"
      "2c1743a391305fbf367df8e4f069f9f9 5 res\\ui\\a b.txt\n",
      ReleaseText(mapRelease));
  EXPECT_EQ("e259d98bf189472a039d6c3143bed103fdafc9bbd3910797d42fbcb8282c3bd7", Digest(mapRelease));
  EXPECT_TRUE(IsReleaseDigest(Digest(mapRelease)));
  EXPECT_FALSE(IsReleaseDigest("E259" + Digest(mapRelease).substr(4)));
}

TEST(ReleaseTextTest, NameTextHasOneSpellingPerName) {
  const std::string strOdd = std::string("res\\a%b\x01\x7F") + "\xB5\xD8 \x5C" + "c";
  const std::string strText = EncodeNameText(strOdd);
  EXPECT_EQ(std::string("res\\a%25b%01%7F") + "\xB5\xD8 \x5C" + "c", strText);
  EXPECT_EQ(std::string::npos, strText.find('\n'));
  std::string strBack;
  ASSERT_TRUE(DecodeNameText(strText, strBack));
  EXPECT_EQ(strOdd, strBack);
  for (const char* pszBad : {"a%0a", "a%41", "a%4", "a%", "a\x01", "a%zz"}) {
    EXPECT_FALSE(DecodeNameText(pszBad, strBack)) << pszBad;
  }
}

class ReleaseFormsTest : public ::testing::Test {
 protected:
  ReleaseFormsTest() {
    m_files = NextRelease(FirstRelease(7), 8);
    WriteRelease(m_files, m_dir.Path() / "tree" / "res");
  }

  // The manifest of a pack built from the tree, or of the tree itself.
  ContentTagMap Built(bool bCompress, bool bTags, bool bTrust) {
    CCurrentDirGuard guard;
    const std::string strRoot = m_dir.ProgramPath("tree/res");
    CPackFile tree;
    tree.SetContentTags(bTags);
    tree.SetRootPath(strRoot.c_str());
    tree.CollectFiles(strRoot.c_str());
    EXPECT_TRUE(tree.CreatePack(strRoot.c_str(), m_dir.ProgramPath().c_str(), bCompress, nullptr, "built", false));
    CPackFile pack;
    EXPECT_TRUE(pack.Open(m_dir.ProgramPath("built.pak")));
    ContentTagMap mapRelease;
    std::string strFailed;
    EXPECT_TRUE(pack.ReleaseManifest(bTrust, mapRelease, strFailed)) << strFailed;
    return mapRelease;
  }
  ContentTagMap Tree() {
    CCurrentDirGuard guard;
    const std::string strRoot = m_dir.ProgramPath("tree/res");
    CPackFile tree;
    tree.SetRootPath(strRoot.c_str());
    tree.CollectFiles(strRoot.c_str());
    ContentTagMap mapRelease;
    std::string strFailed;
    EXPECT_TRUE(tree.ReleaseManifest(false, mapRelease, strFailed)) << strFailed;
    return mapRelease;
  }

  CTempDir m_dir;
  ReleaseFiles m_files;
};

TEST_F(ReleaseFormsTest, OneReleaseOneDigestWhateverHoldsIt) {
  const ContentTagMap mapTree = Tree();
  ASSERT_EQ(m_files.size(), mapTree.size());
  for (const auto& item : m_files) {
    const CContentTag expected = TagOf(item.second);
    const CContentTag& got = mapTree.at(EntryNameOf("res", item.first));
    EXPECT_EQ(std::string(expected.szTag, kPackTagSize), std::string(got.szTag, kPackTagSize)) << item.first;
    EXPECT_EQ(expected.dwSize, got.dwSize) << item.first;
  }
  const std::string strDigest = Digest(mapTree);
  EXPECT_EQ(strDigest, Digest(Built(false, true, true)));   // the index alone
  EXPECT_EQ(strDigest, Digest(Built(false, false, true)));  // no tags to trust: read
  EXPECT_EQ(strDigest, Digest(Built(true, false, false)));  // decoded
  EXPECT_EQ(strDigest, Digest(Built(true, true, true)));

  // One byte, or one name, makes another release.
  ReleaseFiles changed = m_files;
  changed.begin()->second += "x";
  WriteRelease(changed, m_dir.Path() / "tree" / "res");
  EXPECT_NE(strDigest, Digest(Tree()));
  WriteRelease(m_files, m_dir.Path() / "tree" / "res");
  fs::rename(m_dir.Path() / "tree" / "res" / "readme.txt", m_dir.Path() / "tree" / "res" / "readme2.txt");
  EXPECT_NE(strDigest, Digest(Tree()));
}

// A client that got an entry as a loose file and one that holds it in its
// pack hold the same release; a recorded loose file that is gone is not
// part of it, and a record that cannot be read fails the read.
TEST(ClientReleaseTest, RecordedLooseFilesArePartOfTheRelease) {
  CTempDir dir;
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", "alpha");
  client.AddTreeForEntries();
  client.WriteTo(dir.Path() / "clientres.pak");
  CTestPack whole("res");
  whole.AddEntry("res\\ui\\a.txt", "alpha");
  whole.AddEntry(Gbk("res\\声音\\b.wav"), "bravo");
  whole.AddTreeForEntries();
  whole.WriteTo(dir.Path() / "whole.pak");

  const std::string strPack = dir.ProgramPath("clientres.pak");
  std::string strFailed;
  ContentTagMap mapWhole;
  ASSERT_TRUE(ReadClientRelease(dir.ProgramPath("whole.pak"), dir.ProgramPath(), {}, mapWhole, strFailed));
  ContentTagMap mapClient;
  ASSERT_TRUE(ReadClientRelease(strPack, dir.ProgramPath(), {}, mapClient, strFailed));
  EXPECT_NE(Digest(mapWhole), Digest(mapClient));

  fs::create_directories(dir.Path() / Utf8Path("声音"));
  WriteFileBytes(dir.Path() / Utf8Path("声音/b.wav"), "bravo");
  ASSERT_TRUE(WriteLooseRecord(strPack, {Gbk("res\\声音\\b.wav")}));
  ASSERT_TRUE(ReadClientRelease(strPack, dir.ProgramPath(), {}, mapClient, strFailed));
  EXPECT_EQ(Digest(mapWhole), Digest(mapClient));
  bool bHolds = false;
  ASSERT_TRUE(CheckClientRelease(strPack, dir.ProgramPath(), Digest(mapWhole), {}, bHolds, strFailed));
  EXPECT_TRUE(bHolds);

  WriteFileBytes(dir.Path() / Utf8Path("声音/b.wav"), "edited by the player");
  ASSERT_TRUE(CheckClientRelease(strPack, dir.ProgramPath(), Digest(mapWhole), {}, bHolds, strFailed));
  EXPECT_FALSE(bHolds);
  fs::remove(dir.Path() / Utf8Path("声音/b.wav"));
  ASSERT_TRUE(ReadClientRelease(strPack, dir.ProgramPath(), {}, mapClient, strFailed));
  EXPECT_EQ(1u, mapClient.size());

  // A record that is not ours in its form, or names a file outside the
  // client, is damage: it would name files to delete.
  const std::string strRecord = ReadFileBytes(dir.Path() / "clientres.pak.loose");
  for (const std::string& strDamaged : {strRecord + strRecord.substr(strRecord.find('\n') + 1),
                                        std::string("patchloom-loose-files 1\nres\\..\\..\\x.txt\n")}) {
    WriteFileBytes(dir.Path() / "clientres.pak.loose", strDamaged);
    EXPECT_FALSE(ReadClientRelease(strPack, dir.ProgramPath(), {}, mapClient, strFailed)) << strDamaged;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
  }
  ASSERT_TRUE(WriteLooseRecord(strPack, {}));
  EXPECT_FALSE(fs::exists(dir.Path() / "clientres.pak.loose"));
}

// A tag that lies is believed when the index is trusted, and found out when
// the entry is read again: what a check after a merge does for the
// entries the merge wrote.
TEST(ClientReleaseTest, RehashedEntriesAreReadNotTrusted) {
  CTempDir dir;
  CTestPack client("res");
  client.AddEntry("res\\ui\\a.txt", "alpha", std::string(TagOf("alpha").szTag, kPackTagSize));
  client.AddEntry("res\\ui\\b.txt", "bravo", std::string(TagOf("other").szTag, kPackTagSize));
  client.AddTreeForEntries();
  client.WriteTo(dir.Path() / "clientres.pak");
  ContentTagMap mapTrusted;
  ContentTagMap mapRead;
  std::string strFailed;
  const std::string strPack = dir.ProgramPath("clientres.pak");
  ASSERT_TRUE(ReadClientRelease(strPack, dir.ProgramPath(), {}, mapTrusted, strFailed));
  ASSERT_TRUE(ReadClientRelease(strPack, dir.ProgramPath(), {"res\\ui\\b.txt"}, mapRead, strFailed));
  EXPECT_EQ(std::string(TagOf("other").szTag, kPackTagSize), std::string(mapTrusted["res\\ui\\b.txt"].szTag, 32));
  EXPECT_EQ(std::string(TagOf("bravo").szTag, kPackTagSize), std::string(mapRead["res\\ui\\b.txt"].szTag, 32));
}

}  // namespace
