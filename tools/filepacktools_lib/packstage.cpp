#include "tools/filepacktools_lib/packstage.h"

#include "platform/dir_sync.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"

namespace {

constexpr char kStagedSuffix[] = ".~partial";

}  // namespace

std::string StagedPath(const std::string& strPath) { return strPath + kStagedSuffix; }

bool StageFile(const std::string& strPath, const void* pData, size_t nSize) {
  const std::string strStaged = StagedPath(strPath);
  CScopedHandle hStaged = CreateReplacement(strStaged, CREATE_ALWAYS);
  if (!hStaged) return false;
  return CloseReplacement(WriteAll(hStaged.Get(), pData, nSize), hStaged, strStaged);
}

bool InstallStaged(const std::string& strPath) {
  return MoveReplacement(StagedPath(strPath), strPath) && GetLastError() == ERROR_SUCCESS;
}

bool RemoveDurably(const std::string& strPath) {
  if (DeleteFileA(strPath.c_str())) return FlushDirectoryOf(strPath.c_str()) != FALSE;
  const DWORD dwError = GetLastError();
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}
