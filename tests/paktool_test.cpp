// paktool run as its users run it: the real executable as a child process
// in a temporary directory, with Chinese names on disk and on the command
// line, its standard output and exit status checked. A few of its helpers
// are tested directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/build.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/packpath.h"

namespace fs = std::filesystem;

namespace {

const int kTimeoutMs = 120000;

std::vector<std::string> Lines(const std::string& strOutput) {
  std::vector<std::string> vecLines;
  size_t nStart = 0;
  for (size_t nEnd; (nEnd = strOutput.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1) {
    std::string strLine = strOutput.substr(nStart, nEnd - nStart);
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    vecLines.push_back(strLine);
  }
  return vecLines;
}

std::vector<std::string> SortedLines(const std::string& strOutput) {
  std::vector<std::string> vecLines = Lines(strOutput);
  std::sort(vecLines.begin(), vecLines.end());
  return vecLines;
}

std::vector<std::string> SortedShown(std::vector<std::string> vecUtf8) {
  for (std::string& str : vecUtf8) str = Shown(str);
  std::sort(vecUtf8.begin(), vecUtf8.end());
  return vecUtf8;
}

std::string Pattern(size_t nSize, unsigned nSeed) {
  std::string str(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) str[i] = static_cast<char>((i * 7 + nSeed + i / 251) & 0xFF);
  return str;
}

// Every file (with its content) and directory ("<dir>") below root.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> mapTree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string strRel = fs::relative(item.path(), root).generic_u8string();
    mapTree[strRel] = item.is_directory() ? "<dir>" : ReadFileBytes(item.path());
  }
  return mapTree;
}

class PaktoolTest : public ::testing::Test {
 protected:
  // Runs paktool in the temporary directory; arguments are UTF-8.
  CChildResult Run(std::vector<std::string> vecArgs) {
    vecArgs.insert(vecArgs.begin(), "paktool");
    CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecArgs, m_dir.Path(), kTimeoutMs);
    EXPECT_TRUE(result.bEnded) << "paktool did not end";
    return result;
  }
  // Runs paktool, which must succeed; returns its output.
  std::string Ok(const std::vector<std::string>& vecArgs) {
    CChildResult result = Run(vecArgs);
    EXPECT_EQ(0, result.nExitCode) << vecArgs[0] << " failed:\n" << result.strOutput;
    return result.strOutput;
  }

  fs::path Path(const std::string& strRelUtf8) const { return m_dir.Path() / Utf8Path(strRelUtf8); }
  void WriteTestFile(const std::string& strRelUtf8, const std::string& strBytes) const {
    fs::create_directories(Path(strRelUtf8).parent_path());
    WriteFileBytes(Path(strRelUtf8), strBytes);
  }

  // A client tree below src/资源, names in lower case (packs fold A-Z).
  void WriteSourceTree() const {
    WriteTestFile("src/资源/界面/标题.txt", "欢迎");
    WriteTestFile("src/资源/界面/icon.bin", Pattern(3000, 1));
    WriteTestFile("src/资源/地图/城镇/街道.map", Pattern(70000, 2));
    WriteTestFile("src/资源/readme.txt", "read me\n");
  }

  CTempDir m_dir;
};

class PaktoolRoundTripTest : public PaktoolTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PaktoolRoundTripTest, BuildInfoListVerifyExtractCat) {
  const bool bCompress = GetParam();
  WriteSourceTree();
  fs::create_directory(Path("out"));
  std::vector<std::string> vecBuild = {"build", "src/资源", "-o", "out/资源.pak"};
  if (bCompress) vecBuild.push_back("--compress");
  EXPECT_EQ(0u,
            Ok(vecBuild).find(Shown("out/资源.pak: 4 entries below 资源/, ") + (bCompress ? "compressed" : "plain")));

  const std::string strInfo = Ok({"info", "out/资源.pak"});
  EXPECT_NE(std::string::npos, strInfo.find(Shown("root name:    资源\n"))) << strInfo;
  EXPECT_NE(std::string::npos, strInfo.find(bCompress ? "compressed:   yes" : "compressed:   no")) << strInfo;
  EXPECT_NE(std::string::npos, strInfo.find("entries:      4\n")) << strInfo;
  EXPECT_NE(std::string::npos, strInfo.find("directories:  3\n")) << strInfo;

  EXPECT_EQ(SortedShown({"资源/界面/", "资源/地图/", "资源/readme.txt"}), SortedLines(Ok({"list", "out/资源.pak"})));
  EXPECT_EQ(SortedShown({"资源/界面/", "资源/界面/标题.txt", "资源/界面/icon.bin", "资源/地图/", "资源/地图/城镇/",
                         "资源/地图/城镇/街道.map", "资源/readme.txt"}),
            SortedLines(Ok({"list", "-r", "out/资源.pak"})));
  EXPECT_EQ(SortedShown({"资源/界面/标题.txt", "资源/界面/icon.bin"}),
            SortedLines(Ok({"list", "out/资源.pak", "界面"})));
  const std::vector<std::string> vecLong = Lines(Ok({"list", "--long", "out/资源.pak", "资源/界面/icon.bin"}));
  ASSERT_EQ(1u, vecLong.size());
  EXPECT_EQ(0u, vecLong[0].find("      3000 ")) << vecLong[0];

  EXPECT_EQ(Shown("out/资源.pak: OK\n"), Ok({"verify", "out/资源.pak"}));

  fs::create_directory(Path("whole"));
  Ok({"extract", "out/资源.pak", "-C", "whole"});
  EXPECT_EQ(Snapshot(Path("src")), Snapshot(Path("whole")));

  fs::create_directory(Path("part"));
  Ok({"extract", "out/资源.pak", "地图", "-C", "part"});
  EXPECT_EQ(Snapshot(Path("src/资源/地图")), Snapshot(Path("part/资源/地图")));
  EXPECT_FALSE(fs::exists(Path("part/资源/界面")));

  EXPECT_EQ("欢迎", Ok({"cat", "out/资源.pak", "界面/标题.txt"}));
  EXPECT_EQ(Pattern(70000, 2), Ok({"cat", "out/资源.pak", "资源\\地图\\城镇\\街道.map"}));
}

INSTANTIATE_TEST_SUITE_P(PlainAndCompressed, PaktoolRoundTripTest, ::testing::Bool());

TEST_F(PaktoolTest, MergeThenVerify) {
  WriteSourceTree();
  Ok({"build", "src/资源", "--tags", "-o", "client.pak"});
  WriteTestFile("src/资源/界面/标题.txt", "新的标题，比原来的长");
  WriteTestFile("src/资源/界面/新.txt", "new file");
  // Only the changed directory, below the same root, as an update is made.
  Ok({"build", "src/资源/界面", "--name", "资源", "--tags", "-z", "-o", "update.pak"});
  EXPECT_EQ(SortedShown({"资源/界面/", "资源/界面/标题.txt", "资源/界面/icon.bin", "资源/界面/新.txt"}),
            SortedLines(Ok({"list", "-r", "update.pak"})));

  EXPECT_EQ("merged update.pak into client.pak\n", Ok({"merge", "update.pak", "client.pak"}));
  EXPECT_EQ("client.pak: OK\n", Ok({"verify", "client.pak"}));
  EXPECT_EQ("新的标题，比原来的长", Ok({"cat", "client.pak", "界面/标题.txt"}));
  EXPECT_EQ("new file", Ok({"cat", "client.pak", "界面/新.txt"}));
  EXPECT_EQ(Pattern(70000, 2), Ok({"cat", "client.pak", "地图/城镇/街道.map"}));

  // Packs shipped read-only are read and merged from; merging into one fails.
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions(Path("client.pak"), readOnly);
  EXPECT_EQ("new file", Ok({"cat", "client.pak", "界面/新.txt"}));
  EXPECT_NE(std::string::npos, Ok({"info", "client.pak"}).find("entries:      5\n"));
  EXPECT_EQ(SortedShown({"资源/界面/", "资源/地图/", "资源/readme.txt"}), SortedLines(Ok({"list", "client.pak"})));
  fs::create_directory(Path("whole"));
  Ok({"extract", "client.pak", "-C", "whole"});
  EXPECT_EQ("new file", ReadFileBytes(Path("whole/资源/界面/新.txt")));
  const CChildResult into = Run({"merge", "update.pak", "client.pak"});
  EXPECT_EQ(1, into.nExitCode) << into.strOutput;
  fs::permissions(Path("client.pak"), readOnly | fs::perms::owner_write);
}

#ifndef _WIN32
// Packs on read-only media, where opening for writing fails with
// ERROR_WRITE_PROTECT rather than ERROR_ACCESS_DENIED, are listed, shown,
// checked and extracted all the same; merging into one fails. The medium
// is a read-only bind mount, which needs the right to mount: skipped
// without it.
class CReadOnlyMount {
 public:
  CReadOnlyMount(const fs::path& from, const fs::path& to) : m_to(to) {
    const std::string strFrom = "'" + from.string() + "' '" + to.string() + "'";
    m_bMounted = std::system(("mount --bind " + strFrom + " 2>/dev/null").c_str()) == 0;
    m_bReadOnly =
        m_bMounted && std::system(("mount -o remount,ro,bind '" + to.string() + "' 2>/dev/null").c_str()) == 0;
  }
  ~CReadOnlyMount() {
    if (m_bMounted) std::system(("umount '" + m_to.string() + "'").c_str());
  }
  bool ReadOnly() const { return m_bReadOnly; }

 private:
  fs::path m_to;
  bool m_bMounted = false;
  bool m_bReadOnly = false;
};

TEST_F(PaktoolTest, PacksOnReadOnlyMediaAreRead) {
  WriteSourceTree();
  fs::create_directories(Path("media"));
  fs::create_directories(Path("ro"));
  Ok({"build", "src/资源", "--tags", "-o", "media/client.pak"});
  CReadOnlyMount mount(Path("media"), Path("ro"));
  if (!mount.ReadOnly()) GTEST_SKIP() << "no read-only bind mount can be made here";
  EXPECT_EQ(SortedShown({"资源/界面/", "资源/地图/", "资源/readme.txt"}), SortedLines(Ok({"list", "ro/client.pak"})));
  EXPECT_NE(std::string::npos, Ok({"info", "ro/client.pak"}).find("entries:      4\n"));
  EXPECT_EQ("ro/client.pak: OK\n", Ok({"verify", "ro/client.pak"}));
  EXPECT_EQ("欢迎", Ok({"cat", "ro/client.pak", "界面/标题.txt"}));
  fs::create_directory(Path("whole"));
  Ok({"extract", "ro/client.pak", "-C", "whole"});
  EXPECT_EQ(Snapshot(Path("src")), Snapshot(Path("whole")));
  Ok({"build", "src/资源/界面", "--name", "资源", "--tags", "-o", "update.pak"});
  const CChildResult into = Run({"merge", "update.pak", "ro/client.pak"});
  EXPECT_EQ(1, into.nExitCode) << into.strOutput;
}
#endif

TEST_F(PaktoolTest, CompactOnlyAboveTheHoleShareGiven) {
  WriteSourceTree();
  Ok({"build", "src/资源", "--tags", "-o", "client.pak"});
  WriteTestFile("src/资源/地图/城镇/街道.map", Pattern(70001, 5));  // moves to the end, a 70000-byte hole behind
  Ok({"build", "src/资源/地图", "--name", "资源", "--tags", "-z", "-o", "update.pak"});
  Ok({"merge", "update.pak", "client.pak"});
  const std::string strMerged = ReadFileBytes(Path("client.pak"));
  const std::string strSize = std::to_string(strMerged.size());
  const double dShare = 70000.0 / static_cast<double>(strMerged.size());
  char szShare[16];
  std::snprintf(szShare, sizeof(szShare), "%.1f%%", dShare * 100);
  EXPECT_NE(std::string::npos,
            Ok({"info", "client.pak"}).find("holes:        70000 bytes (" + std::string(szShare) + " of the file)\n"));

  EXPECT_EQ(
      "client.pak: " + std::string(szShare) + " of " + strSize + " bytes in holes, not over 60.0%: left as it is\n",
      Ok({"compact", "client.pak", "--if-holes", "60"}));
  EXPECT_EQ(strMerged, ReadFileBytes(Path("client.pak")));
  const std::string strCompacted = std::to_string(strMerged.size() - 70000 - kPackFreeBlockSize);
  EXPECT_EQ("client.pak: compacted from " + strSize + " to " + strCompacted + " bytes (" + szShare + " in holes)\n",
            Ok({"compact", "client.pak", "--if-holes", "40"}));
  EXPECT_EQ("client.pak: OK\n", Ok({"verify", "client.pak"}));
  EXPECT_EQ(Pattern(70001, 5), Ok({"cat", "client.pak", "地图/城镇/街道.map"}));
  EXPECT_NE(std::string::npos, Ok({"info", "client.pak"}).find("holes:        0 bytes (0.0% of the file)\n"));
  // Without --if-holes, whatever the holes.
  EXPECT_EQ("client.pak: compacted from " + strCompacted + " to " + strCompacted + " bytes (0.0% in holes)\n",
            Ok({"compact", "client.pak"}));
  EXPECT_NE(std::string::npos, Ok({"compact", "--help"}).find("paktool compact"));

  EXPECT_EQ(2, Run({"compact", "client.pak", "--if-holes", "101"}).nExitCode);
  CTestPack damaged("res");
  damaged.AddEntry("res\\a.txt", "aaaa");
  damaged.AddHole(100);
  damaged.WriteTo(Path("bad.pak"));
  const CChildResult refused = Run({"compact", "bad.pak"});
  EXPECT_EQ(1, refused.nExitCode);
  EXPECT_EQ("", refused.strOutput);
  EXPECT_EQ(damaged.Bytes(), ReadFileBytes(Path("bad.pak")));
  EXPECT_EQ(1, Run({"compact", "missing.pak"}).nExitCode);
}

TEST_F(PaktoolTest, VerifyReportsDamageAndFails) {
  struct CCase {
    const char* pszWhat;
    CTestPack pack;
    std::string strProblem;
  };
  CTestPack overlap("res");
  overlap.AddEntry("res\\a.txt", "aaaaaaaa");
  overlap.AddEntry("res\\b.txt", "bbbbbbbb").dwOffset -= 4;
  overlap.AddTreeForEntries();
  CTestPack pastEnd("res");
  pastEnd.AddEntry("res\\a.txt", "aaaaaaaa").dwOffset += 4;
  pastEnd.AddTreeForEntries();
  CTestPack truncated("res", true);
  truncated.AddEntry("res\\a.txt", Lzma86Encode(Pattern(4000, 3)).substr(0, 40), "", 4000);
  truncated.AddTreeForEntries();
  const std::vector<CCase> vecCases = {
      {"overlapping blobs", overlap, "bad.pak: entry \"res/b.txt\" overlaps entry \"res/a.txt\"\n"},
      {"entry past the data area", pastEnd, "bad.pak: entry \"res/a.txt\" (offset 64, 8 bytes) lies outside"},
      {"truncated stream", truncated, "bad.pak: entry \"res/a.txt\" does not decode"}};
  for (const CCase& test : vecCases) {
    test.pack.WriteTo(Path("bad.pak"));
    CChildResult result = Run({"verify", "bad.pak"});
    EXPECT_EQ(1, result.nExitCode) << test.pszWhat;
    EXPECT_NE(std::string::npos, result.strOutput.find(test.strProblem)) << test.pszWhat << ":\n" << result.strOutput;
  }
}

TEST_F(PaktoolTest, ExtractReportsEachEntryItCouldNotWrite) {
  CTestPack pack("res", true);
  pack.AddEntry("res\\a.txt", Lzma86Encode(Pattern(5000, 1)), "", 5000);
  pack.AddEntry("res\\b.txt", Lzma86Encode(Pattern(4000, 3)).substr(0, 40), "", 4000);
  pack.AddEntry("res\\c.txt", Lzma86Encode("c"), "", 1);
  pack.AddTreeForEntries();
  pack.AddDir(kPackDirKindFile, "res\\ghost.txt");
  pack.WriteTo(Path("bad.pak"));
  fs::create_directory(Path("out"));
  const CChildResult result = Run({"extract", "bad.pak", "-C", "out"});
  EXPECT_EQ(1, result.nExitCode);  // each failure is reported on stderr, with its reason
  EXPECT_EQ("", result.strOutput);
  EXPECT_EQ((std::map<std::string, std::string>{{"res", "<dir>"}, {"res/a.txt", Pattern(5000, 1)}, {"res/c.txt", "c"}}),
            Snapshot(Path("out")));
}

TEST_F(PaktoolTest, BuildFromAConfigDirWorkDirectory) {
  WriteTestFile("work/Data/ui/u.txt", "u");
  WriteTestFile("work/Data/maps/m.txt", "m");
  WriteTestFile("work/Data/unlisted/x.txt", "x");
  WriteTestFile("work/Data/ConfigDir.txt", "ui\r\nmaps\r\n");
  WriteTestFile("work/Data/data.pak", "an older pack");
  fs::create_directory(Path("out"));

  EXPECT_EQ(
      0u,
      Ok({"build", "--config-dir", "work/Data", "-o", "out/cfg"}).find("out/cfg.pak: 2 entries below data/, plain, "));
  EXPECT_EQ(SortedShown({"data/ui/", "data/ui/u.txt", "data/maps/", "data/maps/m.txt"}),
            SortedLines(Ok({"list", "-r", "out/cfg.pak"})));
  // The pack in the work directory was only moved aside for the build.
  EXPECT_EQ("an older pack", ReadFileBytes(Path("work/Data/data.pak")));

  Ok({"build", "--config-dir", "work/Data"});
  EXPECT_EQ("work/Data/data.pak: OK\n", Ok({"verify", "work/Data/data.pak"}));
  for (const auto& item : fs::directory_iterator(Path("work/Data"))) {
    EXPECT_EQ(std::string::npos, item.path().filename().u8string().find("paktool")) << item.path();
  }

  EXPECT_EQ(1, Run({"build", "--config-dir", "work"}).nExitCode);  // no ConfigDir.txt there
}

TEST_F(PaktoolTest, BuildFromAFileList) {
  WriteSourceTree();
  // A list is code page 936 with CR LF line ends; the first line names the root.
  WriteTestFile("files.lst", Gbk("src\\资源\r\nsrc\\资源\\界面\\标题.txt\r\nsrc\\资源\\readme.txt"));
  Ok({"build", "--list", "files.lst", "-o", "l.pak"});
  EXPECT_EQ(SortedShown({"资源/界面/", "资源/界面/标题.txt", "资源/readme.txt"}),
            SortedLines(Ok({"list", "-r", "l.pak"})));
  EXPECT_EQ("l.pak: OK\n", Ok({"verify", "l.pak"}));
}

// Building, listing, extracting and showing work wherever the root name's
// letters occur: in the current directory, the source's path and the
// destination.
TEST_F(PaktoolTest, PathsThatHoldTheRootNameElsewhere) {
  WriteTestFile("fresh res 目录/res/UI/Title.txt", "title");
  WriteTestFile("fresh res 目录/res/地图/town.map", Pattern(5000, 3));
  const fs::path cwd = Path("fresh res 目录");
  auto RunIn = [&](const std::vector<std::string>& vecArgs) {
    std::vector<std::string> vecFull = {"paktool"};
    vecFull.insert(vecFull.end(), vecArgs.begin(), vecArgs.end());
    CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecFull, cwd, kTimeoutMs);
    EXPECT_EQ(0, result.nExitCode) << vecArgs[0] << " failed:\n" << result.strOutput;
    return result.strOutput;
  };
  EXPECT_EQ(0u, RunIn({"build", "res", "--tags", "-z", "-o", "res.pak"}).find("res.pak: 2 entries below res/"));
  EXPECT_EQ(SortedShown({"res/ui/", "res/ui/title.txt", "res/地图/", "res/地图/town.map"}),
            SortedLines(RunIn({"list", "-r", "res.pak"})));
  EXPECT_EQ("title", RunIn({"cat", "res.pak", "ui/title.txt"}));
  EXPECT_EQ("title", RunIn({"cat", "res.pak", "res/ui/title.txt"}));
  fs::create_directories(Path("fresh res 目录/out res"));
  RunIn({"extract", "res.pak", "-C", "out res"});
  EXPECT_EQ("title", ReadFileBytes(cwd / "out res" / "res" / "ui" / "title.txt"));
  EXPECT_EQ(Pattern(5000, 3), ReadFileBytes(cwd / Utf8Path("out res/res/地图/town.map")));
  fs::create_directories(Path("fresh res 目录/one res"));
  RunIn({"extract", "res.pak", "ui/title.txt", "-C", "one res"});
  EXPECT_EQ("title", ReadFileBytes(cwd / "one res" / "res" / "ui" / "title.txt"));
}

TEST_F(PaktoolTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> vecCases = {
      {},
      {"nonsense"},
      {"list"},
      {"list", "x.pak", "--bogus"},
      {"info", "a.pak", "b.pak"},
      {"build"},
      {"build", "src", "--list", "files.lst"},
      {"build", "--config-dir", "work", "--name", "x"},
      {"build", "src", "-o", ".pak"},
      {"cat", "x.pak"},
      {"merge", "update.pak"},
  };
  for (const std::vector<std::string>& vecArgs : vecCases) {
    CChildResult result = Run(vecArgs);
    EXPECT_EQ(2, result.nExitCode) << (vecArgs.empty() ? "(none)" : vecArgs[0]) << " " << vecArgs.size();
    EXPECT_EQ("", result.strOutput);
  }
}

TEST_F(PaktoolTest, HelpSucceeds) {
  EXPECT_NE(std::string::npos, Ok({"--help"}).find("Usage: paktool"));
  for (const char* pszCommand : {"build", "list", "info", "extract", "cat", "merge", "verify"}) {
    EXPECT_NE(std::string::npos, Ok({pszCommand, "--help"}).find(std::string("paktool ") + pszCommand)) << pszCommand;
  }
}

TEST_F(PaktoolTest, FailuresExitWithOne) {
  WriteSourceTree();
  Ok({"build", "src/资源", "-o", "p.pak"});
  const std::vector<std::vector<std::string>> vecCases = {
      {"info", "missing.pak"},           {"verify", "missing.pak"},
      {"list", "p.pak", "no/such/dir"},  {"cat", "p.pak", "界面/none.txt"},
      {"cat", "p.pak", "界面"},          {"extract", "p.pak", "-C", "missing-dir"},
      {"build", "missing-dir"},          {"build", "src/资源", "--name", "elsewhere"},
      {"merge", "missing.pak", "p.pak"},
  };
  for (const std::vector<std::string>& vecArgs : vecCases) {
    CChildResult result = Run(vecArgs);
    EXPECT_EQ(1, result.nExitCode) << vecArgs[0] << " " << vecArgs[1];
  }
  EXPECT_EQ("p.pak: OK\n", Ok({"verify", "p.pak"}));  // a failed merge wrote nothing
}

TEST_F(PaktoolTest, KeygenSignAndVerifyWithTheKey) {
  WriteSourceTree();
  Ok({"build", "src/资源", "--tags", "-o", "update.pak"});
  const std::string strKeygen = Ok({"keygen", "发布"});
  PackPublicKey key;
  ASSERT_EQ(PackKeyStatus::kOk, ReadPackPublicKey(ToProgramPath(Path("发布.pub")), key));
  EXPECT_EQ(Shown("发布.key: secret key, readable by its owner only: keep it private\n"
                  "发布.pub: public key, for 'paktool verify --key' and the updater\n"
                  "key id " +
                  PackKeyId(key) +
                  ": every statement signed with it names it.\n"
                  "To replace a key: ship an updater built with the old and the new public key\n"
                  "  (PATCHLOOM_UPDATE_KEY=\"old.pub;new.pub\"), then sign with the new key only;\n"
                  "  a later updater built with the new key alone stops trusting the old one.\n"),
            strKeygen);
  const std::string strSecret = ReadFileBytes(Path("发布.key"));
  EXPECT_EQ(1, Run({"keygen", "发布"}).nExitCode);
  EXPECT_EQ(strSecret, ReadFileBytes(Path("发布.key")));
  Ok({"keygen", "other"});

  EXPECT_EQ(std::string("update.pak.sig: signed version 1.02 of ") + kPackProduct + " for clients of any version\n",
            Ok({"sign", "update.pak", "--key", "发布.key", "--version", "1.02"}));
  const std::string strGood = std::string("update.pak: signed version 1.02 of ") + kPackProduct +
                              "\nupdate.pak: for clients of any version\nupdate.pak: OK\n";
  EXPECT_EQ(strGood, Ok({"verify", "update.pak", "--key", "发布.pub"}));
  EXPECT_EQ("update.pak: OK\n", Ok({"verify", "update.pak"}));

  struct CCase {
    const char* pszWhat;
    bool bChangePack;
    std::vector<std::string> vecArgs;
    std::string strRefusal;
  };
  const std::string strPack = ReadFileBytes(Path("update.pak"));
  std::string strChanged = strPack;
  strChanged[100] ^= 0x01;  // inside the first entry: still a sound pack
  const std::vector<CCase> vecCases = {
      {"changed pack",
       true,
       {"verify", "update.pak", "--key", "发布.pub"},
       "the pack's digest is not the signed digest"},
      {"other key", false, {"verify", "update.pak", "--key", "other.pub"}, "bad signature"},
      {"other product",
       false,
       {"verify", "update.pak", "--key", "发布.pub", "--product", "Grumvel"},
       "signed for another product"},
  };
  for (const CCase& test : vecCases) {
    WriteFileBytes(Path("update.pak"), test.bChangePack ? strChanged : strPack);
    const CChildResult result = Run(test.vecArgs);
    EXPECT_EQ(1, result.nExitCode) << test.pszWhat;
    EXPECT_EQ("update.pak: signature refused: ", result.strOutput.substr(0, 31)) << result.strOutput;
    EXPECT_NE(std::string::npos, result.strOutput.find(test.strRefusal)) << test.pszWhat << ": " << result.strOutput;
  }
  EXPECT_EQ("update.pak: OK\n", Ok({"verify", "update.pak"}));  // without a key the format alone counts
  fs::remove(Path("update.pak.sig"));
  EXPECT_EQ("update.pak: signature refused: no signature file\n",
            Run({"verify", "update.pak", "--key", "发布.pub"}).strOutput);
}

TEST_F(PaktoolTest, SignAndVerifyRefuseWhatIsNotRight) {
  Ok({"keygen", "k"});
  WriteTestFile("notes.txt", "not a pack");
  CTestPack overlap("res");
  overlap.AddEntry("res\\a.txt", "aaaaaaaa");
  overlap.AddEntry("res\\b.txt", "bbbbbbbb").dwOffset -= 4;
  overlap.AddTreeForEntries();
  overlap.WriteTo(Path("bad.pak"));
  CTestPack sound("res");
  sound.AddEntry("res\\a.txt", "aaaaaaaa");
  sound.AddTreeForEntries();
  sound.WriteTo(Path("good.pak"));

  const std::vector<std::vector<std::string>> vecFailures = {
      {"sign", "notes.txt", "--key", "k.key", "--version", "1"},
      {"sign", "bad.pak", "--key", "k.key", "--version", "1"},
      {"sign", "good.pak", "--key", "k.pub", "--version", "1"},
      {"sign", "good.pak", "--key", "missing.key", "--version", "1"},
      {"verify", "good.pak", "--key", "k.key"},
      {"verify", "good.pak", "--key", "notes.txt"},
  };
  for (const std::vector<std::string>& vecArgs : vecFailures) {
    EXPECT_EQ(1, Run(vecArgs).nExitCode) << vecArgs[0] << " " << vecArgs[1] << " " << vecArgs[3];
  }
  const std::vector<std::vector<std::string>> vecUsage = {
      {"sign", "good.pak", "--key", "k.key"},
      {"sign", "good.pak", "--version", "1"},
      {"sign", "good.pak", "--key", "k.key", "--version", "1 2"},
      {"sign", "good.pak", "--key", "k.key", "--version", "1", "--product", ""},
      {"keygen"},
  };
  for (const std::vector<std::string>& vecArgs : vecUsage) EXPECT_EQ(2, Run(vecArgs).nExitCode) << vecArgs.size();
  for (const char* pszPack : {"notes.txt", "bad.pak", "good.pak"}) {
    EXPECT_FALSE(fs::exists(Path(std::string(pszPack) + ".sig"))) << pszPack;
  }
  for (const char* pszCommand : {"keygen", "sign"}) {
    EXPECT_NE(std::string::npos, Ok({pszCommand, "--help"}).find(std::string("paktool ") + pszCommand)) << pszCommand;
  }
}

TEST(PaktoolHelpersTest, ErrorCodesInWords) {
  EXPECT_EQ("file not found", paktool::ErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ("access denied", paktool::ErrorText(ERROR_ACCESS_DENIED));
  EXPECT_EQ("in use by another program", paktool::ErrorText(ERROR_SHARING_VIOLATION));
  EXPECT_EQ("disk full", paktool::ErrorText(ERROR_DISK_FULL));
  EXPECT_EQ("not a valid pack or update", paktool::ErrorText(ERROR_INVALID_DATA));
  EXPECT_EQ("system error 9999", paktool::ErrorText(9999));
}

TEST(PaktoolHelpersTest, OutputPathBecomesDirectoryAndFileName) {
  paktool::CBuildTarget target;
  ASSERT_TRUE(paktool::MakeBuildTarget("out/Client.PAK", target));
  EXPECT_TRUE(target.bGiven);
  EXPECT_EQ("Client", target.strFileName);
  EXPECT_EQ("out", target.strDir.substr(target.strDir.size() - 3));
  EXPECT_EQ("out/Client.PAK", target.strShown);

  ASSERT_TRUE(paktool::MakeBuildTarget("update", target));
  EXPECT_EQ("update", target.strFileName);
  EXPECT_EQ("update.pak", target.strShown);

  ASSERT_TRUE(paktool::MakeBuildTarget("", target));
  EXPECT_FALSE(target.bGiven);
  EXPECT_EQ("", target.strFileName);

  EXPECT_FALSE(paktool::MakeBuildTarget("out/.pak", target));
}

TEST(PaktoolHelpersTest, NamesAreTakenWithOrWithoutTheRoot) {
  CTempDir dir;
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "a");
  pack.AddEntry(Gbk("res\\地图\\城.map"), "m");
  pack.AddTreeForEntries();
  pack.WriteTo(dir.Path() / "x.pak");
  CPackFile file;
  ASSERT_TRUE(file.Open(dir.ProgramPath("x.pak")));

  const paktool::CPackItem entry = paktool::FindPackItem(file, "UI/A.TXT");
  EXPECT_EQ(paktool::PackItemKind::kEntry, entry.kind);
  EXPECT_EQ("res\\ui\\a.txt", entry.strName);
  EXPECT_EQ(paktool::PackItemKind::kDirectory, paktool::FindPackItem(file, "res/ui/").kind);
  EXPECT_EQ(paktool::PackItemKind::kDirectory, paktool::FindPackItem(file, Gbk("\\地图")).kind);
  const paktool::CPackItem root = paktool::FindPackItem(file, "");
  EXPECT_EQ(paktool::PackItemKind::kDirectory, root.kind);
  EXPECT_EQ("res", root.strName);
  EXPECT_EQ(paktool::PackItemKind::kNone, paktool::FindPackItem(file, "ui/b.txt").kind);
}

TEST(PaktoolHelpersTest, ShownNamesKeepDoubleByteCharacters) {
  // The second byte of 乗 in code page 936 is 0x5C, a backslash.
  EXPECT_EQ(Gbk("res/乗/a.txt"), paktool::ShownName(Gbk("res\\乗\\a.txt")));
}

}  // namespace
