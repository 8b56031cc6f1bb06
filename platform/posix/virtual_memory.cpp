// VirtualAlloc and VirtualFree: committed, zero-filled regions of their own,
// as anonymous private mappings. The calls the program makes: a new region
// reserved and committed at once for reading and writing, and the release
// of a whole region. A large region is offered to the kernel for huge
// pages, so filling it costs a page fault per 2 MiB rather than per 4 KiB.
#include <sys/mman.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/api_guard.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/win32_posix.h"

namespace {

// The length of every region, by its base: VirtualFree gets the base alone.
// It lives as long as the process, as the system's own table does: regions
// are also freed by the destructors of other files' statics, after this
// file's statics would be gone.
struct CRegions {
  std::mutex mutex;
  std::map<void*, size_t> mapLength;
};
CRegions& Regions() {
  static CRegions* const pRegions = new CRegions;
  return *pRegions;
}

LPVOID AllocImpl(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (lpAddress || dwSize == 0 || !(flAllocationType & MEM_COMMIT) ||
      (flAllocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 || flProtect != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* pBase = mmap(nullptr, dwSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pBase == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
#ifdef MADV_HUGEPAGE
  madvise(pBase, dwSize, MADV_HUGEPAGE);  // a hint: without huge pages the region works the same
#endif
  CRegions& regions = Regions();
  std::lock_guard<std::mutex> lock(regions.mutex);
  try {
    regions.mapLength[pBase] = dwSize;
  } catch (...) {
    munmap(pBase, dwSize);
    throw;
  }
  return pBase;
}

BOOL FreeImpl(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  if (dwFreeType != MEM_RELEASE || dwSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t nLength = 0;
  {
    CRegions& regions = Regions();
    std::lock_guard<std::mutex> lock(regions.mutex);
    auto it = regions.mapLength.find(lpAddress);
    if (it == regions.mapLength.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    nLength = it->second;
    regions.mapLength.erase(it);
  }
  if (munmap(lpAddress, nLength) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

extern "C" LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  return GuardWin32(static_cast<LPVOID>(nullptr), [&] { return AllocImpl(lpAddress, dwSize, flAllocationType, flProtect); });
}

extern "C" BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  return GuardWin32(FALSE, [&] { return FreeImpl(lpAddress, dwSize, dwFreeType); });
}
