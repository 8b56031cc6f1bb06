// What the platform layer adds on Windows: the multibyte code page set to
// 936 before main, the updater's console output byte for byte when
// redirected, no console needed for a key wait, and programs started and
// named through code-page-936 paths.
#include <gtest/gtest.h>
#include <mbstring.h>
#include <mbctype.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/args.h"
#include "platform/console.h"
#include "platform/win32.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path ThisProgram() {
  wchar_t szPath[32768];
  DWORD nLength = GetModuleFileNameW(nullptr, szPath, 32768);
  return fs::path(std::wstring(szPath, nLength));
}

// Points a standard handle elsewhere for the object's lifetime.
class CStdHandleSwap {
 public:
  CStdHandleSwap(DWORD dwWhich, HANDLE hNew) : m_dwWhich(dwWhich), m_hSaved(GetStdHandle(dwWhich)) {
    SetStdHandle(dwWhich, hNew);
  }
  ~CStdHandleSwap() { SetStdHandle(m_dwWhich, m_hSaved); }
  CStdHandleSwap(const CStdHandleSwap&) = delete;
  CStdHandleSwap& operator=(const CStdHandleSwap&) = delete;

 private:
  DWORD m_dwWhich;
  HANDLE m_hSaved;
};

TEST(PlatformWindowsTest, MultibyteCodePageIs936BeforeMain) {
  EXPECT_EQ(936, _getmbcp());
  // So the C runtime's multibyte functions walk GBK: 淺's trail byte is not
  // a backslash.
  const unsigned char szPath[] = "dir\\\x9C\x5C";
  EXPECT_EQ(szPath + 3, _mbsrchr(szPath, '\\'));
}

TEST(PlatformWindowsTest, RedirectedConsoleOutputIsWrittenByteForByte) {
  CTempDir dir;
  const fs::path file = dir.Path() / "out.txt";
  HANDLE hFile = CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
  {
    CStdHandleSwap swap(STD_OUTPUT_HANDLE, hFile);
    ConsoleWrite("line\n\xB1\xED\r", 8);
    ConsolePrintf("%s=%d\n", "\x9C\x5C", 7);
  }
  CloseHandle(hFile);
  // No "\r" before "\n", as the C runtime's text mode would add.
  EXPECT_EQ("line\n\xB1\xED\r\x9C\x5C=7\n", ReadFileBytes(file));
}

TEST(PlatformWindowsTest, KeyWaitReturnsAtOnceWithoutAConsole) {
  HANDLE hNul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hNul);
  CStdHandleSwap swap(STD_INPUT_HANDLE, hNul);
  const auto start = std::chrono::steady_clock::now();
  ConsoleWaitKey();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  CloseHandle(hNul);
}

TEST(PlatformWindowsTest, ArgumentsNotFromTheCommandLineAreReadInTheAnsiCodePage) {
  char szName[] = "tool.exe";
  char szArg[] = "a b";
  char* argv[] = {szName, szArg, nullptr};
  EXPECT_EQ((std::vector<std::string>{"tool.exe", "a b"}), GetProgramArgs(2, argv));
}

TEST(PlatformWindowsTest, ModuleFileNameIsTheProgramInGbk) {
  const std::string strExpected = ToProgramPath(ThisProgram());
  char szPath[MAX_PATH];
  ASSERT_EQ(strExpected.size(), GetModuleFileNameA(nullptr, szPath, sizeof(szPath)));
  EXPECT_EQ(strExpected, szPath);
  char szSmall[6];
  EXPECT_EQ(6u, GetModuleFileNameA(nullptr, szSmall, sizeof(szSmall)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(strExpected.substr(0, 5), szSmall);
}

// A copy of this test program under a Chinese name, run with a filter that
// matches no test: it only writes its (empty) XML report, which shows that
// it ran. The report goes to a directory with an ASCII name: the child's C
// runtime reads its arguments and current directory in the ANSI code page.
class PlatformStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_dir.Path() / Utf8Path(u8"程序"));
    fs::copy_file(ThisProgram(), m_dir.Path() / Utf8Path(u8"程序/自测.exe"));
  }
  std::string Program() const { return m_dir.ProgramPath(u8"程序\\自测.exe"); }
  std::string Arguments(const std::string& strReport) const {
    return "--gtest_filter=NoSuchTest --gtest_output=xml:" + m_reports.ProgramPath(strReport);
  }
  bool WaitForReport(const std::string& strReport) const {
    const fs::path report = m_reports.Path() / strReport;
    for (int i = 0; i < 1000 && !fs::exists(report); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(report);
  }

  CTempDir m_dir;
  CTempDir m_reports;
};

TEST_F(PlatformStartTest, CreateProcessTakesGbkNamesAndDirectory) {
  std::string strCommandLine = Gbk(u8"自测.exe ") + Arguments("started.xml");
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // The current directory must exist too, or the start fails.
  ASSERT_TRUE(CreateProcessA(Program().c_str(), &strCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                             m_dir.ProgramPath(u8"程序").c_str(), &startup, &info));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, 60000));
  DWORD dwExitCode = 1;
  GetExitCodeProcess(info.hProcess, &dwExitCode);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  EXPECT_EQ(0u, dwExitCode);
  EXPECT_TRUE(WaitForReport("started.xml"));

  startup.cb = sizeof(startup);
  EXPECT_FALSE(CreateProcessA(m_dir.ProgramPath(u8"程序\\无.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &info));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(PlatformStartTest, WinExecFindsAGbkProgramInTheCurrentDirectory) {
  CCurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDirectoryA(m_dir.ProgramPath(u8"程序").c_str()));
  const std::string strCommandLine = Gbk(u8"自测.exe ") + Arguments("winexec.xml");
  EXPECT_GT(WinExec(strCommandLine.c_str(), SW_HIDE), 31u);
  EXPECT_TRUE(WaitForReport("winexec.xml"));
  EXPECT_EQ(static_cast<UINT>(ERROR_FILE_NOT_FOUND), WinExec(Gbk(u8"无此程序.exe").c_str(), SW_HIDE));
}

}  // namespace
