#include "launcher/processcontrol.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

bool RunProcessAndWait(const char* pszProgram) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(pszProgram, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return false;
  CScopedHandle hProcess(info.hProcess);
  CScopedHandle hThread(info.hThread);
  WaitForSingleObject(hProcess.Get(), INFINITE);
  return true;
}
