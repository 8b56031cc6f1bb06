// The updater run as its users run it: the real executable as a child
// process in a temporary tool directory, standard input from the null
// device, its console output compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/launcher_messages.h"
#include "tests/support/pack_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_dir.h"

namespace fs = std::filesystem;

namespace {

const int kRunTimeoutMs = 60000;

std::string Lower(std::string str) {
  std::transform(str.begin(), str.end(), str.begin(), [](char ch) { return ch >= 'A' && ch <= 'Z' ? ch + 32 : ch; });
  return str;
}
std::string Upper(std::string str) {
  std::transform(str.begin(), str.end(), str.begin(), [](char ch) { return ch >= 'a' && ch <= 'z' ? ch - 32 : ch; });
  return str;
}

CTestPack ClientPack() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "old content", "tag-1");
  pack.AddEntry("res\\ui\\b.txt", "kept", "tag-b");
  pack.AddTreeForEntries();
  return pack;
}

CTestPack UpdatePack() {
  CTestPack pack("res");
  pack.AddEntry("res\\ui\\a.txt", "new content, longer", "tag-2");
  return pack;
}

class LauncherRunTest : public ::testing::Test {
 protected:
  // The client the updater starts is detached: it is reaped here.
  LauncherRunTest() { AdoptOrphans(); }
  void TearDown() override { CollectOrphans(5000); }

  // Runs the tool's Patchloom with vecArgs (argument 0 is added) from the
  // current directory cwd; it must end with status 0.
  std::string Run(std::vector<std::string> vecArgs, const fs::path& cwd) {
    vecArgs.insert(vecArgs.begin(), m_tool.Program().u8string());
    CChildResult result = RunChild(m_tool.Program(), vecArgs, cwd, kRunTimeoutMs);
    EXPECT_TRUE(result.bEnded) << "Patchloom did not end";
    EXPECT_EQ(0, result.nExitCode);
    return result.strOutput;
  }
  std::string CommandLine(const std::string& strArg1) {
    return Gbk(m_tool.Program().u8string()) + " " + strArg1 + "\n";
  }

  void WritePacks(const CTestPack& update) {
    ClientPack().WriteTo(m_tool.Path() / "clientres.pak");
    update.WriteTo(m_tool.Path() / "update.pak");
    m_strClientBefore = ReadFileBytes(m_tool.Path() / "clientres.pak");
  }
  std::string ClientEntry(const std::string& strName) {
    CTestPack client = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
    const PackEntry* pEntry = client.FindEntry(strName);
    return pEntry ? client.StoredBytes(*pEntry) : "<missing>";
  }
  bool HasVersionFile() { return fs::exists(m_tool.Path() / "version.ver"); }
  // Gives a wrongly started client time to leave its mark.
  bool ClientStayedDown() { return !CToolDir::WaitForStarts(m_tool.Path(), 1, 500); }

  CToolDir m_tool;
  CTempDir m_elsewhere;
  std::string m_strClientBefore;
};

TEST_F(LauncherRunTest, WithoutArgumentsPrintsUsageAndWaitsForAKey) {
  EXPECT_EQ(Usage() + PressAnyKey(), Run({}, m_tool.Path()));
  EXPECT_FALSE(HasVersionFile());
}

TEST_F(LauncherRunTest, MissingPackReportsFileNotFound) {
  std::string strOut = Run({"missing.pak", "1.02"}, m_tool.Path());
  EXPECT_EQ(CommandLine("missing.pak") + VersionLine("1.02") +
                OpenFailed(Lower(m_tool.ProgramPath()) + "\\missing.pak", 2) + PressAnyKey(),
            strOut);
  EXPECT_FALSE(HasVersionFile());
  EXPECT_TRUE(ClientStayedDown());
}

TEST_F(LauncherRunTest, OverlongArgumentReportsNameTooLong) {
  const std::string strArg = std::string(300, 'a') + ".pak";
  EXPECT_EQ(CommandLine(strArg) + OpenFailed(strArg, 206) + PressAnyKey(), Run({strArg}, m_tool.Path()));
  // Just past the limit once joined to the tool directory.
  const std::string strJoined(MAX_PATH - 1 - m_tool.ProgramPath().size(), 'b');
  EXPECT_EQ(CommandLine(strJoined) + OpenFailed(strJoined, 206) + PressAnyKey(), Run({strJoined}, m_tool.Path()));
}

// An absolute path is taken as it is, wherever it leads (it used to be
// glued onto the tool directory and not found); a missing pack there is
// named as given.
TEST_F(LauncherRunTest, AbsolutePathInAnotherDirectoryIsTakenAsItIs) {
  CTestPack update = UpdatePack();
  update.AddEntry("res\\sounds\\s.txt", "sound");
  WritePacks(update);
  fs::rename(m_tool.Path() / "update.pak", m_elsewhere.Path() / "update.pak");
  const std::string strArg = m_elsewhere.ProgramPath("update.pak");
  EXPECT_EQ(CommandLine(strArg) + VersionLine("1.02") + Spinner() + Checking() + Started(),
            Run({strArg, "1.02"}, m_elsewhere.Path()));
  EXPECT_EQ("new content, longer", ClientEntry("res\\ui\\a.txt"));
  EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
  // Loose files still belong to the client installation.
  EXPECT_EQ("sound", ReadFileBytes(m_tool.Path() / "sounds" / "s.txt"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));

  const std::string strMissing = m_elsewhere.ProgramPath("missing.pak");
  EXPECT_EQ(CommandLine(strMissing) + OpenFailed(Lower(strMissing), 2) + PressAnyKey(),
            Run({strMissing}, m_tool.Path()));
}

TEST_F(LauncherRunTest, RelativePackIsTakenFromTheToolDirectory) {
  WritePacks(UpdatePack());
  // The version is stored in code page 936 whatever the caller's encoding.
  const std::string strVersion = "1.02 测试版";
  const std::string strOut = Run({"update.pak", strVersion}, m_elsewhere.Path());
  EXPECT_EQ(CommandLine("update.pak") + VersionLine(Gbk(strVersion)) + Spinner() + Checking() + Started(), strOut);
  EXPECT_EQ("new content, longer", ClientEntry("res\\ui\\a.txt"));
  EXPECT_EQ("kept", ClientEntry("res\\ui\\b.txt"));
  EXPECT_EQ(Gbk(strVersion), ReadFileBytes(m_tool.Path() / "version.ver"));
  EXPECT_FALSE(fs::exists(m_tool.Path() / "version.ver.tmp"));
  // The client runs from the tool directory, not from the caller's.
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
  EXPECT_FALSE(fs::exists(m_elsewhere.Path() / CToolDir::kStartMarker));
}

// Entries outside the client's tree are written beside the client pack,
// whatever the current directory the tool was started from.
TEST_F(LauncherRunTest, LooseFilesGoIntoTheToolDirectory) {
  CTestPack update = UpdatePack();
  update.AddEntry("res\\sounds\\s.txt", "sound");
  WritePacks(update);
  EXPECT_EQ(CommandLine("update.pak") + Spinner() + Checking() + Started(), Run({"update.pak"}, m_elsewhere.Path()));
  EXPECT_EQ("sound", ReadFileBytes(m_tool.Path() / "sounds" / "s.txt"));
  EXPECT_FALSE(fs::exists(m_elsewhere.Path() / "sounds"));
}

TEST_F(LauncherRunTest, AbsolutePathInOtherLetterCaseWithoutVersion) {
  WritePacks(UpdatePack());
  std::string strArg = Upper(m_tool.ProgramPath("update.pak"));
  std::string strSlashed = strArg;
  std::replace(strSlashed.begin(), strSlashed.end(), '\\', '/');
  EXPECT_EQ(CommandLine(strArg) + Spinner() + Checking() + Started(), Run({strSlashed}, m_elsewhere.Path()));
  EXPECT_EQ("new content, longer", ClientEntry("res\\ui\\a.txt"));
  EXPECT_FALSE(HasVersionFile());
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
}

TEST_F(LauncherRunTest, RejectedUpdateReportsTheErrorAndChangesNothing) {
  CTestPack update = UpdatePack();
  update.AddEntry("res\\..\\escape.txt", "outside");
  WritePacks(update);
  const std::string strOut = Run({"update.pak", "1.02"}, m_tool.Path());
  const int kInvalidData = 13;
  EXPECT_EQ(CommandLine("update.pak") + VersionLine("1.02") + Spinner() + Checking() + MergeFailed(kInvalidData) +
                PressAnyKey(),
            strOut);
  EXPECT_EQ(m_strClientBefore, ReadFileBytes(m_tool.Path() / "clientres.pak"));
  EXPECT_FALSE(HasVersionFile());
  EXPECT_TRUE(ClientStayedDown());
}

// After the merge the updater compacts the client when more than a quarter
// of it is holes, saying nothing about it; a compaction that fails leaves
// the merged pack and the update goes on.
TEST_F(LauncherRunTest, ClientWithOverAQuarterInHolesIsCompacted) {
  const std::string strOutput = CommandLine("update.pak") + VersionLine("1.02") + Spinner() + Checking() + Started();
  struct CCase {
    const char* pszWhat;
    size_t nOldSize;  // of a.txt, which the update makes one byte larger, moving it to the end
    bool bBlockTemp;  // a directory where the compaction writes the new pack
    bool bCompacted;
  };
  const CCase cases[] = {{"holes over a quarter", 6000, false, true},
                         {"holes under a quarter", 600, false, false},
                         {"a compaction that fails", 6000, true, false}};
  for (const CCase& test : cases) {
    SCOPED_TRACE(test.pszWhat);
    fs::remove_all(m_tool.Path() / "clientres.pak.compact.new");
    fs::remove(m_tool.Path() / "version.ver");
    CTestPack client("res");
    client.AddEntry("res\\ui\\a.txt", std::string(test.nOldSize, 'a'), "tag-1");
    client.AddEntry("res\\ui\\b.txt", std::string(3000, 'b'), "tag-b");
    client.AddTreeForEntries();
    client.WriteTo(m_tool.Path() / "clientres.pak");
    CTestPack update("res");
    update.AddEntry("res\\ui\\a.txt", std::string(test.nOldSize + 1, 'A'), "tag-2");
    update.WriteTo(m_tool.Path() / "update.pak");
    if (test.bBlockTemp) fs::create_directory(m_tool.Path() / "clientres.pak.compact.new");

    EXPECT_EQ(strOutput, Run({"update.pak", "1.02"}, m_tool.Path()));
    EXPECT_EQ("1.02", ReadFileBytes(m_tool.Path() / "version.ver"));
    EXPECT_EQ(std::string(test.nOldSize + 1, 'A'), ClientEntry("res\\ui\\a.txt"));
    EXPECT_EQ(std::string(3000, 'b'), ClientEntry("res\\ui\\b.txt"));
    const CTestPack merged = CTestPack::ReadFrom(m_tool.Path() / "clientres.pak");
    EXPECT_EQ(test.bCompacted ? 0u : 1u, merged.vecFree.size());
    EXPECT_EQ(test.bCompacted ? 3000 + test.nOldSize + 1 : 3000 + 2 * test.nOldSize + 1, merged.strData.size());
    EXPECT_EQ(test.bBlockTemp, fs::exists(m_tool.Path() / "clientres.pak.compact.new"));
  }
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 3));
}

// An update shipped read-only is only read; a client pack that may not be
// written is reported (access denied) and left as it is.
TEST_F(LauncherRunTest, ReadOnlyUpdateIsMergedAndReadOnlyClientIsReported) {
  WritePacks(UpdatePack());
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read;
  fs::permissions(m_tool.Path() / "clientres.pak", readOnly);
  const int kAccessDenied = 5;
  EXPECT_EQ(CommandLine("update.pak") + VersionLine("1.02") + Spinner() + Checking() + MergeFailed(kAccessDenied) +
                PressAnyKey(),
            Run({"update.pak", "1.02"}, m_tool.Path()));
  EXPECT_EQ(m_strClientBefore, ReadFileBytes(m_tool.Path() / "clientres.pak"));
  EXPECT_FALSE(HasVersionFile());
  EXPECT_TRUE(ClientStayedDown());

  fs::permissions(m_tool.Path() / "clientres.pak", readOnly | fs::perms::owner_write);
  fs::permissions(m_tool.Path() / "update.pak", readOnly);
  EXPECT_EQ(CommandLine("update.pak") + VersionLine("1.02") + Spinner() + Checking() + Started(),
            Run({"update.pak", "1.02"}, m_tool.Path()));
  EXPECT_EQ("new content, longer", ClientEntry("res\\ui\\a.txt"));
  EXPECT_TRUE(CToolDir::WaitForStarts(m_tool.Path(), 1));
}

}  // namespace
