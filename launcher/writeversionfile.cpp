#include <cstring>
#include <string>

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"

namespace {

const char kVersionFileName[] = "\\version.ver";
const char kTempSuffix[] = ".tmp";

// Deletes a file on a failure path without losing the failure's error.
void DiscardFile(const std::string& strPath) {
  DWORD dwError = GetLastError();
  DeleteFileA(strPath.c_str());
  SetLastError(dwError);
}

bool WriteThrough(const std::string& strPath, const char* pszText) {
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!hFile) return false;
  if (!WriteAll(hFile.Get(), pszText, std::strlen(pszText))) {
    hFile.Reset();
    DiscardFile(strPath);
    return false;
  }
  return true;
}

}  // namespace

bool WriteVersionFile(const char* pszVersion) {
  if (pszVersion == nullptr || pszVersion[0] == '\0') return false;
  const std::string strFinal = std::string(g_szExeDir) + kVersionFileName;
  const std::string strTemp = strFinal + kTempSuffix;
  if (strTemp.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!WriteThrough(strTemp, pszVersion)) return false;
  if (!MoveFileExA(strTemp.c_str(), strFinal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DiscardFile(strTemp);
    return false;
  }
  return true;
}
