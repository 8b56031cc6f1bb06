#include "platform/durable_replace.h"

#include "platform/file_io.h"

CScopedHandle CreateReplacement(const std::string& strTemp, DWORD dwDisposition) {
  return CScopedHandle(CreateFileA(strTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, dwDisposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CompleteReplacement(bool bWritten, CScopedHandle& hTemp, const std::string& strTemp, const std::string& strFinal) {
  // Flushed before the move, so a power cut cannot leave the final name on
  // bytes that never reached the disk.
  bool bOk = bWritten && FlushFileBuffers(hTemp.Get());
  hTemp.Reset();  // keeps the last error
  bOk = bOk && MoveFileExA(strTemp.c_str(), strFinal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!bOk) DeleteKeepingError(strTemp);
  return bOk;
}
