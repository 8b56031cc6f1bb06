#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "tests/support/child_process.h"

namespace {

std::wstring Wide(const std::string& strUtf8) {
  if (strUtf8.empty()) return std::wstring();
  int nLength = MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), static_cast<int>(strUtf8.size()), nullptr, 0);
  std::wstring strWide(static_cast<size_t>(nLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), static_cast<int>(strUtf8.size()), &strWide[0], nLength);
  return strWide;
}

// Quotes one argument so the C runtime splits it back out unchanged.
std::wstring Quoted(const std::wstring& strArg) {
  if (!strArg.empty() && strArg.find_first_of(L" \t\"") == std::wstring::npos) return strArg;
  std::wstring strOut = L"\"";
  size_t nBackslashes = 0;
  for (wchar_t ch : strArg) {
    if (ch == L'\\') {
      ++nBackslashes;
      continue;
    }
    strOut.append(ch == L'"' ? nBackslashes * 2 + 1 : nBackslashes, L'\\');
    nBackslashes = 0;
    strOut.push_back(ch);
  }
  strOut.append(nBackslashes * 2, L'\\');
  strOut.push_back(L'"');
  return strOut;
}

HANDLE OpenNulInput() {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}

DWORD MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
}

}  // namespace

CChildProcess::CChildProcess(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                             const std::filesystem::path& workDir, bool bWithStderr) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE hRead = nullptr;
  HANDLE hWrite = nullptr;
  if (!CreatePipe(&hRead, &hWrite, &inherit, 0)) throw std::runtime_error("pipe failed");
  SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE hNul = OpenNulInput();
  std::wstring strCommandLine;
  for (const std::string& strArg : vecArgs)
    strCommandLine += (strCommandLine.empty() ? L"" : L" ") + Quoted(Wide(strArg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = hNul;
  startup.hStdOutput = hWrite;
  startup.hStdError = bWithStderr ? hWrite : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  // Under Wine a start very rarely fails for a moment while many processes
  // come and go (seen once in hundreds of runs); a missing program does not
  // get better by trying again.
  BOOL bStarted = FALSE;
  DWORD dwError = ERROR_SUCCESS;
  for (int nTry = 0; nTry < 5 && !bStarted; ++nTry) {
    if (nTry > 0) Sleep(200);
    bStarted = CreateProcessW(program.wstring().c_str(), &strCommandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                              workDir.wstring().c_str(), &startup, &info);
    dwError = bStarted ? ERROR_SUCCESS : GetLastError();
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) break;
  }
  CloseHandle(hWrite);
  if (hNul != INVALID_HANDLE_VALUE) CloseHandle(hNul);
  if (!bStarted) {
    CloseHandle(hRead);
    throw std::runtime_error("cannot start " + program.string() + " (error " + std::to_string(dwError) + ")");
  }
  CloseHandle(info.hThread);
  m_dwId = info.dwProcessId;
  m_hProcess = reinterpret_cast<intptr_t>(info.hProcess);
  m_hOutput = reinterpret_cast<intptr_t>(hRead);
}

CChildProcess::~CChildProcess() {
  if (!m_bEnded) Kill();
  CloseHandle(reinterpret_cast<HANDLE>(m_hOutput));
  CloseHandle(reinterpret_cast<HANDLE>(m_hProcess));
}

void CChildProcess::Kill() {
  HANDLE hProcess = reinterpret_cast<HANDLE>(m_hProcess);
  TerminateProcess(hProcess, 1);
  WaitForSingleObject(hProcess, INFINITE);
  m_bEnded = true;
}

bool CChildProcess::Wait(int nTimeoutMs) {
  if (m_bEnded) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
  HANDLE hProcess = reinterpret_cast<HANDLE>(m_hProcess);
  HANDLE hOutput = reinterpret_cast<HANDLE>(m_hOutput);
  char byBuffer[4096];
  for (;;) {
    DWORD dwAvailable = 0;
    if (PeekNamedPipe(hOutput, nullptr, 0, nullptr, &dwAvailable, nullptr) && dwAvailable > 0) {
      DWORD dwRead = 0;
      if (ReadFile(hOutput, byBuffer, sizeof(byBuffer), &dwRead, nullptr)) m_strOutput.append(byBuffer, dwRead);
      continue;
    }
    // Nothing buffered: either the child has ended (and then all its output
    // is in the pipe already) or it is still writing.
    if (WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0) {
      if (PeekNamedPipe(hOutput, nullptr, 0, nullptr, &dwAvailable, nullptr) && dwAvailable > 0) continue;
      break;
    }
    if (MillisecondsLeft(deadline) == 0) return false;
    Sleep(5);
  }
  DWORD dwExitCode = 0;
  GetExitCodeProcess(hProcess, &dwExitCode);
  m_nExitCode = static_cast<int>(dwExitCode);
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(hProcess, &counters, sizeof(counters))) m_qwPeakMemory = counters.PeakWorkingSetSize;
  m_bEnded = true;
  return true;
}

CChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& vecArgs,
                      const std::filesystem::path& workDir, int nTimeoutMs, bool bWithStderr) {
  CChildProcess child(program, vecArgs, workDir, bWithStderr);
  CChildResult result;
  result.bEnded = child.Wait(nTimeoutMs);
  result.nExitCode = child.ExitCode();
  result.strOutput = child.Output();
  result.qwPeakMemory = child.PeakMemoryBytes();
  return result;
}

// A detached program is nobody's child on Windows: nothing to reap.
void AdoptOrphans() {}

void CollectOrphans(int nTimeoutMs) { (void)nTimeoutMs; }
