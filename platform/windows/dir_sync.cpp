// FlushDirectoryOf on Windows: the directory opened for writing and flushed
// (see platform/dir_sync.h).
#include "platform/dir_sync.h"

#include "platform/fault_hook.h"
#include "platform/windows/full_path.h"
#include "platform/windows/wide_path.h"

// The real flush: a directory's is no point of the fault injector, which
// hears of it through FaultHookDirSynced instead.
#undef FlushFileBuffers

BOOL FlushDirectoryOf(LPCSTR pszPath) {
  return WithWidePath(pszPath, FALSE, [](const wchar_t* pszWide) -> BOOL {
    if (pszWide == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const std::wstring strDir = ParentDirOf(FullPathOf(pszWide));
    if (g_bFaultArmed && FaultHookSyncFails()) {
      SetLastError(ERROR_WRITE_FAULT);
      return FALSE;
    }
    HANDLE hDir = CreateFileW(strDir.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hDir == INVALID_HANDLE_VALUE) return FALSE;
    const BOOL bOk = FlushFileBuffers(hDir);
    const DWORD dwError = GetLastError();
    CloseHandle(hDir);
    if (bOk && g_bFaultArmed) FaultHookDirSynced(strDir);
    SetLastError(dwError);
    return bOk;
  });
}
