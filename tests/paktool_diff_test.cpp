// paktool diff, merge --dry-run, and the files a build leaves out, run as
// their users run them: the real executable as a child process, releases
// with Chinese names on disk, output and exit status checked, JSON parsed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/pack_writer.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const int kTimeoutMs = 120000;

bool Contains(const std::string& strText, const std::string& strPart) {
  return strText.find(strPart) != std::string::npos;
}

class DiffToolTest : public ::testing::Test {
 protected:
  // Runs paktool in the temporary directory (arguments UTF-8); standard
  // error joins the output when asked.
  CChildResult Run(std::vector<std::string> vecArgs, bool bWithStderr = true) {
    vecArgs.insert(vecArgs.begin(), "paktool");
    CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecArgs, m_dir.Path(), kTimeoutMs, bWithStderr);
    EXPECT_TRUE(result.bEnded) << "paktool did not end";
    return result;
  }
  std::string Ok(const std::vector<std::string>& vecArgs, bool bWithStderr = true) {
    CChildResult result = Run(vecArgs, bWithStderr);
    EXPECT_EQ(0, result.nExitCode) << vecArgs[0] << " failed:\n" << result.strOutput;
    return result.strOutput;
  }
  fs::path Path(const std::string& strRelUtf8) const { return m_dir.Path() / Utf8Path(strRelUtf8); }
  void Write(const std::string& strRel, const std::string& strBytes) const {
    fs::create_directories(Path(strRel).parent_path());
    WriteFileBytes(Path(strRel), strBytes);
  }
  std::string Bytes(const std::string& strRel) const { return ReadFileBytes(Path(strRel)); }
  // Two releases below v1/res and v2/res, the first also as client.pak
  // (plain, tagged) and the second as v2.pak (compressed).
  void WriteReleases() {
    m_v1 = FirstRelease(21);
    m_v2 = NextRelease(m_v1, 22);
    m_v2.erase(m_v2.begin());  // one entry removed
    WriteRelease(m_v1, Path("v1/res"));
    WriteRelease(m_v2, Path("v2/res"));
    Ok({"build", "v1/res", "--tags", "-o", "client.pak"});
    Ok({"build", "v2/res", "-z", "-o", "v2.pak"});
  }
  bool CaseSensitiveFiles() const {
    Write("case/a", "");
    return !fs::exists(Path("case/A"));
  }
  size_t FilesIn(const std::string& strRel) const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(Path(strRel)), fs::directory_iterator()));
  }

  CTempDir m_dir;
  ReleaseFiles m_v1;
  ReleaseFiles m_v2;
};

TEST_F(DiffToolTest, PacksAndTreesGiveTheSameUpdate) {
  WriteReleases();
  ReleaseFiles expected;
  for (const auto& item : m_v2) {
    auto itOld = m_v1.find(item.first);
    if (itOld == m_v1.end() || itOld->second != item.second) expected.insert(item);
  }
  for (const char* pszCompress : {"", "-z"}) {
    SCOPED_TRACE(pszCompress);
    std::vector<std::string> vecUpdates;
    for (const char* pszOld : {"v1/res", "client.pak"}) {
      for (const char* pszNew : {"v2/res", "v2.pak"}) {
        const std::string strOut = "u" + std::to_string(vecUpdates.size()) + ".pak";
        std::vector<std::string> vecArgs = {"diff", pszOld, pszNew, "-o", strOut};
        if (*pszCompress) vecArgs.push_back(pszCompress);
        Ok(vecArgs);
        vecUpdates.push_back(Bytes(strOut));
      }
    }
    for (const std::string& strUpdate : vecUpdates) EXPECT_EQ(vecUpdates[0], strUpdate);
    EXPECT_EQ(expected, PackContent(Path("u0.pak")));
    EXPECT_EQ(*pszCompress ? 1 : 0, CTestPack::Parse(vecUpdates[0]).header.byCompressed);
  }
}

TEST_F(DiffToolTest, TheJsonReportParsesBackAndTellsLooseAndRemovedEntries) {
  WriteReleases();
  const CChildResult result = Run({"diff", "client.pak", "v2/res", "-o", "update.pak", "--json"}, false);
  ASSERT_EQ(0, result.nExitCode);
  const nlohmann::json report = nlohmann::json::parse(result.strOutput);

  size_t nChanged = 0, nAdded = 0, nUnchanged = 0;
  uint64_t qwChanged = 0, qwAdded = 0;
  for (const auto& item : m_v2) {
    auto itOld = m_v1.find(item.first);
    if (itOld == m_v1.end()) {
      ++nAdded;
      qwAdded += item.second.size();
    } else if (itOld->second != item.second) {
      ++nChanged;
      qwChanged += item.second.size();
    } else {
      ++nUnchanged;
    }
  }
  EXPECT_EQ(nChanged, report["changed"]["count"].get<size_t>());
  EXPECT_EQ(qwChanged, report["changed"]["bytes"].get<uint64_t>());
  EXPECT_EQ(nAdded, report["added"]["count"].get<size_t>());
  EXPECT_EQ(qwAdded, report["added"]["bytes"].get<uint64_t>());
  EXPECT_EQ(nUnchanged, report["unchanged"]["count"].get<size_t>());
  EXPECT_EQ(1u, report["removed"]["count"].get<size_t>());
  EXPECT_EQ(m_v1.begin()->second.size(), report["removed"]["bytes"].get<uint64_t>());
  EXPECT_EQ("pack", report["old"]["kind"]);
  EXPECT_EQ("directory", report["new"]["kind"]);
  EXPECT_EQ("res", report["new"]["root"]);
  EXPECT_EQ(nChanged + nAdded, report["update"]["entries"].get<size_t>());
  EXPECT_EQ(fs::file_size(Path("update.pak")), report["update"]["bytes"].get<uint64_t>());
  EXPECT_FALSE(report["update"]["compressed"].get<bool>());
  EXPECT_TRUE(report["left_out"].empty());

  // Loose: every added file whose first directory v1 lacks (below the root
  // itself too); the removed entry by its name, in UTF-8.
  std::set<std::string> setLoose;
  std::string strRemoved;
  for (const auto& entry : report["entries"]) {
    if (entry["change"] == "added" && entry["loose"].get<bool>()) setLoose.insert(entry["name"]);
    if (entry["change"] == "removed") strRemoved = entry["name"];
  }
  std::set<std::string> setExpected;
  for (const auto& item : m_v2) {
    const size_t nSep = item.first.find('/');
    const bool bOldDir = nSep != std::string::npos && std::any_of(m_v1.begin(), m_v1.end(), [&](const auto& old) {
                           return old.first.compare(0, nSep + 1, item.first, 0, nSep + 1) == 0;
                         });
    if (!m_v1.count(item.first) && !bOldDir) setExpected.insert("res/" + item.first);
  }
  EXPECT_FALSE(setExpected.empty());
  EXPECT_EQ(setExpected, setLoose);
  EXPECT_EQ("res/" + m_v1.begin()->first, strRemoved);
}

TEST_F(DiffToolTest, TheReportOnStandardErrorNamesLooseAndRemovedEntries) {
  Write("v1/res/ui/a.txt", "a");
  Write("v1/res/地图/gone.map", "gone");
  Write("v2/res/ui/a.txt", "changed");
  Write("v2/res/声音/new.wav", "loose");
  const std::string strOut = Ok({"diff", "v1/res", "v2/res", "-o", "update.pak"});
  EXPECT_TRUE(Contains(strOut, "1 changed (7 bytes), 1 added (5 bytes), 0 unchanged (0 bytes), 1 removed (4 bytes)"))
      << strOut;
  EXPECT_TRUE(Contains(strOut, "loose files")) << strOut;
  EXPECT_TRUE(Contains(strOut, Shown("  res/声音/new.wav"))) << strOut;
  EXPECT_TRUE(Contains(strOut, "only a release update (--from and --to) removes entries")) << strOut;
  EXPECT_TRUE(Contains(strOut, Shown("  res/地图/gone.map"))) << strOut;
  EXPECT_TRUE(Contains(strOut, "wrote update.pak: 2 entries, plain")) << strOut;
}

// With nothing to update a diff writes no pack, removes the update, the
// statement and the signature an earlier run left at -o, naming each, and
// exits with 3: 'diff && sign' can never sign a stale update.
TEST_F(DiffToolTest, NothingToUpdateLeavesNothingAtTheOutputAndExitsWith3) {
  WriteReleases();
  Ok({"diff", "client.pak", "v2/res", "--from", "1.01", "--to", "1.02", "-o", "update.pak"});
  ASSERT_TRUE(fs::exists(Path("update.pak.statement")));
  Write("update.pak.sig", "a signature of the earlier update");
  CChildResult result = Run({"diff", "client.pak", "v1/res", "-o", "update.pak"});
  EXPECT_EQ(3, result.nExitCode) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "nothing to update")) << result.strOutput;
  for (const char* pszFile : {"update.pak", "update.pak.statement", "update.pak.sig"}) {
    EXPECT_FALSE(fs::exists(Path(pszFile))) << pszFile;
    EXPECT_TRUE(Contains(result.strOutput, std::string("removed ") + pszFile + ", which an earlier run left"))
        << result.strOutput;
  }
  // Nothing there to remove: the same status, and JSON says so.
  result = Run({"diff", "v1/res", "client.pak", "-o", "update.pak", "--json"}, false);
  EXPECT_EQ(3, result.nExitCode);
  const nlohmann::json document = nlohmann::json::parse(result.strOutput);
  EXPECT_TRUE(document["update"].is_null());
  EXPECT_TRUE(document["removed_files"].empty());
  EXPECT_FALSE(fs::exists(Path("update.pak")));
  // An update that cannot be removed fails the diff, naming it.
  fs::create_directories(Path("update.pak"));
  WriteFileBytes(Path("update.pak") / "keep", "");
  result = Run({"diff", "client.pak", "v1/res", "-o", "update.pak"});
  EXPECT_EQ(1, result.nExitCode) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "update.pak: an earlier run left it, and it cannot be removed"))
      << result.strOutput;
}

TEST_F(DiffToolTest, AFailedDiffLeavesNothingBehind) {
  WriteReleases();
  // The destination is a directory: the build refuses it before writing.
  fs::create_directories(Path("out/update.pak"));
  CChildResult result = Run({"diff", "client.pak", "v2/res", "-o", "out/update.pak"});
  EXPECT_EQ(1, result.nExitCode) << result.strOutput;
  EXPECT_TRUE(fs::is_directory(Path("out/update.pak")));
  EXPECT_EQ(1u, FilesIn("out"));
  // A destination whose directory does not exist.
  result = Run({"diff", "client.pak", "v2/res", "-o", "missing/update.pak"});
  EXPECT_EQ(1, result.nExitCode) << result.strOutput;
  EXPECT_FALSE(fs::exists(Path("missing")));
  // An OLD pack with an entry that does not decode: named, nothing written.
  CTestPack broken("res", true);
  broken.AddEntry("res\\ui\\x.txt", Lzma86Encode("some text"), "", 3);
  broken.AddTreeForEntries();
  broken.WriteTo(Path("broken.pak"));
  fs::create_directories(Path("out2"));
  result = Run({"diff", "broken.pak", "v2/res", "-o", "out2/update.pak"});
  EXPECT_EQ(1, result.nExitCode) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "res/ui/x.txt")) << result.strOutput;
  EXPECT_EQ(0u, FilesIn("out2"));
}

TEST_F(DiffToolTest, RootNamesMustMatch) {
  Write("v1/res/a.txt", "a");
  Write("v2/data/a.txt", "b");
  const CChildResult result = Run({"diff", "v1/res", "v2/data", "-o", "update.pak"});
  EXPECT_EQ(2, result.nExitCode);
  EXPECT_TRUE(Contains(result.strOutput, "\"res\"") && Contains(result.strOutput, "\"data\"")) << result.strOutput;
  EXPECT_FALSE(fs::exists(Path("update.pak")));
}

// Names differing only in case fold onto one entry name: build and diff
// name both files and exit with 1, keeping what they wrote; a file both
// releases leave out is told once. Excluded on purpose, they are counted
// apart and the exit status is 0.
TEST_F(DiffToolTest, ACaseCollisionIsReportedOnceOrExcludedOnPurpose) {
  if (!CaseSensitiveFiles()) GTEST_SKIP() << "names differ only in case on no file system here";
  for (const char* pszRelease : {"v1", "v2"}) {
    const std::string strDir = std::string(pszRelease) + "/res/net/";
    Write(strDir + "xt_dscp.h", "dscp");
    Write(strDir + "xt_MARK.h", "target");
    Write(strDir + "xt_mark.h", "match");
    Write(std::string(pszRelease) + "/res/old/a.bak", "backup");
  }
  Write("v2/res/net/xt_dscp.h", "dscp 2");
  CChildResult result = Run({"build", "v2/res", "-o", "v2.pak"});
  EXPECT_EQ(1, result.nExitCode);
  EXPECT_TRUE(Contains(result.strOutput, "v2/res/net/xt_MARK.h")) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "v2/res/net/xt_mark.h")) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "1 file of the source left out")) << result.strOutput;
  EXPECT_EQ(3, CTestPack::ReadFrom(Path("v2.pak")).header.nEntryCount);

  result = Run({"diff", "v1/res", "v2/res", "-o", "update.pak", "--json"}, false);
  EXPECT_EQ(1, result.nExitCode);
  nlohmann::json document = nlohmann::json::parse(result.strOutput);
  ASSERT_EQ(1u, document["left_out"].size()) << result.strOutput;
  EXPECT_EQ("folded", document["left_out"][0]["reason"]);
  EXPECT_EQ(document["left_out"][0]["file"].get<std::string>().substr(0, 3), "v1/");
  EXPECT_EQ(document["left_out"][0]["also"].get<std::string>().substr(0, 3), "v2/");
  result = Run({"diff", "v1/res", "v2/res", "-o", "update.pak"});
  EXPECT_TRUE(Contains(result.strOutput, "1 file of the releases left out")) << result.strOutput;
  EXPECT_EQ(1, CTestPack::ReadFrom(Path("update.pak")).header.nEntryCount);

  // Matched after folding, so one pattern takes both; a name pattern takes
  // it in any directory; the rest is as before.
  const std::vector<std::string> vecExcludes = {"--exclude", "NET/XT_MARK.H", "--exclude", "*.bak"};
  std::vector<std::string> vecBuild = {"build", "v2/res", "-o", "v2.pak"};
  vecBuild.insert(vecBuild.end(), vecExcludes.begin(), vecExcludes.end());
  result = Run(vecBuild);
  EXPECT_EQ(0, result.nExitCode) << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "excluded 3 files on purpose (--exclude)")) << result.strOutput;
  EXPECT_FALSE(Contains(result.strOutput, "left out")) << result.strOutput;
  EXPECT_EQ(ReleaseFiles({{"net/xt_dscp.h", "dscp 2"}}), PackContent(Path("v2.pak")));

  std::vector<std::string> vecDiff = {"diff", "v1/res", "v2/res", "-o", "update.pak", "--json"};
  vecDiff.insert(vecDiff.end(), vecExcludes.begin(), vecExcludes.end());
  result = Run(vecDiff, false);
  EXPECT_EQ(0, result.nExitCode) << result.strOutput;
  document = nlohmann::json::parse(result.strOutput);
  EXPECT_TRUE(document["left_out"].empty());
  EXPECT_EQ(3u, document["excluded"].size()) << result.strOutput;
  EXPECT_EQ(1, document["changed"]["count"]);
  EXPECT_EQ(0, document["removed"]["count"]);

  // A pack's entries are taken as they are: excluded from NEW alone, an
  // entry of OLD is one NEW lacks.
  EXPECT_EQ(1, Run({"build", "v1/res", "-o", "v1.pak"}).nExitCode);
  vecDiff = {"diff", "v1.pak", "v2/res", "-o", "update.pak", "--json", "--exclude", "*.bak"};
  document = nlohmann::json::parse(Run(vecDiff, false).strOutput);
  EXPECT_EQ(1, document["removed"]["count"]);
  EXPECT_EQ(1u, document["excluded"].size());

  EXPECT_EQ(2, Run({"build", "v2/res", "--exclude", "/", "-o", "x.pak"}).nExitCode);
}

// A file that cannot be opened and one without an entry name are named by
// a list build, and one missing from ConfigDir.txt's lines by a config-dir
// build.
TEST_F(DiffToolTest, EveryBuildSourceNamesTheFilesItLeavesOut) {
  Write("work/res/ui/a.txt", "a");
  Write("elsewhere.txt", "outside");
  Write("files.txt", "work\\res\r\nwork\\res\\ui\\a.txt\r\nwork\\res\\ui\\missing.txt\r\nelsewhere.txt\r\n");
  CChildResult result = Run({"build", "--list", "files.txt", "-o", "list.pak"});
  EXPECT_EQ(1, result.nExitCode);
  EXPECT_TRUE(Contains(result.strOutput, "left out work/res/ui/missing.txt: cannot be opened: file not found"))
      << result.strOutput;
  EXPECT_TRUE(Contains(result.strOutput, "left out elsewhere.txt: has no entry name")) << result.strOutput;
  EXPECT_EQ(1, CTestPack::ReadFrom(Path("list.pak")).header.nEntryCount);

  Write("work/res/ConfigDir.txt", "ui\r\nui\\a.txt\r\n");
  result = Run({"build", "--config-dir", "work/res"});
  EXPECT_EQ(1, result.nExitCode);
  EXPECT_TRUE(Contains(result.strOutput,
                       "left out work/res/ui/a.txt: its entry name res/ui/a.txt is taken by "
                       "work/res/ui/a.txt"))
      << result.strOutput;
  EXPECT_EQ(1, CTestPack::ReadFrom(Path("work/res/res.pak")).header.nEntryCount);

  EXPECT_EQ(0, Run({"build", "work/res/ui", "--name", "res", "-o", "ok.pak"}).nExitCode);
}

TEST_F(DiffToolTest, ADryRunShowsThePlanAndWritesNothing) {
  Write("v1/res/ui/title.txt", std::string(400, 't'));
  Write("v1/res/ui/help.txt", std::string(300, 'h'));
  Write("v2/res/ui/title.txt", std::string(100, 'T'));
  Write("v2/res/ui/help.txt", std::string(900, 'H'));
  Write("v2/res/ui/new.txt", "new");
  Write("v2/res/声音/x.wav", "loose");
  Ok({"build", "v1/res", "--tags", "-o", "client.pak"});
  Ok({"diff", "client.pak", "v2/res", "-z", "-o", "update.pak"});
  const std::string strClient = Bytes("client.pak");
  fs::create_directories(Path("game"));

  const std::string strPlan = Ok({"merge", "--dry-run", "update.pak", "client.pak", "-C", "game"}, false);
  EXPECT_EQ(strClient, Bytes("client.pak"));
  EXPECT_EQ(0u, FilesIn("game"));
  EXPECT_TRUE(Contains(strPlan, "replace res/ui/title.txt: 100 bytes, in place at 360\n")) << strPlan;
  EXPECT_TRUE(Contains(strPlan, "move    res/ui/help.txt: 900 bytes, appended at 760\n")) << strPlan;
  EXPECT_TRUE(Contains(strPlan, "add     res/ui/new.txt: 3 bytes, into a free block at 60\n")) << strPlan;
  EXPECT_TRUE(Contains(strPlan, Shown("loose   res/声音/x.wav: 5 bytes, as the file game/声音/x.wav\n"))) << strPlan;
  EXPECT_TRUE(
      Contains(strPlan,
               "update.pak: 4 entries: 1 replaced in place, 1 moved (1 appended), 1 added to the pack (0 appended), "
               "1 written as loose files, 0 unchanged\n"))
      << strPlan;

  const CChildResult json = Run({"merge", "--dry-run", "--json", "update.pak", "client.pak", "-C", "game"}, false);
  ASSERT_EQ(0, json.nExitCode);
  const nlohmann::json plan = nlohmann::json::parse(json.strOutput);
  std::map<std::string, nlohmann::json> mapSteps;
  for (const nlohmann::json& step : plan["steps"]) mapSteps[step["name"].get<std::string>()] = step;
  ASSERT_EQ(4u, mapSteps.size()) << json.strOutput;
  EXPECT_EQ("loose", mapSteps["res/声音/x.wav"]["action"]);
  EXPECT_EQ("game/声音/x.wav", mapSteps["res/声音/x.wav"]["file"]);
  EXPECT_EQ("replace", mapSteps["res/ui/title.txt"]["action"]);
  EXPECT_EQ(360, mapSteps["res/ui/title.txt"]["offset"]);
  EXPECT_EQ("end", mapSteps["res/ui/help.txt"]["place"]);
  EXPECT_EQ(1, plan["counts"]["moved_appended"]);
  EXPECT_EQ(strClient.size(), plan["size_before"].get<size_t>());
  EXPECT_EQ(2, Run({"merge", "--json", "update.pak", "client.pak"}).nExitCode) << "--json goes with --dry-run";

  const std::string strMerged = Ok({"merge", "update.pak", "client.pak", "-C", "game"}, false);
  EXPECT_TRUE(Contains(strMerged, "wrote 1 loose file below ")) << strMerged;
  EXPECT_TRUE(Contains(strMerged, Shown("game (new entries outside the client pack's directories):\n  声音/x.wav\n")))
      << strMerged;
  const std::string strSizes = "client.pak: " + std::to_string(strClient.size()) + " bytes now, " +
                               std::to_string(fs::file_size(Path("client.pak"))) + " bytes after the merge";
  EXPECT_TRUE(Contains(strPlan, strSizes)) << strPlan << "\nexpected: " << strSizes;
  EXPECT_EQ("loose", Bytes("game/声音/x.wav"));
  EXPECT_EQ("new", PackContent(Path("client.pak"))["ui/new.txt"]);

  // A merge that would be refused is refused by its dry run, in its words.
  CTestPack update;
  update.AddEntry("res\\ui\\title.txt\\x", "below a file", "1");
  update.AddTreeForEntries();
  update.WriteTo(Path("bad.pak"));
  const CChildResult refused = Run({"merge", "--dry-run", "bad.pak", "client.pak"});
  EXPECT_EQ(1, refused.nExitCode);
  const CChildResult merged = Run({"merge", "bad.pak", "client.pak"});
  EXPECT_EQ(1, merged.nExitCode);
  EXPECT_EQ(merged.strOutput, refused.strOutput);
}

// The publisher's two commands: diff with the versions writes the update
// and its statement, sign signs that statement; merge --statement applies
// it as the updater would, checking the base and the result.
TEST_F(DiffToolTest, ReleaseUpdatesAreMadeSignedAndTriedWithoutKeys) {
  WriteReleases();
  Ok({"keygen", "publisher"});
  std::string strOut = Ok({"diff", "client.pak", "v2/res", "-o", "update.pak", "--from", "1.01", "--to", "1.02", "-z"});
  EXPECT_TRUE(Contains(strOut, "the update removes these (its statement lists them)")) << strOut;
  EXPECT_TRUE(Contains(strOut, "wrote update.pak.statement: version 1.02 for clients of 1.01, removes 1 entry"))
      << strOut;
  EXPECT_EQ("update.pak.sig: signed version 1.02 of Veshmarkland for clients of 1.01, removing 1 entry\n",
            Ok({"sign", "update.pak", "--key", "publisher.key"}));
  strOut = Ok({"verify", "update.pak", "--key", "publisher.pub"});
  EXPECT_TRUE(Contains(strOut, "update.pak: for clients of version 1.01 holding release ")) << strOut;
  EXPECT_TRUE(Contains(strOut, Shown("update.pak: removes res/" + m_v1.begin()->first))) << strOut;

  // The client of 1.01 becomes 1.02: the same release as the tree of 1.02.
  fs::create_directory(Path("game"));
  fs::copy_file(Path("client.pak"), Path("game/clientres.pak"));
  strOut = Ok({"merge", "update.pak", "game/clientres.pak", "-C", "game", "--statement", "update.pak.statement"});
  EXPECT_TRUE(Contains(strOut, "game/clientres.pak: holds release ")) << strOut;
  const std::string strTree = Ok({"manifest", "v2/res"}, false);
  const std::string strClient = Ok({"manifest", "game/clientres.pak", "--client"}, false);
  EXPECT_EQ(strTree.substr(strTree.rfind("release ")), strClient.substr(strClient.rfind("release ")));

  // Run again, or on another release, it is refused: the client is no
  // longer the base.
  const CChildResult again =
      Run({"merge", "update.pak", "game/clientres.pak", "-C", "game", "--statement", "update.pak.statement"});
  EXPECT_EQ(1, again.nExitCode);
  EXPECT_TRUE(Contains(again.strOutput, "does not hold the release the update applies to (version 1.01)"))
      << again.strOutput;

  // A statement is signed only with the pack it was made for; a diff that
  // writes no statement removes an older one.
  const std::string strStatement = Bytes("update.pak.statement");
  strOut = Ok({"diff", "client.pak", "v2/res", "-o", "update.pak"});
  EXPECT_TRUE(Contains(strOut, "removed update.pak.statement, which an earlier diff wrote")) << strOut;
  EXPECT_FALSE(fs::exists(Path("update.pak.statement")));
  Write("update.pak.statement", strStatement);
  const CChildResult stale = Run({"sign", "update.pak", "--key", "publisher.key"});
  EXPECT_EQ(1, stale.nExitCode);
  EXPECT_TRUE(Contains(stale.strOutput, "changed since update.pak.statement was written")) << stale.strOutput;
}

TEST_F(DiffToolTest, FullUpdatesAndVersionRules) {
  WriteReleases();
  std::string strOut = Ok({"diff", "--full", "v2.pak", "-o", "full.pak", "--to", "1.02"});
  EXPECT_TRUE(Contains(strOut, "a full update")) << strOut;
  const nlohmann::json statement = nlohmann::json::parse(
      Ok({"diff", "--full", "v2/res", "-o", "full2.pak", "--to", "1.02", "--json"}, false))["statement"];
  EXPECT_EQ("any", statement["base"]);
  EXPECT_TRUE(statement["base_release"].is_null());
  fs::create_directory(Path("game"));
  Write("game/clientres.pak", Bytes("v2.pak"));
  Write("game/stale/old.txt", "from long ago");
  Ok({"merge", "full.pak", "game/clientres.pak", "-C", "game", "--statement", "full.pak.statement"});

  for (const std::vector<std::string>& vecArgs : std::vector<std::vector<std::string>>{
           {"diff", "client.pak", "v2/res", "-o", "u.pak", "--from", "1.01", "--to", "1.03-hotfix"},
           {"diff", "client.pak", "v2/res", "-o", "u.pak", "--from", "1.02", "--to", "1.01"},
           {"diff", "client.pak", "v2/res", "-o", "u.pak", "--to", "1.02"},
           {"diff", "client.pak", "v2/res", "-o", "u.pak", "--full", "--to", "1.02"},
           {"diff", "--full", "v2/res", "-o", "u.pak"},
           {"sign", "u.pak", "--key", "k.key", "--version", "1.2.3.4.5.6.7.8.9"},
       }) {
    const CChildResult result = Run(vecArgs);
    EXPECT_EQ(2, result.nExitCode) << result.strOutput;
    EXPECT_FALSE(fs::exists(Path("u.pak")));
  }
}

// A release's digest is the same from its tree, a pack of it and a list of
// its files.
TEST_F(DiffToolTest, ManifestsOfOneReleaseAgree) {
  WriteReleases();
  std::string strList = "v2\\res\r\n";
  for (const auto& item : m_v2) {
    std::string strFile = "v2/res/" + item.first;
    for (char& ch : strFile) {
      if (ch == '/') ch = '\\';
    }
    strList += Gbk(strFile) + "\r\n";
  }
  Write("v2.lst", strList);
  const nlohmann::json tree = nlohmann::json::parse(Ok({"manifest", "v2/res", "--json"}, false));
  EXPECT_EQ(m_v2.size(), tree["count"]);
  for (const std::vector<std::string>& vecArgs : std::vector<std::vector<std::string>>{
           {"manifest", "v2.pak", "--json"}, {"manifest", "v2.lst", "--list", "--json"}}) {
    EXPECT_EQ(tree["release"], nlohmann::json::parse(Ok(vecArgs, false))["release"]) << vecArgs[1];
  }
  EXPECT_NE(tree["release"], nlohmann::json::parse(Ok({"manifest", "client.pak", "--json"}, false))["release"]);
}

}  // namespace
