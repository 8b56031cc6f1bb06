#include <cassert>
#include <cstring>

#include "launcher/processcontrol.h"
#include "platform/cp936.h"
#include "platform/scoped_handle.h"
#include "platform/toolhelp.h"

int KillProcessByName(const char* pszImageName) {
  assert(NULL != pszImageName);
  assert('\0' != pszImageName[0]);
  if (pszImageName == nullptr || pszImageName[0] == '\0') return 0;
  CScopedHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!hSnapshot) return 0;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  if (!Process32First(hSnapshot.Get(), &entry)) return 0;
  int nResult = 0;
  do {
    if (Cp936StrICmp(entry.szExeFile, pszImageName) != 0) continue;
    CScopedHandle hProcess(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    if (!hProcess) return 0;
    nResult = TerminateProcess(hProcess.Get(), 0);
  } while (Process32Next(hSnapshot.Get(), &entry));
  return nResult;
}
