// Compacting a pack: after many merges the same content without holes, the
// entries' bytes copied as they were, a built pack left byte for byte, the
// packs and the disks it refuses, and the temporary file it leaves to the
// next compaction or merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/fault_inject.h"
#include "platform/fault_space.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace {

using CFiles = std::map<std::string, std::string>;

// Every file below root with its bytes, by relative path.
CFiles FilesBelow(const fs::path& root) {
  CFiles mapFiles;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) mapFiles[fs::relative(item.path(), root).generic_u8string()] = ReadFileBytes(item.path());
  }
  return mapFiles;
}

// What the library extracts from a pack: the whole tree below its root.
CFiles Extracted(const fs::path& pack) {
  CTempDir out;
  CCurrentDirGuard cwd;
  fs::current_path(out.Path());
  {
    CPackFile file;
    EXPECT_TRUE(file.Open(ToProgramPath(pack)));
    EXPECT_EQ(1, file.ExtractPath("res", 1, "unused"));
  }
  return FilesBelow(out.Path());
}

// The directory table as written: kind and path, in file order.
std::vector<std::string> TreeRecords(const CTestPack& pack) {
  std::vector<std::string> vecRecords;
  for (const PackDirRecord& record : pack.vecDirs) {
    vecRecords.push_back(std::to_string(record.nKind) + FieldString(record.szFullPath, kPackNameSize));
  }
  return vecRecords;
}

// The entries by their position in the data area.
std::vector<const PackEntry*> ByOffset(const CTestPack& pack) {
  std::vector<const PackEntry*> vecEntries;
  for (const PackEntry& entry : pack.vecEntries) vecEntries.push_back(&entry);
  std::stable_sort(vecEntries.begin(), vecEntries.end(),
                   [](const PackEntry* a, const PackEntry* b) { return a->dwOffset < b->dwOffset; });
  return vecEntries;
}

std::string Name(const PackEntry& entry) { return FieldString(entry.szName, kPackNameSize); }

std::vector<std::string> VerifyProblems(const fs::path& pack) {
  std::vector<std::string> vecProblems;
  EXPECT_TRUE(VerifyPack(ToProgramPath(pack).c_str(), vecProblems));
  return vecProblems;
}

// Content of nSize bytes that differs with nSeed and compresses a little.
std::string Content(size_t nSize, unsigned nSeed) {
  std::string str = RandomBytes(nSize, nSeed);
  for (size_t i = 0; i < nSize; i += 3) str[i] = 'x';
  return str;
}

// A client of 28 entries in three directories and rounds of updates, each
// giving about one entry in seven new content (larger, smaller or of the
// same size, in turn) and now and then a new entry, the way updates churn a
// client. Update packs are compressed with content tags, as they ship.
class CChurn {
 public:
  explicit CChurn(bool bCompressedClient) : m_bCompressed(bCompressedClient) {
    for (unsigned i = 0; i < 28; ++i) {
      m_mapContent[NameOf(i)] = Content(200 + (i * 131) % 1500, i);
      m_mapTag[NameOf(i)] = "t" + std::to_string(i);
    }
  }

  CTestPack Client() const {
    CTestPack pack("res", m_bCompressed);
    for (const auto& item : m_mapContent) AddTo(pack, item.first);
    pack.AddTreeForEntries();
    return pack;
  }

  CTestPack NextUpdate() {
    ++m_nRound;
    std::vector<std::string> vecChanged;
    for (unsigned i = 0; i < 4; ++i) vecChanged.push_back(NameOf((m_nRound * 5 + i * 7) % 28));
    if (m_nRound % 3 == 0) vecChanged.push_back("res\\new\\n" + std::to_string(m_nRound) + ".bin");
    CTestPack update("res", true);
    for (size_t i = 0; i < vecChanged.size(); ++i) {
      const std::string& strName = vecChanged[i];
      const size_t nOld = m_mapContent.count(strName) ? m_mapContent[strName].size() : 300;
      const size_t nNew = i % 3 == 0 ? nOld + 97 : i % 3 == 1 ? nOld / 2 + 1 : nOld;
      m_mapContent[strName] = Content(nNew, m_nRound * 100 + static_cast<unsigned>(i));
      m_mapTag[strName] = "r" + std::to_string(m_nRound) + "-" + std::to_string(i);
      update.AddEntry(strName, Lzma86Encode(m_mapContent[strName]), m_mapTag[strName],
                      static_cast<uint32_t>(nNew));
    }
    return update;
  }

 private:
  static std::string NameOf(unsigned i) {
    static const char* const kDirs[] = {"res\\ui\\", "res\\maps\\", "res\\new\\"};
    return kDirs[i % 3] + std::string("f") + std::to_string(i) + ".bin";
  }
  void AddTo(CTestPack& pack, const std::string& strName) const {
    const std::string& strPlain = m_mapContent.at(strName);
    pack.AddEntry(strName, m_bCompressed ? Lzma86Encode(strPlain) : strPlain, m_mapTag.at(strName),
                  static_cast<uint32_t>(strPlain.size()));
  }

  bool m_bCompressed;
  unsigned m_nRound = 0;
  std::map<std::string, std::string> m_mapContent;
  std::map<std::string, std::string> m_mapTag;
};

class CompactTest : public ::testing::Test {
 protected:
  CompactTest() {
    fs::create_directory(m_dir.Path() / "work");
    fs::current_path(m_dir.Path() / "work");
  }
  ~CompactTest() override { FaultInjectFreeSpace(UINT64_MAX); }

  fs::path PackPath(const char* pszName = "client.pak") const { return m_dir.Path() / pszName; }
  bool Compact(const char* pszName = "client.pak") {
    CRealizePack realize;
    const bool bOk = realize.CompactPack(ToProgramPath(PackPath(pszName)).c_str());
    m_dwError = GetLastError();
    m_strRefusal = realize.GetCompactRefusal();
    return bOk;
  }
  int Merge(const CTestPack& update, const char* pszClient = "client.pak") {
    update.WriteTo(m_dir.Path() / "update.pak");
    CRealizePack realize;
    return realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), ToProgramPath(PackPath(pszClient)).c_str());
  }
  bool HasTemp(const char* pszName = "client.pak") const {
    return fs::exists(PackPath((std::string(pszName) + ".compact.new").c_str()));
  }
  uint64_t HoleBytes(const char* pszName = "client.pak") const {
    CPackFile pack;
    EXPECT_TRUE(pack.Open(ToProgramPath(PackPath(pszName))));
    return pack.GetHoleBytes();
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  DWORD m_dwError = ERROR_SUCCESS;
  std::string m_strRefusal;
};

class CompactChurnTest : public CompactTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CompactChurnTest, AfterManyMergesTheSameContentWithoutHoles) {
  CChurn churn(GetParam());
  churn.Client().WriteTo(PackPath());
  for (int nRound = 0; nRound < 12; ++nRound) ASSERT_EQ(1, Merge(churn.NextUpdate())) << "round " << nRound;
  fs::copy_file(PackPath(), PackPath("uncompacted.pak"));
  const CTestPack before = CTestPack::ReadFrom(PackPath());
  const CFiles filesBefore = Extracted(PackPath());
  ASSERT_FALSE(before.vecFree.empty());
  const uint64_t qwHoles = HoleBytes();
  ASSERT_GT(qwHoles, 0u);

  ASSERT_TRUE(Compact()) << m_strRefusal;
  EXPECT_EQ("", m_strRefusal);
  EXPECT_FALSE(HasTemp());
  EXPECT_EQ(std::vector<std::string>(), VerifyProblems(PackPath()));
  EXPECT_EQ(filesBefore, Extracted(PackPath()));
  EXPECT_EQ(0u, HoleBytes());

  const CTestPack after = CTestPack::ReadFrom(PackPath());
  EXPECT_EQ(0, std::memcmp(&before.header.szMagic, &after.header.szMagic, sizeof(after.header.szMagic)));
  EXPECT_EQ(before.header.fVersion, after.header.fVersion);
  EXPECT_EQ(RootOf(before.header), RootOf(after.header));
  EXPECT_EQ(before.header.byCompressed, after.header.byCompressed);
  EXPECT_EQ(0, after.header.nFreeBlockCount);
  EXPECT_TRUE(after.vecFree.empty());
  EXPECT_EQ("", after.strAfterDirs) << "the file must end at the free list";
  EXPECT_EQ(TreeRecords(before), TreeRecords(after));
  EXPECT_EQ(before.header.dwIndexOffset - qwHoles, after.header.dwIndexOffset);
  EXPECT_EQ(fs::file_size(PackPath("uncompacted.pak")) - qwHoles - before.vecFree.size() * kPackFreeBlockSize,
            fs::file_size(PackPath()));

  // The entries keep their order and their stored bytes, back to back.
  const std::vector<const PackEntry*> vecOld = ByOffset(before);
  const std::vector<const PackEntry*> vecNew = ByOffset(after);
  ASSERT_EQ(vecOld.size(), vecNew.size());
  uint32_t dwNext = kPackHeaderSize;
  for (size_t i = 0; i < vecNew.size(); ++i) {
    const PackEntry& oldEntry = *vecOld[i];
    const PackEntry& newEntry = *vecNew[i];
    SCOPED_TRACE(Name(newEntry));
    EXPECT_EQ(Name(oldEntry), Name(newEntry));
    EXPECT_EQ(dwNext, newEntry.dwOffset);
    EXPECT_EQ(oldEntry.dwOrigSize, newEntry.dwOrigSize);
    EXPECT_EQ(0, std::memcmp(oldEntry.szTag, newEntry.szTag, kPackTagSize));
    EXPECT_EQ(before.StoredBytes(oldEntry), after.StoredBytes(newEntry));
    dwNext += newEntry.dwStoredSize;
  }
  EXPECT_EQ(dwNext, after.header.dwIndexOffset);

  // Later merges see the same pack, only laid out anew.
  for (int nRound = 0; nRound < 3; ++nRound) {
    const CTestPack update = churn.NextUpdate();
    ASSERT_EQ(1, Merge(update));
    ASSERT_EQ(1, Merge(update, "uncompacted.pak"));
  }
  EXPECT_EQ(Extracted(PackPath("uncompacted.pak")), Extracted(PackPath()));
  EXPECT_EQ(std::vector<std::string>(), VerifyProblems(PackPath()));
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, CompactChurnTest, ::testing::Bool());

TEST_F(CompactTest, FreshlyBuiltPackComesOutByteForByte) {
  for (const bool bCompress : {false, true}) {
    SCOPED_TRACE(bCompress ? "compressed" : "plain");
    const fs::path src = m_dir.Path() / (bCompress ? "compressed" : "plain") / "res";
    for (unsigned i = 0; i < 9; ++i) {
      fs::create_directories(src / (i % 2 ? "ui" : "地图"));
      WriteFileBytes(src / (i % 2 ? "ui" : "地图") / ("f" + std::to_string(i) + ".bin"), Content(i * 1000, i));
    }
    WriteFileBytes(src / "empty.txt", "");
    CPackFile build;
    build.SetContentTags(true);
    const std::string strRoot = ToProgramPath(src);
    build.SetRootPath(strRoot.c_str());
    build.CollectFiles(strRoot.c_str());
    ASSERT_TRUE(build.CreatePack(strRoot.c_str(), m_dir.ProgramPath().c_str(), bCompress, nullptr, "client", false));
    fs::current_path(m_dir.Path() / "work");  // the build leaves it in the last directory it read
    const std::string strBuilt = ReadFileBytes(PackPath());
    EXPECT_EQ(0u, HoleBytes());
    ASSERT_TRUE(Compact()) << m_strRefusal;
    EXPECT_TRUE(strBuilt == ReadFileBytes(PackPath())) << "a pack without holes must stay as it is";
  }
}

TEST_F(CompactTest, HoleBytesCountWhatNoEntryCovers) {
  CTestPack pack("res");
  pack.AddEntry("res\\a.txt", "AAAA");
  pack.AddHole(10);
  pack.AddEntry("res\\b.txt", "BBBBBB");
  pack.AddHole(5);
  pack.vecFree.pop_back();  // a hole the free list lost still is one
  pack.AddTreeForEntries();
  pack.WriteTo(PackPath());
  CPackFile file;
  ASSERT_TRUE(file.Open(ToProgramPath(PackPath())));
  EXPECT_EQ(15u, file.GetHoleBytes());
  EXPECT_DOUBLE_EQ(15.0 / static_cast<double>(fs::file_size(PackPath())), file.GetHoleShare());
  file.Close();
  EXPECT_EQ(0u, file.GetHoleBytes());
  EXPECT_EQ(0.0, file.GetHoleShare());

  ASSERT_TRUE(Compact());
  const CTestPack after = CTestPack::ReadFrom(PackPath());
  EXPECT_EQ("AAAABBBBBB", after.strData);
}

TEST_F(CompactTest, DamagedPackIsRefusedWithItsProblem) {
  CTestPack overlap("res");
  overlap.AddEntry("res\\a.txt", "aaaaaaaa");
  overlap.AddHole(4);
  overlap.AddEntry("res\\b.txt", "bbbbbbbb").dwOffset -= 6;
  overlap.AddTreeForEntries();
  CTestPack truncated("res", true);
  truncated.AddEntry("res\\a.txt", Lzma86Encode(Content(4000, 3)).substr(0, 40), "", 4000);
  truncated.AddHole(9);
  truncated.AddTreeForEntries();
  CTestPack noRecord("res");
  noRecord.AddEntry("res\\a.txt", "aaaa");
  noRecord.AddHole(3);
  const struct {
    const CTestPack& pack;
    const char* pszProblem;
  } cases[] = {{overlap, "the pack is damaged: entry \"res\\b.txt\" overlaps entry \"res\\a.txt\""},
               {truncated, "the pack is damaged: entry \"res\\a.txt\" does not decode"},
               {noRecord, "the pack is damaged: entry \"res\\a.txt\" has no file record in the directory table"}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.pszProblem);
    test.pack.WriteTo(PackPath());
    EXPECT_FALSE(Compact());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), m_dwError);
    EXPECT_EQ(0u, m_strRefusal.find(test.pszProblem)) << m_strRefusal;
    EXPECT_EQ(test.pack.Bytes(), ReadFileBytes(PackPath()));
    EXPECT_FALSE(HasTemp());
  }
}

TEST_F(CompactTest, TooLittleFreeSpaceFailsBeforeAnythingIsWritten) {
  CChurn churn(false);
  churn.Client().WriteTo(PackPath());
  for (int nRound = 0; nRound < 4; ++nRound) ASSERT_EQ(1, Merge(churn.NextUpdate()));
  const std::string strBefore = ReadFileBytes(PackPath());
  const uint64_t qwCompacted =
      strBefore.size() - HoleBytes() - CTestPack::Parse(strBefore).vecFree.size() * kPackFreeBlockSize;

  FaultInjectFreeSpace(qwCompacted - 1);
  FaultInjectArm(FaultMode::kCount, 0);
  EXPECT_FALSE(Compact());
  const uint32_t nPoints = FaultInjectPoints();
  FaultInjectDisarm();
  EXPECT_EQ(0u, nPoints) << "nothing may be written";
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), m_dwError);
  EXPECT_EQ("not enough free disk space: the compacted pack needs " + std::to_string(qwCompacted) +
                " bytes beside the pack, and the disk has " + std::to_string(qwCompacted - 1) + " bytes free",
            m_strRefusal);
  EXPECT_EQ(strBefore, ReadFileBytes(PackPath()));
  EXPECT_FALSE(HasTemp());

  FaultInjectFreeSpace(qwCompacted);
  EXPECT_TRUE(Compact()) << m_strRefusal;
  EXPECT_EQ(qwCompacted, fs::file_size(PackPath()));
}

// A compaction keeps writers out while it reads the pack, and a pack a
// writer holds open (a merge does) is left to it.
TEST_F(CompactTest, PackOpenForWritingIsNotCompacted) {
  CChurn churn(false);
  churn.Client().WriteTo(PackPath());
  ASSERT_EQ(1, Merge(churn.NextUpdate()));
  const std::string strBefore = ReadFileBytes(PackPath());
  {
    CPackFile writer;
    ASSERT_TRUE(writer.Open(ToProgramPath(PackPath())));
    EXPECT_FALSE(Compact());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), m_dwError);
    EXPECT_EQ("", m_strRefusal);
  }
  EXPECT_EQ(strBefore, ReadFileBytes(PackPath()));
  EXPECT_TRUE(Compact());
}

TEST_F(CompactTest, LeftoverIsRemovedByTheNextCompactionOrMerge) {
  CChurn churn(false);
  churn.Client().WriteTo(PackPath());
  WriteFileBytes(PackPath("client.pak.compact.new"), "torn");
  ASSERT_EQ(1, Merge(churn.NextUpdate()));
  EXPECT_FALSE(HasTemp());

  WriteFileBytes(PackPath("client.pak.compact.new"), "torn");
  ASSERT_TRUE(Compact());
  EXPECT_FALSE(HasTemp());
  // A compaction refused still clears it.
  WriteFileBytes(PackPath("client.pak.compact.new"), "torn");
  CTestPack damaged("res");
  damaged.AddEntry("res\\a.txt", "aaaa");
  damaged.WriteTo(PackPath());
  EXPECT_FALSE(Compact());
  EXPECT_FALSE(HasTemp());
}

// The next compaction would remove a loose file written under the name of
// the compacted pack; a merge refuses to write one.
TEST_F(CompactTest, LooseFileOntoTheCompactedPackIsRefused) {
  fs::current_path(m_dir.Path());
  CChurn churn(false);
  churn.Client().WriteTo(PackPath());
  const std::string strBefore = ReadFileBytes(PackPath());
  CTestPack update("x");
  update.AddEntry("x\\Client.pak.compact.NEW", "not a pack", "z");
  EXPECT_EQ(0, Merge(update));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_EQ(strBefore, ReadFileBytes(PackPath()));
  EXPECT_FALSE(HasTemp());
}

TEST_F(CompactTest, MissingPackFails) {
  EXPECT_FALSE(Compact("missing.pak"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), m_dwError);
  EXPECT_FALSE(HasTemp("missing.pak"));
}

}  // namespace
