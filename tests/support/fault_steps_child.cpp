// File and directory operations run with fault injection armed: the child
// process of the fault injector's own tests.
//
//   fault_steps_child MODE POINT STEP...
//
// MODE and POINT as for merge_fault_child. Each STEP, on names relative to
// the current directory:
//   file:NAME:TEXT      creates or truncates NAME, writes TEXT, flushes it
//   plainfile:NAME:TEXT  the same without the flush
//   wtfile:NAME:TEXT    the same through a FILE_FLAG_WRITE_THROUGH handle
//   overwrite:NAME:TEXT  writes TEXT over the start of the existing NAME, flushes it
//   move:FROM:TO        MoveFileExA, replacing
//   movewt:FROM:TO      the same with MOVEFILE_WRITE_THROUGH
//   delete:NAME  mkdir:NAME  rmdir:NAME  sync:NAME (FlushDirectoryOf)
// Prints "result R error E points P flushes F syncs S" (R is 1 when every
// step succeeded; E the error of the first that failed). Then, in the power
// cut modes, cuts the power after the last step; a stop at a point cuts it
// there. Exits with 0 when nothing stopped.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/args.h"
#include "platform/dir_sync.h"
#include "platform/fault_inject.h"
#include "platform/win32.h"
#include "tests/support/fault_modes.h"

namespace {

std::vector<std::string> Split(const std::string& strStep) {
  std::vector<std::string> vecParts;
  size_t nStart = 0;
  for (size_t nColon; (nColon = strStep.find(':', nStart)) != std::string::npos; nStart = nColon + 1) {
    vecParts.push_back(strStep.substr(nStart, nColon - nStart));
  }
  vecParts.push_back(strStep.substr(nStart));
  return vecParts;
}

bool WriteFileStep(const std::string& strName, const std::string& strText, DWORD dwFlags, bool bFlush) {
  HANDLE hFile = CreateFileA(strName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, dwFlags, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  DWORD dwWritten = 0;
  bool bOk = WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr) != FALSE;
  bOk = bOk && (!bFlush || FlushFileBuffers(hFile));
  const DWORD dwError = GetLastError();
  CloseHandle(hFile);
  SetLastError(dwError);
  return bOk;
}

bool OverwriteStep(const std::string& strName, const std::string& strText) {
  HANDLE hFile = CreateFileA(strName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  DWORD dwWritten = 0;
  const bool bOk = WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr) != FALSE &&
                   FlushFileBuffers(hFile);
  const DWORD dwError = GetLastError();
  CloseHandle(hFile);
  SetLastError(dwError);
  return bOk;
}

bool RunStep(const std::string& strStep) {
  const std::vector<std::string> vecParts = Split(strStep);
  const std::string& strOp = vecParts[0];
  const std::string strName = vecParts.size() > 1 ? vecParts[1] : std::string();
  const std::string strMore = vecParts.size() > 2 ? vecParts[2] : std::string();
  if (strOp == "file") return WriteFileStep(strName, strMore, FILE_ATTRIBUTE_NORMAL, true);
  if (strOp == "plainfile") return WriteFileStep(strName, strMore, FILE_ATTRIBUTE_NORMAL, false);
  if (strOp == "wtfile") return WriteFileStep(strName, strMore, FILE_FLAG_WRITE_THROUGH, false);
  if (strOp == "overwrite") return OverwriteStep(strName, strMore);
  if (strOp == "move") return MoveFileExA(strName.c_str(), strMore.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (strOp == "movewt")
    return MoveFileExA(strName.c_str(), strMore.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (strOp == "delete") return DeleteFileA(strName.c_str());
  if (strOp == "mkdir") return CreateDirectoryA(strName.c_str(), nullptr);
  if (strOp == "rmdir") return RemoveDirectoryA(strName.c_str());
  if (strOp == "sync") return FlushDirectoryOf(strName.c_str());
  std::fprintf(stderr, "unknown step %s\n", strStep.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> vecArgs = GetProgramArgs(argc, argv);
  FaultMode eMode = FaultMode::kCount;
  if (vecArgs.size() < 3 || !ParseFaultMode(vecArgs[1], eMode)) {
    std::fprintf(stderr, "usage: fault_steps_child MODE POINT STEP...\n");
    return 2;
  }
  FaultInjectArm(eMode, static_cast<uint32_t>(std::strtoul(vecArgs[2].c_str(), nullptr, 10)));
  bool bOk = true;
  DWORD dwError = ERROR_SUCCESS;
  try {
    for (size_t i = 3; i < vecArgs.size(); ++i) {
      if (RunStep(vecArgs[i]) || !bOk) continue;
      bOk = false;
      dwError = GetLastError();
    }
  } catch (const CFaultStop&) {
    FaultInjectStop();
  }
  std::printf("result %d error %lu points %u flushes %u syncs %u\n", bOk ? 1 : 0, static_cast<unsigned long>(dwError),
              FaultInjectPoints(), FaultInjectFlushes(), FaultInjectDirSyncs());
  std::fflush(stdout);
  if (IsPowerCutMode(eMode)) FaultInjectStop();
  FaultInjectDisarm();
  return 0;
}
