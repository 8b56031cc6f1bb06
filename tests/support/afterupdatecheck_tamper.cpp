// The trust tests' AfterUpdateCheck: when tamper.bin lies beside the
// program, its bytes are written over the start of the file tamper.path
// names (the update), in place, right after the update passed its checks;
// the outcome goes to tamper.result ("written", or "refused <error>").
// On POSIX the write goes through open(2) and pwrite(2), as a program that
// ignores share modes (dd conv=notrunc, say) writes; on Windows through
// CreateFileA, which the share mode of the held update refuses. Linked
// into a test build of the updater only, never into Patchloom.
#include <string>

#include "launcher/updatedriver.h"
#include "platform/file_io.h"
#include "platform/scoped_handle.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

std::string Beside(const char* pszName) { return std::string(g_szExeDir) + "\\" + pszName; }

// "written", or "refused <error>".
std::string WriteInPlace(const std::string& strPath, const std::string& strBytes) {
#ifdef _WIN32
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return "refused " + std::to_string(GetLastError());
  return WriteAll(hFile.Get(), strBytes.data(), strBytes.size()) ? "written"
                                                                 : "refused " + std::to_string(GetLastError());
#else
  const int nFd = open(strPath.c_str(), O_WRONLY);
  if (nFd < 0) return "refused " + std::to_string(errno);
  const ssize_t nWritten = pwrite(nFd, strBytes.data(), strBytes.size(), 0);
  const int nErrno = errno;
  close(nFd);
  return nWritten == static_cast<ssize_t>(strBytes.size()) ? "written" : "refused " + std::to_string(nErrno);
#endif
}

}  // namespace

void AfterUpdateCheck(const CUpdatePaths& /*paths*/) {
  std::string strBytes;
  std::string strTarget;
  if (!ReadWholeFile(Beside("tamper.bin").c_str(), strBytes) ||
      !ReadWholeFile(Beside("tamper.path").c_str(), strTarget))
    return;
  const std::string strResult = WriteInPlace(strTarget, strBytes);
  CScopedHandle hResult(CreateFileA(Beside("tamper.result").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (hResult) WriteAll(hResult.Get(), strResult.data(), strResult.size());
}
