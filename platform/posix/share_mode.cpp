// How share modes are enforced
//
// Every open that asks for data access takes shared (read) OFD locks on
// single bytes far beyond any real file data: one byte per access it holds
// (read, write, delete) and one per kind of sharing it denies. A new open
// conflicts when another open holds a "denies X" byte for an access X it
// wants, or an "accesses X" byte for a share X it denies; F_OFD_GETLK with a
// write-lock probe reports exactly such bytes held by other open file
// descriptions. OFD locks belong to the open, not to the process, so two
// opens in one process conflict just as opens in two processes do, and the
// locks vanish when the open is closed or its process dies.
//
// An open first takes its own bytes and only then probes. Of two opens
// racing for conflicting modes the later prober always sees the other, so
// both may fail but never both succeed.
//
// Shared locks need a readable descriptor, so write-only opens are made
// read-write where the file allows it. A write-only open of an unreadable
// file (only possible without root), or a file system without OFD locks,
// goes unchecked.
#include "platform/posix/share_mode.h"

#include <fcntl.h>

#include <cerrno>

namespace {

constexpr off_t kLockBase = static_cast<off_t>(kShareLockBase);
constexpr int kSlotCount = 6;
const DWORD s_dwBits[] = {kAccessRead, kAccessWrite, kAccessDelete};

off_t AccessSlot(int nBit) { return kLockBase + nBit; }

off_t DenySlot(int nBit) { return kLockBase + 3 + nBit; }

int SetSlotLock(int nFd, short nType, off_t nStart, off_t nLength) {
  struct flock lock = {};
  lock.l_type = nType;
  lock.l_whence = SEEK_SET;
  lock.l_start = nStart;
  lock.l_len = nLength;
  return fcntl(nFd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

// 1 when another open holds the slot, 0 when none does, -1 on error.
int SlotHeldByOthers(int nFd, off_t nSlot) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = nSlot;
  lock.l_len = 1;
  if (fcntl(nFd, F_OFD_GETLK, &lock) != 0) return -1;
  return lock.l_type != F_UNLCK ? 1 : 0;
}

void ReleaseSlots(int nFd) { SetSlotLock(nFd, F_UNLCK, kLockBase, kSlotCount); }

// Takes this open's bytes. Returns 0 or errno.
int TakeSlots(int nFd, DWORD dwAccess, DWORD dwDenied) {
  for (int nBit = 0; nBit < 3; ++nBit) {
    int nErr = 0;
    if ((dwAccess & s_dwBits[nBit]) != 0) nErr = SetSlotLock(nFd, F_RDLCK, AccessSlot(nBit), 1);
    if (nErr == 0 && (dwDenied & s_dwBits[nBit]) != 0) nErr = SetSlotLock(nFd, F_RDLCK, DenySlot(nBit), 1);
    if (nErr != 0) return nErr;
  }
  return 0;
}

// 1 on conflict with another open, 0 without, -1 on error.
int ProbeConflicts(int nFd, DWORD dwAccess, DWORD dwDenied) {
  for (int nBit = 0; nBit < 3; ++nBit) {
    int nHeld = 0;
    if ((dwAccess & s_dwBits[nBit]) != 0) nHeld = SlotHeldByOthers(nFd, DenySlot(nBit));
    if (nHeld == 0 && (dwDenied & s_dwBits[nBit]) != 0) nHeld = SlotHeldByOthers(nFd, AccessSlot(nBit));
    if (nHeld != 0) return nHeld;
  }
  return 0;
}

}  // namespace

DWORD AccessFromDesired(DWORD dwDesiredAccess) {
  DWORD dwAccess = 0;
  if ((dwDesiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0) dwAccess |= kAccessRead;
  if ((dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0) dwAccess |= kAccessWrite;
  if ((dwDesiredAccess & (DELETE | GENERIC_ALL)) != 0) dwAccess |= kAccessDelete;
  return dwAccess;
}

DWORD AcquireShareMode(int nFd, DWORD dwAccess, DWORD dwShare) {
  // Opens without data access (attribute queries) neither check nor deny.
  if ((dwAccess & kAccessAll) == 0) return ERROR_SUCCESS;
  DWORD dwDenied = ~dwShare & kAccessAll;
  if (TakeSlots(nFd, dwAccess, dwDenied) == 0 && ProbeConflicts(nFd, dwAccess, dwDenied) == 0) return ERROR_SUCCESS;
  // On a conflict nothing of this open may stay recorded. A file system
  // without OFD locks, or a write-only descriptor, cannot take part: such
  // an open goes unchecked rather than failing.
  bool bConflict = ProbeConflicts(nFd, dwAccess, dwDenied) > 0;
  ReleaseSlots(nFd);
  return bConflict ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

DWORD AcquireDeleteAccess(const std::string& strPath, CUniqueFd& fdHold) {
  CUniqueFd fd(open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.IsValid()) return ERROR_SUCCESS;
  DWORD dwError = AcquireShareMode(fd.Get(), kAccessDelete, kAccessAll);
  if (dwError == ERROR_SUCCESS) fdHold = std::move(fd);
  return dwError;
}

bool IsOpenElsewhere(int nFd) {
  for (int nBit = 0; nBit < 3; ++nBit) {
    if (SlotHeldByOthers(nFd, AccessSlot(nBit)) == 1) return true;
  }
  return false;
}
