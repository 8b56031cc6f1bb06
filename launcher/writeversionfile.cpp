#include <cstring>
#include <string>

#include "launcher/updatedriver.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"

namespace {

const char kVersionFileName[] = "\\version.ver";
const char kTempSuffix[] = ".tmp";

}  // namespace

bool WriteVersionFile(const char* pszVersion) {
  if (pszVersion == nullptr || pszVersion[0] == '\0') return false;
  const std::string strFinal = std::string(g_szExeDir) + kVersionFileName;
  const std::string strTemp = strFinal + kTempSuffix;
  if (strTemp.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  CScopedHandle hTemp = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hTemp) return false;
  return CompleteReplacement(WriteAll(hTemp.Get(), pszVersion, std::strlen(pszVersion)), hTemp, strTemp, strFinal);
}
