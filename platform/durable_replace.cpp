#include "platform/durable_replace.h"

#include "platform/file_io.h"

namespace {

bool Exists(const std::string& strPath) { return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Gone(const std::string& strPath) {
  return GetFileAttributesA(strPath.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

CScopedHandle CreateReplacement(const std::string& strTemp, DWORD dwDisposition) {
  return CScopedHandle(CreateFileA(strTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, dwDisposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Flushed before the move, so a power cut cannot leave the final name on
// bytes that never reached the disk.
bool CloseReplacement(bool bWritten, CScopedHandle& hTemp, const std::string& strTemp) {
  const bool bOk = bWritten && FlushFileBuffers(hTemp.Get());
  hTemp.Reset();  // keeps the last error
  if (!bOk) DeleteKeepingError(strTemp);
  return bOk;
}

// A write-through move that fails may have moved the file and failed only
// to make the move durable: the temporary name is gone and the final one
// is there. That replacement has happened, and is reported so.
bool MoveReplacement(const std::string& strTemp, const std::string& strFinal) {
  if (MoveFileExA(strTemp.c_str(), strFinal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  CKeepLastError keep;
  const bool bMoved = Gone(strTemp) && Exists(strFinal);
  if (!bMoved) DeleteFileA(strTemp.c_str());
  return bMoved;
}

bool CompleteReplacement(bool bWritten, CScopedHandle& hTemp, const std::string& strTemp, const std::string& strFinal) {
  return CloseReplacement(bWritten, hTemp, strTemp) && MoveReplacement(strTemp, strFinal);
}
