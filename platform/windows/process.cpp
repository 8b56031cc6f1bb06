// Starting programs with code-page-936 names and command lines, over
// CreateProcessW.
#include <string>

#include "platform/windows/wide_path.h"

namespace {

// WinExec's result for success: anything above 31.
const UINT kWinExecStarted = 33;

// The A start-up information in W form; the strings it points to live here.
class CWideStartupInfo {
 public:
  explicit CWideStartupInfo(const STARTUPINFOA& info)
      : m_desktop(info.lpDesktop, kMaxCommandLine), m_title(info.lpTitle, kMaxCommandLine) {
    m_info.cb = sizeof(m_info);
    m_info.lpDesktop = m_desktop.GetWritable();
    m_info.lpTitle = m_title.GetWritable();
    m_info.dwX = info.dwX;
    m_info.dwY = info.dwY;
    m_info.dwXSize = info.dwXSize;
    m_info.dwYSize = info.dwYSize;
    m_info.dwXCountChars = info.dwXCountChars;
    m_info.dwYCountChars = info.dwYCountChars;
    m_info.dwFillAttribute = info.dwFillAttribute;
    m_info.dwFlags = info.dwFlags;
    m_info.wShowWindow = info.wShowWindow;
    m_info.hStdInput = info.hStdInput;
    m_info.hStdOutput = info.hStdOutput;
    m_info.hStdError = info.hStdError;
  }

  DWORD Error() const { return m_desktop.Error() != ERROR_SUCCESS ? m_desktop.Error() : m_title.Error(); }
  STARTUPINFOW* Get() { return &m_info; }

 private:
  CWidePath m_desktop;
  CWidePath m_title;
  STARTUPINFOW m_info = {};
};

BOOL CreateProcessImpl(LPCSTR pszApplication, LPSTR pszCommandLine, LPSECURITY_ATTRIBUTES pProcessAttributes,
                       LPSECURITY_ATTRIBUTES pThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                       LPVOID pEnvironment, LPCSTR pszDirectory, LPSTARTUPINFOA pStartupInfo,
                       LPPROCESS_INFORMATION pInfo) {
  if (pStartupInfo == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CWidePath application(pszApplication);
  CWidePath commandLine(pszCommandLine, kMaxCommandLine);
  CWidePath directory(pszDirectory);
  CWideStartupInfo startup(*pStartupInfo);
  for (DWORD dwError : {application.Error(), commandLine.Error(), directory.Error(), startup.Error()}) {
    if (dwError != ERROR_SUCCESS) {
      SetLastError(dwError);
      return FALSE;
    }
  }
  // An environment block without CREATE_UNICODE_ENVIRONMENT stays ANSI, as
  // the A function passes it.
  return CreateProcessW(application.Get(), commandLine.GetWritable(), pProcessAttributes, pThreadAttributes,
                        bInheritHandles, dwCreationFlags, pEnvironment, directory.Get(), startup.Get(), pInfo);
}

UINT WinExecImpl(LPCSTR pszCmdLine, UINT uCmdShow) {
  CWidePath commandLine(pszCmdLine, kMaxCommandLine);
  DWORD dwError = commandLine.Error();
  if (dwError == ERROR_SUCCESS && pszCmdLine == nullptr) dwError = ERROR_FILE_NOT_FOUND;
  if (dwError == ERROR_SUCCESS) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(uCmdShow);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, commandLine.GetWritable(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
      return kWinExecStarted;
    }
    dwError = GetLastError();
    if (dwError == ERROR_BAD_EXE_FORMAT) dwError = ERROR_BAD_FORMAT;  // WinExec's older code for it
  }
  SetLastError(dwError);
  // Codes above 31 would read as success.
  return dwError > 31 ? 0 : static_cast<UINT>(dwError);
}

}  // namespace

BOOL WINAPI Cp936CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                                LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                                LPPROCESS_INFORMATION lpProcessInformation) {
  return GuardWin32(FALSE, [&] {
    return CreateProcessImpl(lpApplicationName, lpCommandLine, lpProcessAttributes, lpThreadAttributes,
                             bInheritHandles, dwCreationFlags, lpEnvironment, lpCurrentDirectory, lpStartupInfo,
                             lpProcessInformation);
  });
}

UINT WINAPI Cp936WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  return GuardWin32(static_cast<UINT>(0), [&] { return WinExecImpl(lpCmdLine, uCmdShow); });
}
