// Extraction to disk: single entries, the whole pack, directory trees, and
// hostile packs whose names try to leave the directory extraction starts in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace fs = std::filesystem;

namespace {

using CTree = std::map<std::string, std::string>;


std::string Pattern(size_t nSize, unsigned nSeed) {
  std::string str(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) str[i] = static_cast<char>((i * 31 + nSeed + i / 977) & 0xFF);
  return str;
}

// Every file (with its content) and directory ("<dir>") below root.
CTree Snapshot(const fs::path& root) {
  CTree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string strRel = fs::relative(item.path(), root).generic_u8string();
    tree[strRel] = item.is_directory() ? "<dir>" : ReadFileBytes(item.path());
  }
  return tree;
}

// Builds packs entry by entry, plain or compressed.
class CPackMaker {
 public:
  CPackMaker(const std::string& strRoot, bool bCompressed) : m_pack(strRoot, bCompressed) {}
  CPackMaker& Add(const std::string& strName, const std::string& strPlain) {
    const bool bCompressed = m_pack.header.byCompressed != 0;
    m_pack.AddEntry(strName, bCompressed ? Lzma86Encode(strPlain) : strPlain, "", static_cast<uint32_t>(strPlain.size()));
    return *this;
  }
  // An entry whose stored bytes cannot give its 8 plain bytes.
  CPackMaker& AddBroken(const std::string& strName) {
    m_pack.AddEntry(strName, m_pack.header.byCompressed ? Lzma86Encode("12345678").substr(0, 16) : "1234", "", 8);
    return *this;
  }
  CTestPack& Pack() { return m_pack; }

 private:
  CTestPack m_pack;
};

class ExtractTest : public ::testing::TestWithParam<bool> {
 protected:
  ExtractTest() {
    fs::create_directory(m_dir.Path() / "start");
    fs::current_path(m_dir.Path() / "start");
  }
  bool Compressed() const { return GetParam(); }

  void Open(CTestPack& pack) {
    m_pack.Close();
    pack.WriteTo(m_dir.Path() / "x.pak");
    ASSERT_TRUE(m_pack.Open(m_dir.ProgramPath("x.pak")));
  }
  std::string Out(const std::string& strName) const { return m_dir.ProgramPath("start/" + strName); }
  fs::path Start() const { return m_dir.Path() / "start"; }
  int ExtractTree(const std::string& strPath) {
    CCurrentDirGuard cwd;
    return m_pack.ExtractPath(strPath.c_str(), 1, "unused");
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
  CPackFile m_pack;
};

// Entries at offsets that are not multiples of 64 KiB, one of them 0 bytes
// long and one that cannot be read; names in key order as listed.
class ExtractFileTest : public ExtractTest {
 protected:
  void SetUp() override {
    CPackMaker maker("res", Compressed());
    maker.Add("res\\big.bin", Pattern(70001, 1)).Add("res\\empty.txt", "").Add("res\\ui\\a.txt", m_strA);
    maker.AddBroken("res\\zz\\broken.bin");
    Open(maker.Pack());
  }
  const std::string m_strA = Pattern(66000, 7);
};

TEST_P(ExtractFileTest, WritesExactlyThePlainBytes) {
  EXPECT_NE(0u, m_pack.GetEntryMap()->at("res\\ui\\a.txt")->dwOffset % 65536);
  WriteFileBytes(Start() / "a.out", std::string(200000, 'z'));
  ASSERT_EQ(1, m_pack.ExtractFile("res\\ui\\a.txt", Out("a.out").c_str()));
  EXPECT_EQ(m_strA, ReadFileBytes(Start() / "a.out")) << "no tail of the longer file stays";
  ASSERT_EQ(1, m_pack.ExtractFile("res\\big.bin", Out("big.out").c_str()));
  EXPECT_EQ(Pattern(70001, 1), ReadFileBytes(Start() / "big.out"));
  ASSERT_EQ(1, m_pack.ExtractFile("res\\empty.txt", Out("empty.out").c_str()));
  EXPECT_EQ("", ReadFileBytes(Start() / "empty.out"));
}

TEST_P(ExtractFileTest, AnEntryThatCannotBeReadLeavesNoFile) {
  EXPECT_EQ(0, m_pack.ExtractFile("res\\zz\\broken.bin", Out("new.out").c_str()));
  EXPECT_EQ(0, m_pack.ExtractFile("RES\\ui\\a.txt", Out("new.out").c_str())) << "names match exactly";
  EXPECT_FALSE(fs::exists(Start() / "new.out"));
  WriteFileBytes(Start() / "old.out", "old content");
  EXPECT_EQ(0, m_pack.ExtractFile("res\\zz\\broken.bin", Out("old.out").c_str()));
  EXPECT_EQ("old content", ReadFileBytes(Start() / "old.out"));
  EXPECT_EQ(0, m_pack.ExtractFile("res\\ui\\a.txt", Out("no-such-dir/a.out").c_str()));
}

// A batch reports every request in list order, each as ExtractFile would
// end, whether its entry was decoded ahead on a worker or not.
TEST_P(ExtractFileTest, ABatchReportsEachFileInOrderAsExtractFileWould) {
  for (int nWorkers : {1, 3}) {
    SCOPED_TRACE(nWorkers);
    const std::string strRun = "run" + std::to_string(nWorkers);
    fs::create_directory(Start() / strRun);
    auto out = [&](const std::string& strName) { return Out(strRun + "/" + strName); };
    const std::vector<CPackFile::ExtractRequest> vecRequests = {
        {"res\\ui\\a.txt", out("a.out")},        {"res\\zz\\broken.bin", out("broken.out")},
        {"res\\missing.txt", out("missing.out")}, {"res\\empty.txt", out("empty.out")},
        {"res\\big.bin", out("no-dir/big.out")},  {"res\\big.bin", out("big.out")}};
    m_pack.SetExtractWorkers(nWorkers);
    std::vector<std::pair<size_t, int>> vecResults;
    std::vector<DWORD> vecErrors;
    m_pack.ExtractFiles(vecRequests, [&](size_t nIndex, int nResult) {
      vecResults.push_back({nIndex, nResult});
      vecErrors.push_back(nResult ? 0 : GetLastError());
    });
    EXPECT_EQ((std::vector<std::pair<size_t, int>>{{0, 1}, {1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 1}}), vecResults);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), vecErrors[1]);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), vecErrors[2]);
    EXPECT_NE(0u, vecErrors[4]);
    EXPECT_EQ((CTree{{"a.out", m_strA}, {"big.out", Pattern(70001, 1)}, {"empty.out", ""}}),
              Snapshot(Start() / strRun));
  }
  m_pack.ExtractFiles({}, nullptr);
}

TEST_P(ExtractFileTest, ExtractAllLeavesTheLastEntryThatCouldBeWritten) {
  m_pack.ExtractAll(Out("all.out").c_str());
  EXPECT_EQ(m_strA, ReadFileBytes(Start() / "all.out"));
}

TEST_P(ExtractFileTest, SingleFileModeFoldsThePathAndTakesTheFirstRoot) {
  EXPECT_EQ(1, m_pack.ExtractPath("D:\\Game\\RES\\ui\\A.txt", 0, Out("a.out").c_str()));
  EXPECT_EQ(m_strA, ReadFileBytes(Start() / "a.out"));
  // The root is found inside "fresh": resh\res\ui\a.txt names nothing.
  EXPECT_EQ(0, m_pack.ExtractPath("C:\\fresh\\res\\ui\\a.txt", 0, Out("b.out").c_str()));
  EXPECT_EQ(0, m_pack.ExtractPath("C:\\other\\ui\\a.txt", 0, Out("b.out").c_str()));
  EXPECT_FALSE(fs::exists(Start() / "b.out"));

  // Only the first 256 characters count; 260 or more name nothing.
  const std::string strName = "\\res\\ui\\a.txt";
  EXPECT_EQ(1, m_pack.ExtractPath((std::string(256 - strName.size(), 'p') + strName).c_str(), 0,
                                  Out("c.out").c_str()));
  EXPECT_EQ(0, m_pack.ExtractPath((std::string(257 - strName.size(), 'p') + strName).c_str(), 0,
                                  Out("d.out").c_str()));
  EXPECT_EQ(0, m_pack.ExtractPath((std::string(400, 'p') + strName).c_str(), 0, Out("d.out").c_str()));
  EXPECT_EQ(0, m_pack.ExtractPath("res\\ui\\a.txt", 0, (Out("") + std::string(300, 'q')).c_str()));
  EXPECT_FALSE(fs::exists(Start() / "d.out"));
}

// The directory tree of a well-formed pack, with an empty directory and an
// entry that cannot be read.
class ExtractTreeTest : public ExtractTest {
 protected:
  void SetUp() override {
    CPackMaker maker("res", Compressed());
    maker.Add("res\\top.txt", "top").Add("res\\ui\\a.txt", Pattern(70000, 3)).Add("res\\ui\\img\\b.png", "png");
    maker.AddBroken("res\\ui\\broken.bin");
    maker.Pack().AddTreeForEntries();
    maker.Pack().AddDir(kPackDirKindDir, "res\\blank");
    Open(maker.Pack());
  }
  const CTree m_expected = {{"res", "<dir>"},
                            {"res/blank", "<dir>"},
                            {"res/top.txt", "top"},
                            {"res/ui", "<dir>"},
                            {"res/ui/a.txt", Pattern(70000, 3)},
                            {"res/ui/img", "<dir>"},
                            {"res/ui/img/b.png", "png"}};
};

TEST_P(ExtractTreeTest, TheRootGivesThePackTreeAgainAndAgain) {
  EXPECT_EQ(1, ExtractTree("E:\\Out\\Res"));
  EXPECT_EQ(m_expected, Snapshot(Start()));
  WriteFileBytes(Start() / "res/top.txt", "changed and longer");
  EXPECT_EQ(1, ExtractTree("res"));
  EXPECT_EQ(m_expected, Snapshot(Start()));

  // ExtractDir writes into the directory an extraction made.
  fs::remove(Start() / "res/ui/img/b.png");
  EXPECT_EQ(1, m_pack.ExtractDir("res\\ui"));
  EXPECT_EQ(m_expected, Snapshot(Start()));
}

TEST_P(ExtractTreeTest, ADirectoryBelowTheRootLandsInItsLastComponent) {
  EXPECT_EQ(1, ExtractTree("res\\UI"));
  const CTree expected = {{"ui", "<dir>"},
                          {"ui/a.txt", Pattern(70000, 3)},
                          {"ui/img", "<dir>"},
                          {"ui/img/b.png", "png"}};
  EXPECT_EQ(expected, Snapshot(Start()));
}

TEST_P(ExtractTreeTest, WhatNamesNoDirectoryCreatesNothing) {
  CPackFile fresh;
  ASSERT_TRUE(fresh.Open(m_dir.ProgramPath("x.pak")));
  EXPECT_EQ(1, fresh.ExtractDir("res")) << "no extraction directory yet";
  EXPECT_EQ(0, ExtractTree("res\\ui\\a.txt"));
  EXPECT_EQ(0, ExtractTree("res\\ui\\"));
  EXPECT_EQ(0, ExtractTree("res\\nothing"));
  EXPECT_EQ(0, ExtractTree("nowhere"));
  EXPECT_EQ(1, m_pack.ExtractDir("res\\missing"));
  EXPECT_EQ(1, m_pack.ExtractDir("res")) << "its directory was never made";
  CTree tree = Snapshot(m_dir.Path());
  tree.erase("x.pak");
  EXPECT_EQ((CTree{{"start", "<dir>"}}), tree);
}

TEST_P(ExtractTreeTest, PathsThatWouldReachMaxPathAreSkipped) {
  CPackMaker maker("res", Compressed());
  std::string strName = "res";
  std::vector<std::string> vecNames;
  for (int nLevel = 0; nLevel < 5; ++nLevel) {
    strName += "\\" + std::string(45, static_cast<char>('a' + nLevel));
    vecNames.push_back(strName + "\\f.txt");
    maker.Add(vecNames.back(), "level " + std::to_string(nLevel));
  }
  maker.Pack().AddTreeForEntries();
  Open(maker.Pack());
  EXPECT_EQ(1, ExtractTree("res"));
  const CTree tree = Snapshot(Start());
  const std::string strStart = m_dir.ProgramPath("start");
  int nWritten = 0;
  for (const std::string& strEntry : vecNames) {
    std::string strRelPosix = strEntry;
    std::replace(strRelPosix.begin(), strRelPosix.end(), '\\', '/');
    const bool bFits = strStart.size() + 1 + strEntry.size() < MAX_PATH;
    EXPECT_EQ(bFits, tree.count(strRelPosix) == 1) << strEntry;
    nWritten += bFits;
  }
  EXPECT_GT(nWritten, 0);
  EXPECT_LT(nWritten, 5);
}

// A pack whose records try every way out of the start directory; only
// res\ok.txt (and the harmless directory res\ui) may be written.
TEST_P(ExtractTreeTest, HostileNamesNeverLeaveTheStartDirectory) {
  CPackMaker maker("res", Compressed());
  maker.Add("res\\ok.txt", "ok");
  for (const char* pszName :
       {"res\\..\\up1.txt", "res\\..\\..\\up5.txt", "res\\ui\\..\\..\\up2.txt", "res\\..", "res\\.\\dot.txt",
        "res\\\\empty.txt", "res\\c:up3.txt", "res\\a/../../up4.txt", "res\\con", "res\\trail.", "res\\space ",
        "res\\ctl\x01.txt"}) {
    maker.Add(pszName, "evil");
  }
  maker.Pack().AddTreeForEntries();
  maker.Pack().AddDir(kPackDirKindDir, "res\\..\\..");
  maker.Pack().AddDir(kPackDirKindFile, "res\\");
  Open(maker.Pack());
  EXPECT_EQ(1, ExtractTree("res"));
  const CTree expected = {
      {"start", "<dir>"}, {"start/res", "<dir>"}, {"start/res/ok.txt", "ok"}, {"start/res/ui", "<dir>"}};
  CTree tree = Snapshot(m_dir.Path());
  tree.erase("x.pak");
  EXPECT_EQ(expected, tree);
}

TEST_P(ExtractTreeTest, AHostileRootNameIsNotADirectoryToMake) {
  CPackMaker maker("..", Compressed());
  maker.Add("..\\up.txt", "evil");
  maker.Pack().AddTreeForEntries();
  Open(maker.Pack());
  EXPECT_EQ(0, ExtractTree("x\\.."));
  CTree tree = Snapshot(m_dir.Path());
  tree.erase("x.pak");
  EXPECT_EQ((CTree{{"start", "<dir>"}}), tree);
}

// A real tree, built into a pack by the library's own builder and
// extracted whole: every file comes back byte for byte, also a second time.
TEST_P(ExtractTreeTest, ABuiltPackRoundTripsThroughDirectoryExtraction) {
  const fs::path src = m_dir.Path() / "src" / "Data";
  CTree source = {{"data", "<dir>"}};
  auto addFile = [&](const std::string& strRelUtf8, const std::string& strBytes) {
    fs::create_directories((src / Utf8Path(strRelUtf8)).parent_path());
    WriteFileBytes(src / Utf8Path(strRelUtf8), strBytes);
    for (fs::path rel = Utf8Path(strRelUtf8).parent_path(); !rel.empty(); rel = rel.parent_path()) {
      source["data/" + rel.generic_u8string()] = "<dir>";
    }
    source["data/" + strRelUtf8] = strBytes;
  };
  for (int i = 0; i < 40; ++i) addFile("ui/f" + std::to_string(i) + ".bin", Pattern(static_cast<size_t>(i) * 3001, i));
  addFile("top.txt", "top");
  addFile("empty.txt", "");
  addFile("ui/img/big.bin", Pattern(300000, 9));
  addFile(u8"\u754c\u9762/\u8bf4\u660e.txt", "gbk names");

  std::string strPack;
  {
    CCurrentDirGuard cwd;
    CPackFile builder;
    builder.SetRootPath(ToProgramPath(src).c_str());
    builder.CollectFiles(ToProgramPath(src).c_str());
    char szOut[MAX_PATH] = {};
    ASSERT_TRUE(builder.CreatePack(ToProgramPath(src).c_str(), m_dir.ProgramPath().c_str(), Compressed(), szOut,
                                   "built", false));
    strPack = szOut;
  }
  ASSERT_TRUE(m_pack.Open(strPack));
  EXPECT_EQ(Compressed() ? 1 : 0, m_pack.GetHeader()->byCompressed);
  for (int nRun = 0; nRun < 2; ++nRun) {
    EXPECT_EQ(1, ExtractTree("data"));
    EXPECT_EQ(source, Snapshot(Start())) << "run " << nRun;
  }
}

// Workers only decode ahead: with any number of them, the same files, the
// same skips (a broken entry, a directory blocked by a file on disk, a file
// and a directory of one name) and the same current directory left behind.
TEST_P(ExtractTreeTest, WorkersChangeNothingButTheSpeed) {
  CPackMaker maker("res", Compressed());
  for (int i = 0; i < 60; ++i) {
    maker.Add("res\\d" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".bin", Pattern(i * 997, i));
  }
  maker.Add("res\\blocked\\lost.txt", "lost").Add("res\\twin", "a file first");
  maker.AddBroken("res\\d3\\broken.bin");
  maker.Pack().AddTreeForEntries();
  maker.Pack().AddDir(kPackDirKindDir, "res\\twin");  // then a directory of the same name
  maker.Pack().AddDir(kPackDirKindFile, "res\\twin\\inside.txt");
  maker.Add("res\\twin\\inside.txt", "inside");
  maker.Pack().AddDir(kPackDirKindFile, "res\\zz-last.txt");
  maker.Add("res\\zz-last.txt", "last");
  Open(maker.Pack());

  std::vector<CTree> vecTrees;
  std::vector<std::string> vecCwds;
  for (int nWorkers : {1, 2, 5}) {
    SCOPED_TRACE(nWorkers);
    const fs::path start = m_dir.Path() / ("w" + std::to_string(nWorkers));
    fs::create_directories(start / "res");
    WriteFileBytes(start / "res" / "blocked", "a file where the pack has a directory");
    CCurrentDirGuard cwd;
    fs::current_path(start);
    m_pack.SetExtractWorkers(nWorkers);
    EXPECT_EQ(1, m_pack.ExtractPath("res", 1, "unused"));
    vecCwds.push_back(fs::relative(fs::current_path(), start).generic_u8string());
    vecTrees.push_back(Snapshot(start));
  }
  const CTree& tree = vecTrees[0];
  EXPECT_EQ(0u, tree.count("res/d3/broken.bin"));
  EXPECT_EQ("a file where the pack has a directory", tree.at("res/blocked"));
  EXPECT_EQ("a file first", tree.at("res/twin"));
  EXPECT_EQ(0u, tree.count("res/twin/inside.txt"));
  EXPECT_EQ("last", tree.at("res/zz-last.txt"));
  EXPECT_EQ(Pattern(59 * 997, 59), tree.at("res/d3/f59.bin"));
  EXPECT_EQ(8u + 60u + 3u, tree.size());  // res, d0..d6, the files, blocked, twin, zz-last
  for (size_t i = 1; i < vecTrees.size(); ++i) {
    EXPECT_EQ(vecTrees[0], vecTrees[i]) << "workers run " << i;
    EXPECT_EQ(vecCwds[0], vecCwds[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, ExtractFileTest, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, ExtractTreeTest, ::testing::Bool());

}  // namespace
