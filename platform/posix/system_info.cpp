// GetSystemInfo and GetModuleFileNameA.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/api_guard.h"
#include "platform/module_name.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/path_parse.h"

namespace {

// Windows' values, which callers use to align file offsets and views; the
// mapping code enforces the same 64 KiB granularity.
const DWORD kPageSize = 4096;
const DWORD kAllocationGranularity = 65536;

void FillProcessor(SYSTEM_INFO& info) {
#if defined(__x86_64__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info.dwProcessorType = PROCESSOR_AMD_X8664;
#elif defined(__i386__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  info.dwProcessorType = PROCESSOR_INTEL_PENTIUM;
#elif defined(__aarch64__)
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
  info.dwProcessorType = 0;
#else
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
  info.dwProcessorType = 0;
#endif
  long nOnline = sysconf(_SC_NPROCESSORS_ONLN);
  DWORD nProcessors = nOnline > 0 ? static_cast<DWORD>(nOnline) : 1;
  info.dwNumberOfProcessors = nProcessors;
  const DWORD nMaskBits = sizeof(DWORD_PTR) * 8;
  info.dwActiveProcessorMask =
      nProcessors >= nMaskBits ? ~static_cast<DWORD_PTR>(0) : (static_cast<DWORD_PTR>(1) << nProcessors) - 1;
  info.wProcessorLevel = 6;
  info.wProcessorRevision = 0;
}

std::string ReadExecutablePath() {
  std::string strPath(256, '\0');
  for (;;) {
    ssize_t nLength = readlink("/proc/self/exe", &strPath[0], strPath.size());
    if (nLength < 0) return std::string();
    if (static_cast<size_t>(nLength) < strPath.size()) {
      strPath.resize(static_cast<size_t>(nLength));
      return strPath;
    }
    strPath.resize(strPath.size() * 2);
  }
}

DWORD GetModuleFileNameImpl(HMODULE hModule, LPSTR pszFilename, DWORD nSize) {
  // Only the executable itself: the program loads no modules of its own.
  if (hModule != nullptr) return Fail(static_cast<DWORD>(0), ERROR_MOD_NOT_FOUND);
  std::string strPosix = ReadExecutablePath();
  if (strPosix.empty()) return FailErrno(static_cast<DWORD>(0), errno);
  return CopyModuleFileName(PosixToWin32Path(strPosix), pszFilename, nSize);
}

}  // namespace

extern "C" void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (lpSystemInfo == nullptr) return;
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof(info));
  info.dwPageSize = kPageSize;
  info.dwAllocationGranularity = kAllocationGranularity;
  info.lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(0x10000));
  info.lpMaximumApplicationAddress =
      reinterpret_cast<LPVOID>(static_cast<uintptr_t>(sizeof(void*) == 8 ? 0x7FFFFFFEFFFFULL : 0x7FFEFFFFULL));
  FillProcessor(info);
  *lpSystemInfo = info;
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  return GuardWin32(static_cast<DWORD>(0), [&] { return GetModuleFileNameImpl(hModule, lpFilename, nSize); });
}
