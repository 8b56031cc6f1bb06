#include "platform/file_copy.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/fault_hook.h"
#include "platform/file_io.h"
#include "platform/kernel_copy.h"

namespace {
constexpr size_t kCopyChunk = size_t{4} << 20;
}  // namespace

bool CopyFileBytes(HANDLE hFrom, uint64_t qwFrom, HANDLE hTo, uint64_t qwTo, uint64_t qwLength) {
  uint64_t qwDone = 0;
  if (!g_bFaultArmed && !KernelCopy(hFrom, qwFrom, hTo, qwTo, qwLength, qwDone)) return false;
  if (qwDone == qwLength) return true;
  std::unique_ptr<unsigned char[]> pbyBuffer(new (std::nothrow) unsigned char[kCopyChunk]);
  if (!pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  LARGE_INTEGER liPos;
  if (!SeekFile(hFrom, liPos, qwFrom + qwDone) || !SeekFile(hTo, liPos, qwTo + qwDone)) return false;
  while (qwDone < qwLength) {
    const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, qwLength - qwDone));
    if (!ReadAll(hFrom, pbyBuffer.get(), nChunk) || !WriteAll(hTo, pbyBuffer.get(), nChunk)) return false;
    qwDone += nChunk;
  }
  return true;
}
