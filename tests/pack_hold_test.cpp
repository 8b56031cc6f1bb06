// An update held from its check to its merge: the bytes read while held are
// the file's, no writer gets in, and a pack moved over its name afterwards
// is not what gets merged.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/scoped_handle.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

CTestPack Client() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "old", "t1");
  pack.AddTreeForEntries();
  return pack;
}

CTestPack Update(const std::string& strContent) {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", strContent, "t-" + strContent);
  return pack;
}

class HoldTest : public ::testing::Test {
 protected:
  HoldTest() {
    Client().WriteTo(m_dir.Path() / "client.pak");
    Update("checked").WriteTo(m_dir.Path() / "update.pak");
    Update("swapped in").WriteTo(m_dir.Path() / "other.pak");
    fs::current_path(m_dir.Path());
  }
  std::string ClientEntry() {
    CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "client.pak");
    return client.StoredBytes(*client.FindEntry("res\\ui\\a.txt"));
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  CRealizePack m_realize;
};

TEST_F(HoldTest, HeldBytesAreTheFileAndWritersAreKeptOut) {
  ASSERT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
  std::string strRead;
  ASSERT_TRUE(m_realize.ReadHeldUpdate([&strRead](const unsigned char* pbyData, size_t nSize) {
    strRead.append(reinterpret_cast<const char*>(pbyData), nSize);
    return true;
  }));
  EXPECT_EQ(ReadFileBytes(m_dir.Path() / "update.pak"), strRead);
  EXPECT_FALSE(m_realize.ReadHeldUpdate([](const unsigned char*, size_t) { return false; }));

  CScopedHandle hWriter(CreateFileA(m_dir.ProgramPath("update.pak").c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(hWriter);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

// Windows refuses to move a file over one that is held; where the system
// allows it, the merge still takes the bytes that were held and checked.
TEST_F(HoldTest, APackMovedOverTheNameIsNotMerged) {
  ASSERT_TRUE(m_realize.HoldUpdate(m_dir.ProgramPath("update.pak").c_str()));
  MoveFileExA(m_dir.ProgramPath("other.pak").c_str(), m_dir.ProgramPath("update.pak").c_str(),
              MOVEFILE_REPLACE_EXISTING);
  ASSERT_EQ(1, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("checked", ClientEntry());
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str())) << "nothing is held any more";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(HoldTest, NothingHeldReadsNothing) {
  EXPECT_FALSE(m_realize.ReadHeldUpdate([](const unsigned char*, size_t) { return true; }));
  EXPECT_FALSE(m_realize.HoldUpdate(m_dir.ProgramPath("missing.pak").c_str()));
  EXPECT_EQ(0, m_realize.MergeHeldUpdate(m_dir.ProgramPath("client.pak").c_str()));
  EXPECT_EQ("old", ClientEntry());
}

}  // namespace
