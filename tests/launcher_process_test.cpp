// The process operations with real processes: copies of the client stand-in
// named "Veshmarkland.exe", started, found by name and terminated.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "launcher/processcontrol.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_dir.h"

namespace fs = std::filesystem;

namespace {

const int kEndTimeoutMs = 5000;

class ProcessControlTest : public ::testing::Test {
 protected:
  ProcessControlTest() {
    fs::copy_file(Utf8Path(STANDIN_EXE), m_dir.Path() / CToolDir::kClientName);
    AdoptOrphans();  // what WinExec starts is reaped in TearDown
  }
  void TearDown() override { CollectOrphans(5000); }

  // A stand-in that stays alive until killed, started in the temp directory.
  std::unique_ptr<CChildProcess> StartStaying() {
    return std::make_unique<CChildProcess>(m_dir.Path() / CToolDir::kClientName,
                                           std::vector<std::string>{CToolDir::kClientName, "--stay"}, m_dir.Path());
  }
  int Starts() { return CToolDir::StartCount(m_dir.Path()); }
  std::string StartLine() {
    std::string strMarker = ReadFileBytes(m_dir.Path() / CToolDir::kStartMarker);
    return strMarker.substr(0, strMarker.find('\n'));
  }

  CTempDir m_dir;
  CCurrentDirGuard m_cwd;
};

TEST_F(ProcessControlTest, OneCallEndsEveryCopy) {
  auto spFirst = StartStaying();
  auto spSecond = StartStaying();
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 2));
  EXPECT_NE(0, KillProcessByName("Veshmarkland.exe"));
  EXPECT_TRUE(spFirst->Wait(kEndTimeoutMs));
  EXPECT_TRUE(spSecond->Wait(kEndTimeoutMs));
  EXPECT_EQ(0, KillProcessByName("Veshmarkland.exe")) << "nothing left to end";
}

TEST_F(ProcessControlTest, NameMatchesInAnyLetterCase) {
  auto spClient = StartStaying();
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));
  EXPECT_NE(0, KillProcessByName("vESHMARKLAND.EXE"));
  EXPECT_TRUE(spClient->Wait(kEndTimeoutMs));
}

TEST_F(ProcessControlTest, OtherNamesMatchNothing) {
  auto spClient = StartStaying();
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));
  EXPECT_EQ(0, KillProcessByName("NoSuchClient.exe"));
  // Prefixes, such as a name cut to 15 bytes, are other names.
  EXPECT_EQ(0, KillProcessByName("Veshmarkland.ex"));
  EXPECT_EQ(0, KillProcessByName("Veshmarkland"));
  EXPECT_FALSE(spClient->Wait(300)) << "the client must still run";
}

TEST_F(ProcessControlTest, FileExistsOnlyForReadableFiles) {
  WriteFileBytes(m_dir.Path() / "present.pak", "x");
  EXPECT_EQ(1, FileExists(m_dir.ProgramPath("present.pak").c_str()));
  EXPECT_EQ(1, FileExists(m_dir.ProgramPath("PRESENT.PAK").c_str()));
  EXPECT_EQ(0, FileExists(m_dir.ProgramPath("absent.pak").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(0, FileExists(m_dir.ProgramPath("absent\\x.pak").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(0, FileExists(m_dir.ProgramPath().c_str())) << "a directory is not a file";
  // Held open for writing without read sharing: counts as absent.
  CScopedHandle hWriter(CreateFileA(m_dir.ProgramPath("present.pak").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hWriter);
  EXPECT_EQ(0, FileExists(m_dir.ProgramPath("present.pak").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

TEST_F(ProcessControlTest, RunProcessAndWaitReturnsOnceTheProgramEnded) {
  fs::current_path(m_dir.Path());
  EXPECT_TRUE(RunProcessAndWait(m_dir.ProgramPath(CToolDir::kClientName).c_str()));
  EXPECT_EQ(1, Starts()) << "it must have run to its end before the call returned";
  EXPECT_FALSE(RunProcessAndWait(m_dir.ProgramPath("NoSuchProgram.exe").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(ProcessControlTest, CreateProcessSplitsTheCommandLineAsTheRuntimeDoes) {
  char szCommandLine[] = "Veshmarkland.exe plain \"two words\" a\\\\\"b c\\d\" \"say \\\"hi\\\"\" tail\\";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  const std::string strDir = m_dir.ProgramPath();
  ASSERT_TRUE(CreateProcessA(m_dir.ProgramPath(CToolDir::kClientName).c_str(), szCommandLine, nullptr, nullptr, FALSE,
                             0, nullptr, strDir.c_str(), &startup, &info));
  CScopedHandle hProcess(info.hProcess);
  CScopedHandle hThread(info.hThread);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hProcess.Get(), 10000));
  EXPECT_EQ("started|plain|two words|a\\b c\\d|say \"hi\"|tail\\", StartLine());
}

TEST_F(ProcessControlTest, WaitTimesOutUntilTheProcessIsTerminated) {
  char szCommandLine[] = "Veshmarkland.exe --stay";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  fs::current_path(m_dir.Path());
  // Found by name in the current directory.
  ASSERT_TRUE(CreateProcessA(nullptr, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  CScopedHandle hProcess(info.hProcess);
  CScopedHandle hThread(info.hThread);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hProcess.Get(), 100));
  EXPECT_TRUE(TerminateProcess(hProcess.Get(), 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hThread.Get(), 10000));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hProcess.Get(), 0));
}

TEST_F(ProcessControlTest, WinExecFindsTheProgramInTheCurrentDirectory) {
  fs::current_path(m_dir.Path());
  EXPECT_GT(WinExec("Veshmarkland.exe one", SW_SHOW), 31u);
  ASSERT_TRUE(CToolDir::WaitForStarts(m_dir.Path(), 1));
  EXPECT_EQ("started|one", StartLine());
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec("NoSuchProgram.exe", SW_SHOW));
}

}  // namespace
