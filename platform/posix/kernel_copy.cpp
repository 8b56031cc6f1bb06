// The kernel's copy between files (copy_file_range): the bytes go from page
// cache to page cache without passing through the program. Each piece
// copied is handed to the disk at once (sync_file_range), so the writing
// overlaps the copy instead of all waiting for the flush that follows.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/api_guard.h"
#include "platform/kernel_copy.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_object.h"

namespace {

constexpr uint64_t kPiece = uint64_t{8} << 20;

// Errors that say the kernel will not copy between these two files (other
// file systems, an old kernel, special files): the caller's buffer will.
bool IsUnsupported(int nErrno) {
  return nErrno == EXDEV || nErrno == EINVAL || nErrno == ENOSYS || nErrno == EOPNOTSUPP;
}

bool KernelCopyImpl(HANDLE hFrom, uint64_t qwFrom, HANDLE hTo, uint64_t qwTo, uint64_t qwLength, uint64_t& qwDone) {
  qwDone = 0;
  const std::shared_ptr<CFileObject> spFrom = LookupHandleAs<CFileObject>(hFrom);
  const std::shared_ptr<CFileObject> spTo = LookupHandleAs<CFileObject>(hTo);
  if (!spFrom || !spTo) return false;
  if (!spFrom->CanRead() || !spTo->CanWrite()) return Fail(false, ERROR_ACCESS_DENIED);
  loff_t nFrom = static_cast<loff_t>(qwFrom);
  loff_t nTo = static_cast<loff_t>(qwTo);
  while (qwDone < qwLength) {
    const loff_t nPieceStart = nTo;
    const uint64_t qwPiece = std::min<uint64_t>(qwLength - qwDone, kPiece);
    const ssize_t nCopied = copy_file_range(spFrom->Fd(), &nFrom, spTo->Fd(), &nTo, qwPiece, 0);
    if (nCopied < 0 && errno == EINTR) continue;
    if (nCopied < 0 && qwDone == 0 && IsUnsupported(errno)) return true;
    if (nCopied < 0) return FailErrno(false, errno);
    if (nCopied == 0) return Fail(false, ERROR_HANDLE_EOF);
    qwDone += static_cast<uint64_t>(nCopied);
    // Only a start: a failure here is found by the flush, if anyone asks.
    sync_file_range(spTo->Fd(), nPieceStart, nCopied, SYNC_FILE_RANGE_WRITE);
  }
  return true;
}

}  // namespace

bool KernelCopy(HANDLE hFrom, uint64_t qwFrom, HANDLE hTo, uint64_t qwTo, uint64_t qwLength, uint64_t& qwDone) {
  qwDone = 0;
  return GuardWin32(false, [&] { return KernelCopyImpl(hFrom, qwFrom, hTo, qwTo, qwLength, qwDone); });
}
