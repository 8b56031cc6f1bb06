// The release equation: for a sequence of random releases R0 -> R1 -> ...,
// a client pack built from R0 and updated step by step with the update
// that diff makes between the client pack and the next release holds, with
// the loose files the diff announced, exactly that release. Plain and
// compressed clients and updates; the library's DiffRelease and MergePack,
// and paktool diff and merge.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "platform/cp936.h"
#include "tests/support/child_process.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSteps = 3;

struct CSequence {
  unsigned nSeed;
  bool bCompressed;  // client and updates
  bool bTool;        // paktool instead of the library
};

// An entry name below the root as a release names it ("res\a\b" -> "a/b").
std::string RelativeOf(const std::string& strName) {
  std::string strUtf8;
  EXPECT_TRUE(Cp936ToUtf8(strName, strUtf8));
  for (char& ch : strUtf8) {
    if (ch == '\\') ch = '/';
  }
  return strUtf8.substr(strUtf8.find('/') + 1);
}

class ReleaseEquationTest : public ::testing::TestWithParam<CSequence> {
 protected:
  fs::path Path(const std::string& strRel) const { return m_dir.Path() / Utf8Path(strRel); }

  void Paktool(std::vector<std::string> vecArgs, std::string* pstrOutput = nullptr) {
    vecArgs.insert(vecArgs.begin(), "paktool");
    if (GetParam().bCompressed && (vecArgs[1] == "build" || vecArgs[1] == "diff")) vecArgs.push_back("-z");
    const CChildResult result = RunChild(Utf8Path(PAKTOOL_EXE), vecArgs, m_dir.Path(), 120000);
    ASSERT_EQ(0, result.nExitCode) << vecArgs[1] << ":\n" << result.strOutput;
    if (pstrOutput) *pstrOutput = result.strOutput;
  }

  void BuildClient(const std::string& strTree) {
    if (GetParam().bTool) {
      Paktool({"build", strTree, "--tags", "-o", "client.pak"});
      return;
    }
    CCurrentDirGuard guard;
    CPackFile tree;
    tree.SetContentTags(true);
    const std::string strRoot = m_dir.ProgramPath(strTree);
    tree.SetRootPath(strRoot.c_str());
    tree.CollectFiles(strRoot.c_str());
    ASSERT_TRUE(tree.CreatePack(strRoot.c_str(), m_dir.ProgramPath().c_str(), GetParam().bCompressed, nullptr, "client",
                                false));
  }

  // Makes the update from the client pack to the tree and merges it, loose
  // files below loose/; adds the loose files the diff announced.
  void Update(const std::string& strTree, std::set<std::string>& setLoose) {
    if (GetParam().bTool) {
      std::string strJson;
      Paktool({"diff", "client.pak", strTree, "-o", "update.pak", "--json"}, &strJson);
      const nlohmann::json report = nlohmann::json::parse(strJson);
      for (const auto& entry : report["entries"]) {
        if (entry["change"] == "added" && entry["loose"].get<bool>()) {
          const std::string strName = entry["name"];
          setLoose.insert(strName.substr(strName.find('/') + 1));
        }
      }
      Paktool({"merge", "update.pak", "client.pak", "-C", "loose"});
      return;
    }
    {
      CCurrentDirGuard guard;
      CPackFile client;
      ASSERT_TRUE(client.OpenForReading(m_dir.ProgramPath("client.pak")));
      CPackFile tree;
      const std::string strRoot = m_dir.ProgramPath(strTree);
      tree.SetRootPath(strRoot.c_str());
      tree.CollectFiles(strRoot.c_str());
      CReleaseDiff diff;
      std::string strFailed;
      ASSERT_TRUE(client.DiffRelease(tree, false, diff, strFailed)) << strFailed;
      for (const CReleaseEntry& entry : diff.vecEntries) {
        if (entry.bLoose) setLoose.insert(RelativeOf(entry.strName));
      }
      CPackFile update;
      ASSERT_TRUE(
          update.CreateUpdatePack(tree, diff, m_dir.ProgramPath().c_str(), GetParam().bCompressed, nullptr, "update"));
    }
    CCurrentDirGuard guard;
    fs::current_path(Path("loose"));
    CRealizePack realize;
    ASSERT_EQ(1, realize.MergePack(m_dir.ProgramPath("update.pak").c_str(), m_dir.ProgramPath("client.pak").c_str()))
        << realize.GetMergeRefusal();
  }

  CTempDir m_dir;
};

TEST_P(ReleaseEquationTest, EachUpdateLeavesTheClientHoldingItsRelease) {
  const CSequence& sequence = GetParam();
  fs::create_directories(Path("loose"));
  ReleaseFiles release = FirstRelease(sequence.nSeed);
  WriteRelease(release, Path("r0/res"));
  BuildClient("r0/res");
  ASSERT_EQ(release, PackContent(Path("client.pak")));

  std::set<std::string> setLoose;
  for (int nStep = 1; nStep <= kSteps; ++nStep) {
    SCOPED_TRACE("release " + std::to_string(nStep));
    release = NextRelease(release, sequence.nSeed * 100 + static_cast<unsigned>(nStep));
    const std::string strTree = "r" + std::to_string(nStep) + "/res";
    WriteRelease(release, Path(strTree));
    Update(strTree, setLoose);

    const ReleaseFiles packed = PackContent(Path("client.pak"));
    const ReleaseFiles loose = TreeContent(Path("loose"));
    ReleaseFiles both = packed;
    for (const auto& item : loose) EXPECT_TRUE(both.insert(item).second) << "in the pack and loose: " << item.first;
    EXPECT_EQ(release, both);
    std::set<std::string> setWritten;
    for (const auto& item : loose) setWritten.insert(item.first);
    EXPECT_EQ(setLoose, setWritten);
  }
  EXPECT_FALSE(setLoose.empty());
}

std::string SequenceName(const ::testing::TestParamInfo<CSequence>& info) {
  return std::string(info.param.bTool ? "Paktool" : "Library") + (info.param.bCompressed ? "Compressed" : "Plain") +
         "Seed" + std::to_string(info.param.nSeed);
}

INSTANTIATE_TEST_SUITE_P(Sequences, ReleaseEquationTest,
                         ::testing::Values(CSequence{101, false, false}, CSequence{202, true, false},
                                           CSequence{303, false, true}, CSequence{404, true, true},
                                           CSequence{505, true, false}, CSequence{606, false, true}),
                         SequenceName);

}  // namespace
