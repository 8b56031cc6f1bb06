// Name folding, character replacement, and the tree grown from paths.
#include <gtest/gtest.h>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

std::vector<std::string> Children(const CPackFile& pack, const std::string& strKey) {
  std::vector<std::string> vecOut;
  auto it = pack.GetDirMap().find(strKey);
  if (it == pack.GetDirMap().end()) return {"<no key>"};
  for (const PackDirRecord& record : it->second) {
    vecOut.push_back(std::to_string(record.nKind) + ":" + FieldString(record.szFullPath, kPackNameSize));
  }
  return vecOut;
}

TEST(MakeLower, FoldsOnlyAsciiCapitalsByteByByte) {
  char szPath[] = "Data\\UI\\Btn.PNG";
  CPackFile::MakeLower(szPath);
  EXPECT_STREQ("data\\ui\\btn.png", szPath);

  // Bytes from 0x80 up stay; a trail byte in 'A'-'Z' after a lead byte is
  // folded as well (0x81 0x41 becomes 0x81 0x61).
  char szMixed[] = "\xB1\xED\x81\x41Z\xFF";
  CPackFile::MakeLower(szMixed);
  EXPECT_EQ(std::string("\xB1\xED\x81\x61z\xFF"), std::string(szMixed));
}

TEST(ReplaceChar, ReplacesEveryOccurrence) {
  std::string str = "a/b/c.txt";
  CPackFile::ReplaceChar(str, '/', '\\');
  EXPECT_EQ("a\\b\\c.txt", str);
  str = "abc";
  CPackFile::ReplaceChar(str, '/', '\\');
  EXPECT_EQ("abc", str);
  CPackFile::ReplaceChar(str, 'b', 'b');  // equal characters return at once
  EXPECT_EQ("abc", str);
  std::string strEmpty;
  CPackFile::ReplaceChar(strEmpty, '/', '\\');
  EXPECT_EQ("", strEmpty);
}

// The tree of an opened pack whose root is "data", grown by AddPathToTree as
// a merge grows it.
class TreeGrowthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTestPack pack("data");
    pack.AddEntry("data\\old.txt", "old");
    pack.AddTreeForEntries();
    pack.WriteTo(m_dir.Path() / "data.pak");
    ASSERT_TRUE(m_pack.Open(m_dir.ProgramPath("data.pak")));
  }

  CTempDir m_dir;
  CPackFile m_pack;
};

TEST_F(TreeGrowthTest, FilesCreateTheirMissingDirectories) {
  EXPECT_EQ(0, m_pack.AddPathToTree("data\\a\\b\\c.txt", nullptr));
  EXPECT_EQ(0, m_pack.AddPathToTree("data\\a\\d.txt", nullptr));
  EXPECT_EQ((std::vector<std::string>{"0:data\\old.txt", "1:data\\a"}), Children(m_pack, "data"));
  EXPECT_EQ((std::vector<std::string>{"1:data\\a\\b", "0:data\\a\\d.txt"}), Children(m_pack, "data\\a"));
  EXPECT_EQ((std::vector<std::string>{"0:data\\a\\b\\c.txt"}), Children(m_pack, "data\\a\\b"));
}

TEST_F(TreeGrowthTest, FileBelowTheRootCreatesNoKey) {
  EXPECT_EQ(0, m_pack.AddPathToTree("data\\x.txt", nullptr));
  EXPECT_EQ(1u, m_pack.GetDirMap().size());
  EXPECT_EQ((std::vector<std::string>{"0:data\\old.txt", "0:data\\x.txt"}), Children(m_pack, "data"));
}

TEST_F(TreeGrowthTest, PathIsTakenFromTheFirstOccurrenceOfTheRoot) {
  EXPECT_EQ(0, m_pack.AddPathToTree("c:\\src\\data\\ui\\img\\a.png", nullptr));
  EXPECT_EQ((std::vector<std::string>{"1:data\\ui\\img"}), Children(m_pack, "data\\ui"));
  EXPECT_EQ((std::vector<std::string>{"0:data\\ui\\img\\a.png"}), Children(m_pack, "data\\ui\\img"));
}

TEST_F(TreeGrowthTest, PathOutsideTheRootChangesNothing) {
  EXPECT_EQ(0, m_pack.AddPathToTree("other\\x.txt", nullptr));
  EXPECT_EQ(1u, m_pack.GetDirMap().size());
  EXPECT_EQ((std::vector<std::string>{"0:data\\old.txt"}), Children(m_pack, "data"));
}

TEST_F(TreeGrowthTest, OverlongPathsAreCutToTheFieldWidth) {
  const std::string strLong = "data\\" + std::string(300, 'x');
  EXPECT_EQ(0, m_pack.AddPathToTree(strLong.c_str(), nullptr));
  const PackDirRecord& record = m_pack.GetDirMap().at("data").back();
  EXPECT_EQ(strLong.substr(0, kPackNameSize), FieldString(record.szFullPath, kPackNameSize));
}

}  // namespace
