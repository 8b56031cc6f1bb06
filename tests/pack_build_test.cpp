// Building packs from real directory trees: what lands in the file, byte by
// byte, the faults a build must survive, content tags and the merge of two
// built packs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/scoped_handle.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace fs = std::filesystem;

namespace {

std::string Name(const PackEntry& entry) { return FieldString(entry.szName, kPackNameSize); }

std::vector<std::string> IndexNames(const CTestPack& pack) {
  std::vector<std::string> vecNames;
  for (const PackEntry& entry : pack.vecEntries) vecNames.push_back(Name(entry));
  return vecNames;
}

// Entries in the order of their bytes in the data area.
std::vector<PackEntry> DataOrder(const CTestPack& pack) {
  std::vector<PackEntry> vecEntries = pack.vecEntries;
  std::sort(vecEntries.begin(), vecEntries.end(),
            [](const PackEntry& a, const PackEntry& b) { return a.dwOffset < b.dwOffset; });
  return vecEntries;
}

std::vector<std::string> DataNames(const CTestPack& pack) {
  std::vector<std::string> vecNames;
  for (const PackEntry& entry : DataOrder(pack)) vecNames.push_back(Name(entry));
  return vecNames;
}

std::string Plain(const CTestPack& pack, const PackEntry& entry) {
  const std::string strStored = pack.StoredBytes(entry);
  if (!pack.header.byCompressed) return strStored;
  std::string strOut(size_t{entry.dwOrigSize} + kLzma86DecodeSlack, '\0');
  uint32_t dwLen = entry.dwOrigSize;
  EXPECT_EQ(kLzmaOk, LzmaUncompress(reinterpret_cast<const unsigned char*>(strStored.data()),
                                    static_cast<uint32_t>(strStored.size()),
                                    reinterpret_cast<unsigned char*>(&strOut[0]), &dwLen));
  strOut.resize(dwLen);
  return strOut;
}

std::string PlainOf(const CTestPack& pack, const std::string& strName) {
  const PackEntry* pEntry = pack.FindEntry(strName);
  return pEntry ? Plain(pack, *pEntry) : "<missing>";
}

// The files below a directory in the order the directory search lists
// them, depth first, as the walk must take them; also the last directory
// entered.
void ListedFiles(const std::string& strDir, std::vector<std::string>& vecFiles, std::string& strLastDir) {
  strLastDir = strDir;
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA((strDir + "\\*.*").c_str(), &data);
  if (hFind == INVALID_HANDLE_VALUE) return;
  do {
    const std::string strName = data.cFileName;
    if (strName == "." || strName == ".." || strName == ".svn") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListedFiles(strDir + "\\" + strName, vecFiles, strLastDir);
    } else {
      vecFiles.push_back(strDir + "\\" + strName);
    }
  } while (FindNextFileA(hFind, &data));
  FindClose(hFind);
}

std::string Lower(std::string str) {
  for (char& ch : str) ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
  return str;
}

class BuildTest : public ::testing::Test {
 protected:
  BuildTest() { fs::create_directory(m_dir.Path() / "out"); }

  void Write(const std::string& strRel, const std::string& strBytes) {
    const fs::path path = m_dir.Path() / Utf8Path(strRel);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, strBytes);
  }
  std::string Root(const std::string& strRel = "client") const { return m_dir.ProgramPath(strRel); }
  std::string Out() const { return m_dir.ProgramPath("out"); }
  CTestPack Read(const std::string& strFile = "client.pak") const {
    return CTestPack::ReadFrom(m_dir.Path() / "out" / Utf8Path(strFile));
  }
  // Root, walk and write in one go, as a caller building a tree does.
  bool Build(CPackFile& pack, bool bCompress, bool bDeleteSrc = false, const std::string& strRoot = "client") {
    pack.SetRootPath(Root(strRoot).c_str());
    pack.CollectFiles(Root(strRoot).c_str());
    return pack.CreatePack(Root(strRoot).c_str(), Out().c_str(), bCompress, nullptr, nullptr, bDeleteSrc);
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(BuildTest, PlainBuildWritesDataInWalkOrderAndIndexInNameOrder) {
  Write("client/a/x.txt", "in a");
  Write("client/a_b.txt", "underscore");
  Write("client/ab.txt", "ab");
  Write("client/UI/B.tga", "targa");
  CPackFile file;
  file.SetRootPath(Root().c_str());
  file.CollectFiles(Root().c_str());
  char szOut[MAX_PATH] = {};
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, szOut, nullptr, false));
  EXPECT_EQ(Lower(Out()) + "\\client.pak", szOut);  // the destination is lowered too

  CTestPack pack = Read();
  EXPECT_EQ("client", RootOf(pack.header));
  EXPECT_EQ(0, std::memcmp(pack.header.szMagic, kPackMagic, kPackMagicSize));
  EXPECT_EQ(0, std::memcmp(&pack.header.fVersion, &kPackVersionBits, 4));
  EXPECT_EQ(0, pack.header.byCompressed);
  EXPECT_EQ(0, pack.header.nFreeBlockCount);
  // Backslash (5C) sorts before underscore (5F), and both before letters.
  EXPECT_EQ((std::vector<std::string>{"client\\a\\x.txt", "client\\a_b.txt", "client\\ab.txt", "client\\ui\\b.tga"}),
            IndexNames(pack));

  std::vector<std::string> vecListed;
  std::string strLastDir;
  ListedFiles(Root(), vecListed, strLastDir);
  std::vector<std::string> vecExpected;
  for (const std::string& strPath : vecListed) vecExpected.push_back(Lower(strPath.substr(strPath.rfind("client"))));
  EXPECT_EQ(vecExpected, DataNames(pack));
#ifndef _WIN32
  // The platform lists names as NTFS does: by their upper-case form.
  EXPECT_EQ((std::vector<std::string>{"client\\a\\x.txt", "client\\ab.txt", "client\\a_b.txt", "client\\ui\\b.tga"}),
            DataNames(pack));
#endif

  uint32_t dwNext = kPackHeaderSize;
  CTestPack expected("client");
  for (const PackEntry& entry : DataOrder(pack)) {
    EXPECT_EQ(dwNext, entry.dwOffset);
    EXPECT_EQ(entry.dwOrigSize, entry.dwStoredSize);
    EXPECT_EQ(std::string(kPackTagSize, '\0'), std::string(entry.szTag, kPackTagSize));
    dwNext += entry.dwStoredSize;
    expected.AddEntry(Name(entry), "");
  }
  EXPECT_EQ(dwNext, pack.header.dwIndexOffset);
  EXPECT_EQ("targa", PlainOf(pack, "client\\ui\\b.tga"));
  expected.AddTreeForEntries();
  ASSERT_EQ(expected.vecDirs.size(), pack.vecDirs.size());
  for (size_t i = 0; i < pack.vecDirs.size(); ++i) {
    EXPECT_EQ(expected.vecDirs[i].nKind, pack.vecDirs[i].nKind);
    EXPECT_EQ(FieldString(expected.vecDirs[i].szFullPath, kPackNameSize),
              FieldString(pack.vecDirs[i].szFullPath, kPackNameSize));
  }
  EXPECT_EQ("", pack.strAfterDirs);

  CPackFile opened;
  ASSERT_TRUE(opened.Open(Out() + "\\client.pak"));
  EXPECT_EQ(4u, opened.GetEntryMap()->size());
  // The walk leaves the current directory where it ended.
  char szCurrent[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, szCurrent);
  EXPECT_EQ(strLastDir, szCurrent);
}

TEST_F(BuildTest, CompressedEntriesAreLzma86StreamsThatDecode) {
  std::string strText;
  for (int i = 0; i < 2000; ++i) strText += "line " + std::to_string(i % 17) + "\n";
  Write("client/text.txt", strText);
  Write("client/empty.dat", "");
  Write("client/random.bin", RandomBytes(65536, 1));
  CPackFile file;
  ASSERT_TRUE(Build(file, true));
  CTestPack pack = Read();
  EXPECT_EQ(1, pack.header.byCompressed);
  ASSERT_EQ(3u, pack.vecEntries.size());
  for (const PackEntry& entry : pack.vecEntries) {
    EXPECT_EQ(std::string("\x01\x5D\x00\x00\x80\x00", 6), pack.StoredBytes(entry).substr(0, 6)) << Name(entry);
  }
  EXPECT_EQ(strText, PlainOf(pack, "client\\text.txt"));
  EXPECT_LT(pack.FindEntry("client\\text.txt")->dwStoredSize, strText.size());
  EXPECT_EQ("", PlainOf(pack, "client\\empty.dat"));
  EXPECT_EQ(RandomBytes(65536, 1), PlainOf(pack, "client\\random.bin"));
  EXPECT_GT(pack.FindEntry("client\\random.bin")->dwStoredSize, 65536u);
  uint32_t dwTotal = kPackHeaderSize;
  for (const PackEntry& entry : pack.vecEntries) dwTotal += entry.dwStoredSize;
  EXPECT_EQ(dwTotal, pack.header.dwIndexOffset);
}

TEST_F(BuildTest, WalkSkipsSvnExactlyAndTakesFilesAsGiven) {
  Write("client/keep.txt", "k");
  Write("client/.svn/entries", "svn");
  Write("client/sub/.svn", "svn file");
  Write("client/up/.SVN/kept.txt", "upper case is walked");  // not beside .svn: Windows folds case
  CPackFile file;
  ASSERT_TRUE(Build(file, false));
  EXPECT_EQ((std::vector<std::string>{"client\\keep.txt", "client\\up\\.svn\\kept.txt"}), IndexNames(Read()));

  // A path handed over directly is walked even when it is ".svn"; a file is
  // listed alone; a missing path adds nothing.
  file.SetRootPath(Root().c_str());
  file.CollectFiles(Root("client/.svn").c_str());
  file.CollectFiles(Root("client/keep.txt").c_str());
  file.CollectFiles(Root("client/missing").c_str());
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, nullptr, nullptr, false));
  EXPECT_EQ((std::vector<std::string>{"client\\.svn\\entries", "client\\keep.txt"}), IndexNames(Read()));
}

TEST_F(BuildTest, EmptyRootIsTheHeaderAloneAndStateResetsAfterSuccess) {
  fs::create_directory(m_dir.Path() / "client");
  CPackFile file;
  ASSERT_TRUE(Build(file, false));
  EXPECT_EQ(kPackHeaderSize, fs::file_size(m_dir.Path() / "out" / "client.pak"));
  CTestPack pack = Read();
  EXPECT_EQ(0, pack.header.nEntryCount);
  EXPECT_EQ(kPackHeaderSize, pack.header.dwIndexOffset);
  {
    CPackFile opened;
    EXPECT_TRUE(opened.Open(Out() + "\\client.pak"));
  }

  // After a build the file list and tree are empty: the next build of the
  // same object writes an empty pack again.
  Write("client/a.txt", "a");
  file.SetRootPath(Root().c_str());
  file.CollectFiles(Root().c_str());
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, nullptr, nullptr, false));
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, nullptr, nullptr, false));
  EXPECT_EQ(kPackHeaderSize, fs::file_size(m_dir.Path() / "out" / "client.pak"));
}

TEST_F(BuildTest, BuildOverALongerFileEndsAtTheFreeList) {
  Write("client/a.txt", "alpha");
  WriteFileBytes(m_dir.Path() / "out" / "client.pak", std::string(100000, 'x'));
  CPackFile file;
  ASSERT_TRUE(Build(file, false));
  CTestPack pack = Read();
  EXPECT_EQ(kPackHeaderSize + 5 + kPackEntrySize + kPackDirRecordSize,
            fs::file_size(m_dir.Path() / "out" / "client.pak"));
  EXPECT_EQ("alpha", PlainOf(pack, "client\\a.txt"));
}

TEST_F(BuildTest, PackNameOverridesOnlyTheFileName) {
  Write("client/a.txt", "a");
  CPackFile file;
  file.SetRootPath(Root().c_str());
  file.CollectFiles(Root().c_str());
  char szOut[MAX_PATH] = {};
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, szOut, "patch", false));
  EXPECT_EQ(Lower(Out()) + "\\patch.pak", szOut);
  EXPECT_FALSE(fs::exists(m_dir.Path() / "out" / "client.pak"));
  CTestPack pack = Read("patch.pak");
  EXPECT_EQ("client", RootOf(pack.header));
  EXPECT_EQ(std::vector<std::string>{"client\\a.txt"}, IndexNames(pack));
}

TEST_F(BuildTest, UnnamedAndDuplicateFilesWriteNoBytesAndOnlyRecordedSourcesGo) {
  Write("client/a.txt", "first");
  Write("client/b.txt", "second");
  Write("elsewhere/z.txt", "no name");
  CPackFile file;
  file.SetRootPath(Root().c_str());
  file.AddFile(Root("client/a.txt").c_str());
  file.AddFile(Root("elsewhere/z.txt").c_str());
  file.AddFile(Root("client/a.txt").c_str());
  file.AddFile(Root("client/B.TXT").c_str());
  file.AddFile(Root("client/b.txt").c_str());
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, nullptr, nullptr, true));
  CTestPack pack = Read();
  EXPECT_EQ(2, pack.header.nEntryCount);
  EXPECT_EQ("firstsecond", pack.strData);
  EXPECT_EQ("second", PlainOf(pack, "client\\b.txt"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client" / "a.txt"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client" / "b.txt"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "elsewhere" / "z.txt"));
}

TEST_F(BuildTest, FailedBuildKeepsSourcesAndTheOldPackAndCanBeRunAgain) {
  Write("client/a.txt", "a");
  Write("client/sub/b.txt", "b");
  Write("client/zz.bin", "");
  fs::resize_file(m_dir.Path() / "client" / "zz.bin", 0x100000000ull);  // sparse, 4 GiB
  CTestPack old("client");
  old.AddEntry("client\\old.txt", "old");
  old.AddTreeForEntries();
  old.WriteTo(m_dir.Path() / "out" / "client.pak");

  CPackFile file;
  EXPECT_FALSE(Build(file, false, true));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), GetLastError());
  EXPECT_EQ(old.Bytes(), ReadFileBytes(m_dir.Path() / "out" / "client.pak"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(m_dir.Path() / "out"), fs::directory_iterator()));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "a.txt"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "sub" / "b.txt"));

  // The collected list and tree are kept, and a second run records each
  // file and directory once.
  fs::remove(m_dir.Path() / "client" / "zz.bin");
  ASSERT_TRUE(file.CreatePack(Root().c_str(), Out().c_str(), false, nullptr, nullptr, true));
  CTestPack pack = Read();
  EXPECT_EQ((std::vector<std::string>{"client\\a.txt", "client\\sub\\b.txt"}), IndexNames(pack));
  EXPECT_EQ(3u, pack.vecDirs.size());
  EXPECT_FALSE(fs::exists(m_dir.Path() / "client" / "a.txt"));
}

// A killed build leaves its work file <pack>.~N beside the pack. The next
// build of that pack removes them before it takes a name (with all hundred
// names taken, every build used to fail), but not one a build that still
// runs holds open: that name is passed over.
TEST_F(BuildTest, StaleWorkFilesOfThePackAreRemovedByTheNextBuild) {
  Write("client/a.txt", "a");
  for (int n = 0; n < 100; ++n) Write("out/client.pak.~" + std::to_string(n), "left by a killed build");
  Write("out/other.pak.~0", "another pack's");
  CScopedHandle hRunning(CreateFileA(m_dir.ProgramPath("out\\client.pak.~7").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hRunning);
  CPackFile file;
  ASSERT_TRUE(Build(file, false));
  EXPECT_EQ((std::vector<std::string>{"client\\a.txt"}), IndexNames(Read()));
  std::vector<std::string> vecLeft;
  for (const auto& item : fs::directory_iterator(m_dir.Path() / "out")) vecLeft.push_back(item.path().filename().string());
  std::sort(vecLeft.begin(), vecLeft.end());
  EXPECT_EQ((std::vector<std::string>{"client.pak", "client.pak.~7", "other.pak.~0"}), vecLeft);
}

TEST_F(BuildTest, DestinationThatCannotBeWrittenFailsCleanly) {
  Write("client/a.txt", "a");
  fs::create_directory(m_dir.Path() / "out" / "client.pak");
  CPackFile file;
  EXPECT_FALSE(Build(file, false, true));
  EXPECT_TRUE(fs::is_directory(m_dir.Path() / "out" / "client.pak"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "a.txt"));
  EXPECT_FALSE(file.CreatePack(Root().c_str(), Root("missing").c_str(), false, nullptr, nullptr, true));
  EXPECT_FALSE(file.CreatePack("no-backslash", Out().c_str(), false, nullptr, nullptr, true));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "client" / "a.txt"));
}

TEST_F(BuildTest, RootNameMustFitItsField) {
  const std::string strFits(32, 'r');
  Write(strFits + "/a.txt", "a");
  Write(strFits + "x/a.txt", "a");
  CPackFile tooLong;
  EXPECT_FALSE(Build(tooLong, false, false, strFits + "x"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "out" / (strFits + "x.pak")));
  CPackFile fits;
  ASSERT_TRUE(Build(fits, false, false, strFits));
  CTestPack pack = Read(strFits + ".pak");
  EXPECT_EQ(strFits, RootOf(pack.header));
  EXPECT_EQ(std::vector<std::string>{strFits + "\\a.txt"}, IndexNames(pack));
}

TEST_F(BuildTest, ChineseNamesBecomeCodePage936Entries) {
  Write(u8"客户端/资源/图标.txt", "icon");
  CPackFile file;
  ASSERT_TRUE(Build(file, false, false, u8"客户端"));
  CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / "out" / Utf8Path(u8"客户端.pak"));
  EXPECT_EQ(Gbk(u8"客户端"), RootOf(pack.header));
  EXPECT_EQ(std::vector<std::string>{Gbk(u8"客户端\\资源\\图标.txt")}, IndexNames(pack));
  ASSERT_EQ(2u, pack.vecDirs.size());
  EXPECT_EQ(Gbk(u8"客户端\\资源"), FieldString(pack.vecDirs[0].szFullPath, kPackNameSize));
  EXPECT_EQ("icon", PlainOf(pack, Gbk(u8"客户端\\资源\\图标.txt")));
}

TEST_F(BuildTest, ContentTagsAreTheMd5OfThePlainBytes) {
  Write("client/abc.txt", "abc");
  Write("client/empty.txt", "");
  CPackFile file;
  file.SetContentTags(true);
  ASSERT_TRUE(Build(file, true));
  CTestPack pack = Read();
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", std::string(pack.FindEntry("client\\abc.txt")->szTag, kPackTagSize));
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", std::string(pack.FindEntry("client\\empty.txt")->szTag, kPackTagSize));
}

// A client and an update, both built from trees named "client"; the update
// changes one file, keeps one and adds one.
class BuildMergeTest : public BuildTest {
 protected:
  BuildMergeTest() {
    Write("v1/client/same.txt", "unchanged");
    Write("v1/client/changed.txt", "old text");
    Write("v1/client/ui/old.txt", "old ui");
    Write("v2/client/same.txt", "unchanged");
    Write("v2/client/changed.txt", "new text, longer");
    Write("v2/client/ui/new.txt", "added");
    fs::current_path(m_dir.Path());
  }
  void BuildVersion(const std::string& strVersion, bool bCompress, bool bTags) {
    CPackFile file;
    file.SetContentTags(bTags);
    ASSERT_TRUE(Build(file, bCompress, false, strVersion + "/client"));
    fs::rename(m_dir.Path() / "out" / "client.pak", m_dir.Path() / (strVersion + ".pak"));
  }
  int Merge() {
    CRealizePack realize;
    return realize.MergePack(m_dir.ProgramPath("v2.pak").c_str(), m_dir.ProgramPath("v1.pak").c_str());
  }
  // Overwrites same.txt's stored bytes in the client, keeping its tag, so
  // that a merge that rewrites it shows.
  void MarkSameInClient() {
    CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "v1.pak");
    client.strData.replace(client.FindEntry("client\\same.txt")->dwOffset - kPackHeaderSize, 9, "MARKED!!!");
    WriteFileBytes(m_dir.Path() / "v1.pak", client.Bytes());
  }
};

TEST_F(BuildMergeTest, TaggedPacksMergeExactlyTheChangedEntries) {
  BuildVersion("v1", false, true);
  BuildVersion("v2", false, true);
  MarkSameInClient();
  ASSERT_EQ(1, Merge());
  CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "v1.pak");
  EXPECT_EQ("MARKED!!!", PlainOf(client, "client\\same.txt"));
  EXPECT_EQ("new text, longer", PlainOf(client, "client\\changed.txt"));
  EXPECT_EQ("added", PlainOf(client, "client\\ui\\new.txt"));
  EXPECT_EQ("old ui", PlainOf(client, "client\\ui\\old.txt"));
}

TEST_F(BuildMergeTest, UntaggedPacksCannotReplaceAnEntry) {
  BuildVersion("v1", false, false);
  BuildVersion("v2", false, false);
  ASSERT_EQ(1, Merge());
  CTestPack client = CTestPack::ReadFrom(m_dir.Path() / "v1.pak");
  EXPECT_EQ("old text", PlainOf(client, "client\\changed.txt"));
  EXPECT_EQ("added", PlainOf(client, "client\\ui\\new.txt"));
}

TEST_F(BuildMergeTest, BuiltPacksOpenAndMergeAcrossStorageKinds) {
  BuildVersion("v1", true, true);
  BuildVersion("v2", false, true);
  CPackFile client;
  CPackFile update;
  ASSERT_TRUE(client.Open(m_dir.ProgramPath("v1.pak")));
  ASSERT_TRUE(update.Open(m_dir.ProgramPath("v2.pak")));
  client.Close();
  update.Close();
  ASSERT_EQ(1, Merge());
  CPackFile merged;
  ASSERT_TRUE(merged.Open(m_dir.ProgramPath("v1.pak")));
  EXPECT_EQ(4u, merged.GetEntryMap()->size());
  merged.Close();
  CTestPack pack = CTestPack::ReadFrom(m_dir.Path() / "v1.pak");
  EXPECT_EQ(1, pack.header.byCompressed);
  EXPECT_EQ("unchanged", PlainOf(pack, "client\\same.txt"));
  EXPECT_EQ("new text, longer", PlainOf(pack, "client\\changed.txt"));
  EXPECT_EQ("added", PlainOf(pack, "client\\ui\\new.txt"));
  EXPECT_EQ("old ui", PlainOf(pack, "client\\ui\\old.txt"));
}

}  // namespace
