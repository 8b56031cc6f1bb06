// Every player reaches the release exactly. Over a random history of five
// releases (changes, additions, removals, entries moving between
// directories), with the publisher's updates made and signed as 'paktool
// diff' and 'paktool sign' make them and applied as the keyed updater
// applies them (its checks and merge, in process):
//   - the update from i to j turns a client at i into exactly release j,
//     whether the client was built from i or reached i through updates:
//     its pack and loose files hold release j's files and nothing else;
//   - applied to a client at any other release it is refused with nothing
//     changed, also when that client's version.ver was edited to say i;
//   - the full update to j turns a client of any older release into j, and
//     one with a garbled version.ver too.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "launcher/updatedriver.h"
#include "launcher/updatetrust.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/updatestatement.h"

namespace fs = std::filesystem;

namespace {

constexpr int kReleases = 5;

struct CHistory {
  unsigned nSeed;
  bool bCompressed;  // clients and updates
  bool bTags;        // clients built with content tags
};

// Every file below a directory, by its path relative to it.
ReleaseFiles FilesBelow(const fs::path& dir) { return fs::exists(dir) ? TreeContent(dir) : ReleaseFiles(); }

// The files the updater keeps beside the loose files of a client.
bool IsUpdaterFile(const std::string& strRel) {
  return strRel == "clientres.pak" || strRel == "clientres.pak.loose" || strRel == "version.ver";
}

std::string Version(int nRelease) { return "1.0" + std::to_string(nRelease); }

class ReleaseHistoryTest : public ::testing::TestWithParam<CHistory> {
 protected:
  void SetUp() override {
    ASSERT_EQ(PackKeyStatus::kOk, GeneratePackKeys(m_dir.ProgramPath("publisher")));
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackSecretKey(m_dir.ProgramPath("publisher.key"), m_secret));
    ASSERT_EQ(PackKeyStatus::kOk, ReadPackPublicKey(m_dir.ProgramPath("publisher.pub"), m_public));
    const unsigned nSeed = GetParam().nSeed;
    m_releases.push_back(FirstRelease(nSeed));
    for (int i = 1; i < kReleases; ++i) m_releases.push_back(NextReleaseWithRemovals(m_releases.back(), nSeed + i));
    fs::create_directories(m_dir.Path() / "updates");
    for (int i = 0; i < kReleases; ++i) {
      WriteRelease(m_releases[i], m_dir.Path() / ("r" + std::to_string(i)) / "res");
      m_clients.push_back(BuildClient(i));
    }
    for (int j = 1; j < kReleases; ++j) {
      for (int i = 0; i < j; ++i) MakeUpdate(i, j);
    }
    for (int j = 0; j < kReleases; ++j) MakeUpdate(-1, j);
  }
  void TearDown() override { fs::current_path(fs::temp_directory_path()); }

  std::string TreePath(int i) const { return m_dir.ProgramPath("r" + std::to_string(i) + "/res"); }
  static std::string UpdateName(int i, int j) {
    return (i < 0 ? "full" : "u" + std::to_string(i)) + "to" + std::to_string(j);
  }
  std::string UpdatePath(int i, int j) const { return m_dir.ProgramPath("updates/" + UpdateName(i, j) + ".pak"); }
  fs::path Tool() const { return m_dir.Path() / "tool"; }

  // The client pack built from release i, as an installer would ship it.
  std::string BuildClient(int i) {
    CCurrentDirGuard guard;
    CPackFile tree;
    tree.SetContentTags(GetParam().bTags);
    tree.SetRootPath(TreePath(i).c_str());
    tree.CollectFiles(TreePath(i).c_str());
    EXPECT_TRUE(tree.CreatePack(TreePath(i).c_str(), m_dir.ProgramPath().c_str(), GetParam().bCompressed, nullptr,
                                "built", false));
    return ReadFileBytes(m_dir.Path() / "built.pak");
  }

  // The publisher's update from release i (or, for -1, from nothing: the
  // full update) to j, with its statement, signed.
  void MakeUpdate(int i, int j) {
    CCurrentDirGuard guard;
    CPackFile old;
    CPackFile newer;
    if (i < 0) {
      old.SetPackName("res");
    } else {
      old.SetRootPath(TreePath(i).c_str());
      old.CollectFiles(TreePath(i).c_str());
    }
    newer.SetRootPath(TreePath(j).c_str());
    newer.CollectFiles(TreePath(j).c_str());
    CReleaseDiff diff;
    std::string strFailed;
    ASSERT_TRUE(old.DiffRelease(newer, false, diff, strFailed)) << strFailed;
    if (!diff.HasChanges()) return;  // an update to the same release: there is none
    CPackFile writer;
    const std::string strName = UpdateName(i, j);
    ASSERT_TRUE(writer.CreateUpdatePack(newer, diff, m_dir.ProgramPath("updates").c_str(), GetParam().bCompressed,
                                        nullptr, strName.c_str()));
    PackStatement statement;
    ASSERT_TRUE(MakeUpdateStatement(diff, UpdatePath(i, j), kPackProduct, i < 0 ? kAnyBase : Version(i), Version(j),
                                    statement));
    ASSERT_TRUE(SignPackStatement(UpdatePath(i, j), m_secret, statement)) << "error " << GetLastError();
  }

  // A tool directory holding a client: its pack and version.ver, and the
  // loose files a client that got there through updates has.
  void PutClient(const ReleaseFiles& files) {
    fs::remove_all(Tool());
    for (const auto& item : files) {
      fs::create_directories((Tool() / Utf8Path(item.first)).parent_path());
      WriteFileBytes(Tool() / Utf8Path(item.first), item.second);
    }
  }
  ReleaseFiles BuiltClient(int k, const std::string& strVersion) const {
    return {{"clientres.pak", m_clients[k]}, {"version.ver", strVersion}};
  }

  // Runs the keyed updater's checks and merge on the tool directory, as
  // Patchloom update.pak VERSION does. Returns 0 or the code it reports.
  DWORD Apply(int i, int j) {
    fs::current_path(Tool());
    std::strcpy(g_szExeDir, ToProgramPath(Tool()).c_str());
    const std::string strClient = ToProgramPath(Tool() / "clientres.pak");
    CRealizePack realize;
    CCheckedUpdate checked;
    DWORD dwCode = CheckSignedUpdate(realize, UpdatePath(i, j).c_str(), g_szExeDir, Version(j).c_str(),
                                     InstalledVersion(), {m_public}, strClient.c_str(), g_szExeDir, checked);
    if (dwCode == ERROR_SUCCESS) dwCode = MergeCheckedUpdate(realize, checked, strClient.c_str(), g_szExeDir);
    if (dwCode == ERROR_SUCCESS && !WriteVersionFile(Version(j).c_str())) dwCode = GetLastError();
    fs::current_path(m_dir.Path());
    return dwCode;
  }

  // The release the tool directory's client holds: its pack's entries and
  // its loose files; anything else beside the pack counts as a loose file.
  ReleaseFiles Held() const {
    ReleaseFiles held = PackContent(Tool() / "clientres.pak");
    for (const auto& item : FilesBelow(Tool())) {
      if (IsUpdaterFile(item.first)) continue;
      EXPECT_TRUE(held.insert(item).second) << "loose and in the pack: " << item.first;
    }
    return held;
  }
  void ExpectRelease(int j, const std::string& strWhat) {
    EXPECT_TRUE(Held() == m_releases[j]) << strWhat << ": not release " << j;
    EXPECT_EQ(Version(j), ReadFileBytes(Tool() / "version.ver")) << strWhat;
  }
  void ExpectRefused(int i, int j, DWORD dwCode, const std::string& strWhat) {
    const ReleaseFiles before = FilesBelow(Tool());
    EXPECT_EQ(dwCode, Apply(i, j)) << strWhat;
    EXPECT_TRUE(before == FilesBelow(Tool())) << strWhat << ": the client changed";
  }

  CTempDir m_dir;
  PackSecretKey m_secret;
  PackPublicKey m_public;
  std::vector<ReleaseFiles> m_releases;
  std::vector<std::string> m_clients;  // the pack of each release, built
};

TEST_P(ReleaseHistoryTest, EveryUpdateTakesItsBaseExactlyToItsRelease) {
  // Through every update in turn, from a client built from the first release.
  PutClient(BuiltClient(0, Version(0)));
  std::vector<ReleaseFiles> vecReached = {FilesBelow(Tool())};
  for (int j = 1; j < kReleases; ++j) {
    ASSERT_EQ(ERROR_SUCCESS, Apply(j - 1, j)) << j;
    ExpectRelease(j, "step to " + std::to_string(j));
    vecReached.push_back(FilesBelow(Tool()));
  }
  for (int i = 0; i < kReleases; ++i) {
    for (int j = i + 1; j < kReleases; ++j) {
      const std::string strUpdate = "update " + std::to_string(i) + " to " + std::to_string(j);
      PutClient(BuiltClient(i, Version(i)));
      ASSERT_EQ(ERROR_SUCCESS, Apply(i, j)) << strUpdate << " on a built client";
      ExpectRelease(j, strUpdate + " on a built client");
      PutClient(vecReached[i]);
      ASSERT_EQ(ERROR_SUCCESS, Apply(i, j)) << strUpdate << " on an updated client";
      ExpectRelease(j, strUpdate + " on an updated client");
    }
  }
}

// A run cut off after its merge, before version.ver: the client holds the
// new release under the old version. The same update run again has only
// version.ver left to write.
TEST_P(ReleaseHistoryTest, AnUpdateCutOffBeforeItsVersionIsFinishedByTheNextRun) {
  PutClient(BuiltClient(2, Version(1)));
  const std::string strPack = ReadFileBytes(Tool() / "clientres.pak");
  ASSERT_EQ(ERROR_SUCCESS, Apply(1, 2));
  ExpectRelease(2, "the update run again");
  EXPECT_EQ(strPack, ReadFileBytes(Tool() / "clientres.pak")) << "nothing to merge";
}

TEST_P(ReleaseHistoryTest, AnUpdateForAnotherBaseChangesNothing) {
  for (int i = 0; i < kReleases; ++i) {
    for (int j = i + 1; j < kReleases; ++j) {
      for (int k = 0; k < kReleases; ++k) {
        if (k == i || k == j) continue;  // at j with version i: only version.ver is left to write
        const std::string strCase =
            "update " + std::to_string(i) + " to " + std::to_string(j) + " on " + std::to_string(k);
        PutClient(BuiltClient(k, Version(k)));
        ExpectRefused(i, j, static_cast<DWORD>(UpdateRefusal::kWrongBase), strCase);
        PutClient(BuiltClient(k, Version(i)));
        ExpectRefused(i, j, static_cast<DWORD>(UpdateRefusal::kClientNotBase), strCase + ", version.ver edited");
      }
    }
  }
}

TEST_P(ReleaseHistoryTest, TheFullUpdateIsTheWayBackFromAnyRelease) {
  for (int j = 0; j < kReleases; ++j) {
    for (int k = 0; k < kReleases; ++k) {
      const std::string strCase = "full update to " + std::to_string(j) + " on " + std::to_string(k);
      PutClient(BuiltClient(k, Version(k)));
      if (k >= j) {
        ExpectRefused(-1, j, static_cast<DWORD>(UpdateRefusal::kNotNewer), strCase);
        PutClient(BuiltClient(k, "garbled\n"));
      }
      ASSERT_EQ(ERROR_SUCCESS, Apply(-1, j)) << strCase;
      ExpectRelease(j, strCase);
    }
  }
}

// A base-bound update needs a version.ver that names a version; a full
// update does not.
TEST_P(ReleaseHistoryTest, VersionsThatSayNothingFailClosed) {
  for (const char* pszInstalled : {"", "   ", "1.03-hotfix", "v1.00", "1.00 beta"}) {
    PutClient(BuiltClient(0, pszInstalled));
    ExpectRefused(0, 1, static_cast<DWORD>(UpdateRefusal::kNoInstalledVersion), pszInstalled);
  }
  PutClient({{"clientres.pak", m_clients[0]}});
  ExpectRefused(0, 1, static_cast<DWORD>(UpdateRefusal::kNoInstalledVersion), "no version.ver");
  ASSERT_EQ(ERROR_SUCCESS, Apply(-1, 1));
  ExpectRelease(1, "full update without version.ver");
}

// A plain client whose tags the index alone vouches for, and a compressed
// one without tags, whose entries every check decodes and hashes.
INSTANTIATE_TEST_SUITE_P(Histories, ReleaseHistoryTest,
                         ::testing::Values(CHistory{11, false, true}, CHistory{23, true, false}));

}  // namespace
