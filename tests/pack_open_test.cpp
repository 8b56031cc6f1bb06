// Open and Close of a pack: what is loaded from the file, and which files
// are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packtree.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> EntryNames(CPackFile& pack) {
  std::vector<std::string> vecNames;
  for (const auto& item : *pack.GetEntryMap()) vecNames.push_back(item.first);
  return vecNames;
}

std::vector<std::string> DirKeys(const CPackFile& pack) {
  std::vector<std::string> vecKeys;
  for (const auto& item : pack.GetDirMap()) vecKeys.push_back(item.first);
  return vecKeys;
}

// "kind:path" for each record of a directory, in list order.
std::vector<std::string> Children(const CPackFile& pack, const std::string& strKey) {
  std::vector<std::string> vecOut;
  auto it = pack.GetDirMap().find(strKey);
  if (it == pack.GetDirMap().end()) return {"<no key>"};
  for (const PackDirRecord& record : it->second) {
    vecOut.push_back(std::to_string(record.nKind) + ":" + FieldString(record.szFullPath, kPackNameSize));
  }
  return vecOut;
}

class PackOpenTest : public ::testing::Test {
 protected:
  std::string Write(const CTestPack& pack, const std::string& strName = "test.pak") {
    pack.WriteTo(m_dir.Path() / Utf8Path(strName));
    return m_dir.ProgramPath(strName);
  }

  CTempDir m_dir;
};

TEST_F(PackOpenTest, LoadsHeaderIndexTreeAndFreeList) {
  CTestPack pack("data");
  pack.AddEntry("data\\ui\\b.tga", "BBBB", "tag-b");
  pack.AddHole(10);
  pack.AddEntry("data\\a.txt", "A");
  pack.AddHole(5);
  pack.AddTreeForEntries();
  pack.header.byReserved[1] = 7;

  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  const PackHeader& header = *file.GetHeader();
  EXPECT_EQ(0, std::memcmp(header.szMagic, kPackMagic, kPackMagicSize));
  uint32_t dwVersion;
  std::memcpy(&dwVersion, &header.fVersion, 4);
  EXPECT_EQ(kPackVersionBits, dwVersion);
  EXPECT_EQ(60u + 4 + 10 + 1 + 5, header.dwIndexOffset);
  EXPECT_EQ(2, header.nEntryCount);
  EXPECT_EQ(2, header.nFreeBlockCount);
  EXPECT_EQ(7, header.byReserved[1]);
  EXPECT_STREQ("data", file.GetRootName());

  EXPECT_EQ((std::vector<std::string>{"data\\a.txt", "data\\ui\\b.tga"}), EntryNames(file));
  const PackEntry& entry = *file.GetEntryMap()->at("data\\ui\\b.tga");
  EXPECT_EQ(60u, entry.dwOffset);
  EXPECT_EQ(4u, entry.dwStoredSize);
  EXPECT_EQ(4u, entry.dwOrigSize);
  EXPECT_EQ("tag-b", FieldString(entry.szTag, kPackTagSize));

  EXPECT_EQ((std::vector<std::string>{"data", "data\\ui"}), DirKeys(file));
  EXPECT_EQ((std::vector<std::string>{"1:data\\ui", "0:data\\a.txt"}), Children(file, "data"));
  EXPECT_EQ((std::vector<std::string>{"0:data\\ui\\b.tga"}), Children(file, "data\\ui"));

  ASSERT_EQ(2u, file.GetFreeBlocks().size());
  EXPECT_EQ(64u, file.GetFreeBlocks()[0].dwOffset);
  EXPECT_EQ(10u, file.GetFreeBlocks()[0].dwSize);
  EXPECT_EQ(75u, file.GetFreeBlocks()[1].dwOffset);
  EXPECT_EQ(5u, file.GetFreeBlocks()[1].dwSize);
}

TEST_F(PackOpenTest, HeaderOnlyPackIsEmpty) {
  CTestPack pack("res");
  ASSERT_EQ(60u, pack.Bytes().size());
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_TRUE(file.GetEntryMap()->empty());
  EXPECT_EQ((std::vector<std::string>{"res"}), DirKeys(file));
  EXPECT_TRUE(file.GetFreeBlocks().empty());
}

TEST_F(PackOpenTest, FirstRecordOfADuplicateNameWins) {
  CTestPack pack("res");
  pack.AddEntry("res\\a.txt", "first");
  pack.AddEntry("res\\a.txt", "second!");
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  ASSERT_EQ(1u, file.GetEntryMap()->size());
  EXPECT_EQ(5u, file.GetEntryMap()->at("res\\a.txt")->dwOrigSize);
}

TEST_F(PackOpenTest, FullWidthFieldsAreBoundedByTheirWidth) {
  const std::string strRoot(32, 'r');
  const std::string strName = strRoot + "\\" + std::string(kPackNameSize - 33, 'n');
  ASSERT_EQ(kPackNameSize, strName.size());
  CTestPack pack(strRoot, /*bCompressed=*/true);
  pack.AddEntry(strName, "xyz", std::string(32, 't'));
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_EQ(strRoot, FieldString(file.GetRootName(), kPackRootNameSize));
  EXPECT_EQ((std::vector<std::string>{strRoot}), DirKeys(file));
  ASSERT_EQ(1u, file.GetEntryMap()->count(strName));
  EXPECT_EQ(3u, file.GetEntryMap()->at(strName)->dwOrigSize);
  EXPECT_EQ(1, file.GetHeader()->byCompressed);
}

TEST_F(PackOpenTest, DirectoryCountComesFromTheFileSize) {
  CTestPack pack("res");
  pack.AddEntry("res\\a\\x.txt", "x");
  pack.AddTreeForEntries();
  pack.strAfterDirs = std::string(kPackDirRecordSize - 1, '\0');  // not a whole record
  pack.AddHole(3);
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_EQ((std::vector<std::string>{"1:res\\a"}), Children(file, "res"));
  EXPECT_EQ((std::vector<std::string>{"0:res\\a\\x.txt"}), Children(file, "res\\a"));
  ASSERT_EQ(1u, file.GetFreeBlocks().size());
  EXPECT_EQ(3u, file.GetFreeBlocks()[0].dwSize);
}

TEST_F(PackOpenTest, TreeIsRebuiltInTableOrder) {
  CTestPack pack("data");
  pack.AddDir(kPackDirKindDir, "data\\empty");  // a directory nothing lies below
  pack.AddDir(kPackDirKindFile, "data\\a\\b\\c.txt");  // parents get keys, not records
  pack.AddDir(kPackDirKindDir, "data\\a");
  pack.AddDir(kPackDirKindFile, "data\\a\\d.txt");
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_EQ((std::vector<std::string>{"data", "data\\a", "data\\a\\b"}), DirKeys(file));
  EXPECT_EQ((std::vector<std::string>{"1:data\\empty", "1:data\\a"}), Children(file, "data"));
  EXPECT_EQ((std::vector<std::string>{"0:data\\a\\d.txt"}), Children(file, "data\\a"));
  EXPECT_EQ((std::vector<std::string>{"0:data\\a\\b\\c.txt"}), Children(file, "data\\a\\b"));
}

TEST_F(PackOpenTest, RecordsOutsideTheRootAreNotPlaced) {
  CTestPack pack("data");
  pack.AddDir(kPackDirKindFile, "other\\x.txt");
  pack.AddDir(kPackDirKindFile, "datax\\y.txt");
  pack.AddDir(kPackDirKindDir, "data");
  pack.AddDir(kPackDirKindFile, "");
  pack.AddDir(kPackDirKindFile, "data\\ok.txt");
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_EQ((std::vector<std::string>{"data"}), DirKeys(file));
  EXPECT_EQ((std::vector<std::string>{"0:data\\ok.txt"}), Children(file, "data"));
}

TEST_F(PackOpenTest, RegionsAreFoundPastTheFirstGranule) {
  CTestPack pack("res");
  pack.AddEntry("res\\big.bin", std::string(70000, 'b'));
  pack.AddHole(3);
  pack.AddEntry("res\\small.txt", "small");
  pack.AddTreeForEntries();
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  ASSERT_EQ(2u, file.GetEntryMap()->size());
  EXPECT_EQ(70063u, file.GetEntryMap()->at("res\\small.txt")->dwOffset);
  EXPECT_EQ((std::vector<std::string>{"0:res\\big.bin", "0:res\\small.txt"}), Children(file, "res"));
  ASSERT_EQ(1u, file.GetFreeBlocks().size());
  EXPECT_EQ(70060u, file.GetFreeBlocks()[0].dwOffset);
}

TEST_F(PackOpenTest, NegativeCountsReadNothing) {
  CTestPack pack("res");
  pack.AddEntry("res\\a.txt", "a");
  pack.vecEntries.clear();  // the blob stays, its record does not
  pack.AddDir(kPackDirKindFile, "res\\a.txt");
  pack.bKeepHeader = true;
  pack.header.dwIndexOffset = 61;
  pack.header.nEntryCount = -5;
  pack.header.nFreeBlockCount = -1;
  CPackFile file;
  ASSERT_TRUE(file.Open(Write(pack)));
  EXPECT_TRUE(file.GetEntryMap()->empty());
  EXPECT_TRUE(file.GetFreeBlocks().empty());
  EXPECT_EQ((std::vector<std::string>{"0:res\\a.txt"}), Children(file, "res"));
}

// Each of these headers declares a region that does not lie in the file.
// After the failure the object closes clean and opens a good pack.
TEST_F(PackOpenTest, RegionsOutsideTheFileAreRefused) {
  CTestPack good("res");
  good.AddEntry("res\\good.txt", "good");
  good.AddTreeForEntries();
  const std::string strGood = Write(good, "good.pak");

  struct Case {
    const char* pszWhat;
    uint32_t dwIndexOffset;
    int32_t nEntryCount;
    int32_t nFreeBlockCount;
  };
  CTestPack base("res");
  base.AddEntry("res\\a.txt", "aaaa");
  base.AddTreeForEntries();
  const uint32_t dwIndex = 64;
  const Case cases[] = {
      {"index offset past the end", 100000, 1, 0},
      {"index offset inside the header", 20, 0, 0},
      {"entry records past the end", dwIndex, 3, 0},
      // 14128182 x 304 wraps to 32 in 32-bit arithmetic
      {"entry count that wraps a 32-bit size", dwIndex, 14128182, 0},
      {"free list larger than the file", dwIndex, 1, 1000},
      // 0x20000000 x 8 wraps to 0
      {"free count that wraps a 32-bit size", dwIndex, 1, 0x20000000},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.pszWhat);
    CTestPack pack = base;
    pack.bKeepHeader = true;
    pack.header.dwIndexOffset = test.dwIndexOffset;
    pack.header.nEntryCount = test.nEntryCount;
    pack.header.nFreeBlockCount = test.nFreeBlockCount;
    CPackFile file;
    EXPECT_FALSE(file.Open(Write(pack, "bad.pak")));
    file.Close();
    EXPECT_TRUE(file.GetEntryMap()->empty());
    EXPECT_TRUE(file.GetDirMap().empty());
    ASSERT_TRUE(file.Open(strGood));
    EXPECT_EQ((std::vector<std::string>{"res\\good.txt"}), EntryNames(file));
  }
}

TEST_F(PackOpenTest, FilesThatCannotBeWrittenAreRefused) {
  CPackFile file;
  EXPECT_FALSE(file.Open(m_dir.ProgramPath("missing.pak")));
  EXPECT_FALSE(file.Open(m_dir.ProgramPath()));  // a directory

  CTestPack pack("res");
  pack.AddEntry("res\\a.txt", "a");
  const std::string strPath = Write(pack, "ro.pak");
  fs::permissions(m_dir.Path() / "ro.pak", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(file.Open(strPath));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  // Reading only, it opens; an update needs a writable pack.
  ASSERT_TRUE(file.OpenForReading(strPath));
  EXPECT_TRUE(file.IsReadOnly());
  EXPECT_EQ((std::vector<std::string>{"res\\a.txt"}), EntryNames(file));
  EXPECT_FALSE(file.SaveIndex(strPath.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  fs::permissions(m_dir.Path() / "ro.pak", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(file.OpenForReading(strPath));
  EXPECT_FALSE(file.IsReadOnly()) << "a writable pack is opened for writing";
  file.Close();

  // Held open by someone who shares nothing: the open is a sharing violation.
  HANDLE hLock = CreateFileA(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
  EXPECT_FALSE(file.Open(strPath));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  CloseHandle(hLock);
  EXPECT_TRUE(file.Open(strPath));
}

TEST_F(PackOpenTest, CloseThenReopenAndReopenWithoutClose) {
  CTestPack first("one");
  first.AddEntry("one\\a.txt", "a");
  first.AddHole(4);
  first.AddTreeForEntries();
  CTestPack second("two");
  second.AddEntry("two\\b.txt", "b");
  second.AddTreeForEntries();
  const std::string strFirst = Write(first, "one.pak");
  const std::string strSecond = Write(second, "two.pak");

  CPackFile file;
  ASSERT_TRUE(file.Open(strFirst));
  file.Close();
  EXPECT_TRUE(file.GetEntryMap()->empty());
  EXPECT_TRUE(file.GetDirMap().empty());
  EXPECT_TRUE(file.GetFreeBlocks().empty());
  ASSERT_TRUE(file.Open(strFirst));
  EXPECT_EQ((std::vector<std::string>{"one\\a.txt"}), EntryNames(file));
  ASSERT_TRUE(file.Open(strSecond));
  EXPECT_EQ((std::vector<std::string>{"two\\b.txt"}), EntryNames(file));
  EXPECT_EQ((std::vector<std::string>{"two"}), DirKeys(file));
  EXPECT_TRUE(file.GetFreeBlocks().empty());
}

TEST_F(PackOpenTest, ChineseDirectoryAndPackNames) {
  fs::create_directory(m_dir.Path() / Utf8Path("客户端"));
  CTestPack pack(Gbk("资源"));
  pack.AddEntry(Gbk("资源\\界面\\图标.tga"), "icon");
  pack.AddTreeForEntries();
  pack.WriteTo(m_dir.Path() / Utf8Path("客户端/资源.pak"));
  CPackFile file;
  ASSERT_TRUE(file.Open(m_dir.ProgramPath("客户端/资源.pak")));
  EXPECT_EQ(1u, file.GetEntryMap()->size());
  EXPECT_EQ(2u, file.GetDirMap().size());
}

}  // namespace

namespace {

// A pack large enough that every record of its index lies in one block:
// 20 000 entries in nested directories whose table is mostly in runs, plus
// everything a table or an index may hold that a build never writes.
CTestPack LargePack() {
  CTestPack pack("res");
  for (int i = 0; i < 20000; ++i) {
    const std::string strDir = "res\\d" + std::to_string(i % 37) + (i % 3 ? "\\sub" + std::to_string(i % 5) : "");
    pack.AddEntry(strDir + "\\f" + std::to_string(i) + ".dat", std::string(1 + i % 7, 'x'), "t" + std::to_string(i));
    if (i % 4999 == 0) pack.AddHole(3 + i % 11);
  }
  pack.AddEntry("res\\d3\\f3.dat", "second record of a name", "dup");
  pack.AddEntry("res\\" + std::string(kPackNameSize - 4, 'w'), "full width, no NUL");
  pack.AddTreeForEntries();
  pack.AddDir(kPackDirKindFile, "res\\d3\\late.dat");         // a run of d3 again, after other directories
  pack.AddDir(kPackDirKindFile, "res\\d3\\later.dat");
  pack.AddDir(kPackDirKindFile, "other\\x.dat");              // outside the root
  pack.AddDir(kPackDirKindFile, "res\\nokey\\y.dat");         // its directory has no key
  pack.AddDir(kPackDirKindFile, "res\\nokey\\z.dat");
  pack.AddDir(kPackDirKindDir, "noseparator");
  pack.AddDir(kPackDirKindFile, "res\\d3\\sub1\\deeper\\q.dat");  // creates its missing keys
  return pack;
}

std::string RecordBytes(const void* pRecord, size_t nSize) { return std::string(static_cast<const char*>(pRecord), nSize); }

}  // namespace

// Open builds the index, the tree and the free list in bulk; a reference
// made record by record, by the rules Open always followed, must agree.
TEST_F(PackOpenTest, BulkLoadGivesWhatRecordByRecordLoadingGives) {
  const CTestPack pack = LargePack();
  const std::string strPath = Write(pack);
  const CTestPack parsed = CTestPack::ReadFrom(m_dir.Path() / "test.pak");

  std::map<std::string, std::string> mapIndex;  // the first record of each name
  for (const PackEntry& entry : parsed.vecEntries) {
    mapIndex.emplace(FieldString(entry.szName, kPackNameSize), RecordBytes(&entry, sizeof(entry)));
  }
  PackDirMap mapTree;
  mapTree["res"];
  for (const PackDirRecord& record : parsed.vecDirs) TreeAddRecord(mapTree, "res", record);

  CPackFile file;
  ASSERT_TRUE(file.Open(strPath));
  std::map<std::string, std::string> mapLoaded;
  for (const auto& item : *file.GetEntryMap()) mapLoaded[item.first] = RecordBytes(item.second.get(), sizeof(PackEntry));
  EXPECT_EQ(20001u, mapIndex.size());
  EXPECT_EQ("t3", FieldString(file.GetEntryMap()->at("res\\d3\\f3.dat")->szTag, kPackTagSize));
  EXPECT_TRUE(mapIndex == mapLoaded) << "the entry map differs";
  ASSERT_EQ(DirKeys(file), [&] {
    std::vector<std::string> vecKeys;
    for (const auto& item : mapTree) vecKeys.push_back(item.first);
    return vecKeys;
  }());
  for (const auto& item : mapTree) {
    const std::vector<PackDirRecord>& vecLoaded = file.GetDirMap().at(item.first);
    EXPECT_EQ(RecordBytes(item.second.data(), item.second.size() * sizeof(PackDirRecord)),
              RecordBytes(vecLoaded.data(), vecLoaded.size() * sizeof(PackDirRecord)))
        << "the records of " << item.first;
  }
  EXPECT_EQ(RecordBytes(parsed.vecFree.data(), parsed.vecFree.size() * sizeof(PackFreeBlock)),
            RecordBytes(file.GetFreeBlocks().data(), file.GetFreeBlocks().size() * sizeof(PackFreeBlock)));
  EXPECT_EQ(5u, file.GetFreeBlocks().size());
}

// The loaded records share one block, yet each is owned by its pointer as
// any other: one moved out of the map outlives the pack, one replaced or
// erased is freed alone, and new records mix with loaded ones.
TEST_F(PackOpenTest, LoadedRecordsAreOwnedOneByOne) {
  const std::string strPath = Write(LargePack());
  std::unique_ptr<PackEntry> pKept;
  {
    CPackFile file;
    ASSERT_TRUE(file.Open(strPath));
    PackEntryMap& mapEntry = *file.GetEntryMap();
    pKept = std::move(mapEntry.at("res\\d6\\f6.dat"));
    mapEntry.at("res\\d9\\f9.dat") = std::make_unique<PackEntry>();
    EXPECT_EQ(1u, mapEntry.erase("res\\d12\\f12.dat"));
    auto pNew = std::make_unique<PackEntry>();
    SetField(pNew->szName, kPackNameSize, "res\\new.dat");
    mapEntry.emplace("res\\new.dat", std::move(pNew));
    EXPECT_EQ(0u, mapEntry.at("res\\d9\\f9.dat")->dwOrigSize);
    file.Close();
  }
  ASSERT_TRUE(pKept);
  EXPECT_EQ("res\\d6\\f6.dat", FieldString(pKept->szName, kPackNameSize));
  EXPECT_EQ("t6", FieldString(pKept->szTag, kPackTagSize));
  pKept.reset();  // the last record of its block: the block goes with it
}
