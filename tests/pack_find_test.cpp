// Listing a pack directory with FindFirst / FindNext: the four patterns,
// what each hands back, and the state an enumeration keeps between calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

// "kind:path" of a result, "null" for none.
std::string Show(const PackDirRecord* pRecord) {
  if (!pRecord) return "null";
  return std::to_string(pRecord->nKind) + ":" + FieldString(pRecord->szFullPath, kPackNameSize);
}

// FindFirst and every FindNext up to the first null.
std::vector<std::string> ListAll(CPackFile& pack, const char* pszDir, const char* pszPattern) {
  std::vector<std::string> vecOut;
  for (PackDirRecord* p = pack.FindFirst(pszDir, pszPattern); p; p = pack.FindNext()) vecOut.push_back(Show(p));
  return vecOut;
}

class PackFindTest : public ::testing::Test {
 protected:
  // A pack "data" whose directory ui holds the given records, in order.
  void OpenWith(const std::vector<std::pair<int32_t, std::string>>& vecChildren) {
    m_pack.Close();  // the file is rewritten below
    CTestPack pack("data");
    pack.AddDir(kPackDirKindDir, "data\\ui");
    for (const auto& [nKind, strName] : vecChildren) pack.AddDir(nKind, "data\\ui\\" + strName);
    pack.WriteTo(m_dir.Path() / "find.pak");
    ASSERT_TRUE(m_pack.Open(m_dir.ProgramPath("find.pak")));
  }
  void OpenSample() { OpenWith({{1, "img"}, {0, "a.png"}, {0, "readme.txt"}}); }

  CTempDir m_dir;
  CPackFile m_pack;
};

TEST_F(PackFindTest, EachPatternListsItsKindOfRecord) {
  OpenSample();
  EXPECT_EQ((std::vector<std::string>{"0:a.png", "0:readme.txt"}), ListAll(m_pack, "ui", "*.*"));
  EXPECT_EQ((std::vector<std::string>{"1:data\\ui\\img", "0:data\\ui\\a.png", "0:data\\ui\\readme.txt"}),
            ListAll(m_pack, "ui", "*"));
  EXPECT_EQ((std::vector<std::string>{"1:data\\ui\\img"}), ListAll(m_pack, "ui", "."));
  EXPECT_EQ((std::vector<std::string>{"0:readme.txt"}), ListAll(m_pack, "ui", "*.txt"));
  EXPECT_EQ(std::vector<std::string>{}, ListAll(m_pack, "ui", "*.jpg"));
  // The first character is dropped whatever it is, so ".txt" means "txt".
  EXPECT_EQ(std::vector<std::string>{}, ListAll(m_pack, "ui", ".txt"));
  EXPECT_EQ("null", Show(m_pack.FindNext())) << "an ended enumeration stays ended";
}

TEST_F(PackFindTest, ANameResultLeavesNoBytesOfTheLongerNameBefore) {
  OpenWith({{0, "readme.txt"}, {0, "a.png"}});
  ASSERT_EQ("0:readme.txt", Show(m_pack.FindFirst("ui", "*.*")));
  PackDirRecord* pRecord = m_pack.FindNext();
  ASSERT_NE(nullptr, pRecord);
  char szExpected[kPackNameSize] = "a.png";
  EXPECT_EQ(0, std::memcmp(szExpected, pRecord->szFullPath, kPackNameSize));
}

TEST_F(PackFindTest, ExtensionPatternsAndTheMultiDotDifference) {
  OpenWith({{0, "a.html"}, {0, "b.txt"}, {0, "noext"}, {0, "c.html"}, {0, "d.b.txt"}, {0, "e.txt"}});
  ASSERT_EQ("0:a.html", Show(m_pack.FindFirst("ui", "*.html")));
  // A shorter pattern replaces the longer filter entirely.
  EXPECT_EQ((std::vector<std::string>{"0:b.txt", "0:e.txt"}), ListAll(m_pack, "ui", "*.txt"))
      << "d.b.txt is compared from its first dot by FindNext";

  OpenWith({{0, "d.b.txt"}, {0, "e.txt"}});
  EXPECT_EQ((std::vector<std::string>{"0:d.b.txt", "0:e.txt"}), ListAll(m_pack, "ui", "*.txt"))
      << "as the first file of its extension FindFirst files it by its last dot";
}

TEST_F(PackFindTest, AMissingDirectoryLeavesTheRunningEnumerationAlone) {
  OpenSample();
  EXPECT_EQ("null", Show(m_pack.FindNext())) << "before any FindFirst";
  ASSERT_EQ("0:a.png", Show(m_pack.FindFirst("ui", "*.*")));
  EXPECT_EQ("null", Show(m_pack.FindFirst("nothing", "*")));
  EXPECT_EQ("null", Show(m_pack.FindFirst("\\ui", "*"))) << "paths are used as given";
  EXPECT_EQ("0:readme.txt", Show(m_pack.FindNext()));
  EXPECT_EQ("null", Show(m_pack.FindNext()));
}

TEST_F(PackFindTest, TheEnumerationWalksACopyOfTheDirectory) {
  OpenSample();
  ASSERT_EQ("0:a.png", Show(m_pack.FindFirst("ui", "*.*")));
  m_pack.AddPathToTree("data\\ui\\later.txt", nullptr);
  EXPECT_EQ("0:readme.txt", Show(m_pack.FindNext()));
  EXPECT_EQ("null", Show(m_pack.FindNext()));
  EXPECT_EQ((std::vector<std::string>{"0:readme.txt", "0:later.txt"}), ListAll(m_pack, "ui", "*.txt"));
}

TEST_F(PackFindTest, OverlongPatternsAndPathsFindNothing) {
  OpenWith({{0, "a." + std::string(30, 'x')}, {0, "b.txt"}, {0, "c.txt"}});
  // 32 characters fit the filter: an asterisk, a dot and 30 more.
  const std::string strLongest = "*." + std::string(30, 'x');
  EXPECT_EQ("0:a." + std::string(30, 'x'), Show(m_pack.FindFirst("ui", strLongest.c_str())));
  ASSERT_EQ("0:b.txt", Show(m_pack.FindFirst("ui", "*.txt")));
  const std::string strTooLong = strLongest + "x";
  EXPECT_EQ("null", Show(m_pack.FindFirst("ui", strTooLong.c_str())));
  const std::string strLongPath(300, 'u');
  EXPECT_EQ("null", Show(m_pack.FindFirst(strLongPath.c_str(), "*")));
  EXPECT_EQ("0:c.txt", Show(m_pack.FindNext())) << "the running enumeration is left intact";
}

}  // namespace
