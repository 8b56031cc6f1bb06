// Windows share modes between all opens of a file, in this process and in
// others, enforced with open-file-description locks.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/posix/win32_posix.h"

// Data access an open holds, in the bit layout of the FILE_SHARE_* flags so
// that access and share masks can be compared directly.
enum : DWORD {
  kAccessRead = FILE_SHARE_READ,
  kAccessWrite = FILE_SHARE_WRITE,
  kAccessDelete = FILE_SHARE_DELETE,
  kAccessAll = kAccessRead | kAccessWrite | kAccessDelete,
};

// The share-mode records are locks on the bytes from here on (see
// share_mode.cpp); LockFileEx keeps below.
constexpr uint64_t kShareLockBase = 0x7FFFFFFFFFFF0000;

// The kAccess* bits a CreateFileA access mask asks for.
DWORD AccessFromDesired(DWORD dwDesiredAccess);

// Records on nFd the access it holds and the sharing it denies, unless an
// existing open of the same file conflicts. Returns ERROR_SUCCESS or
// ERROR_SHARING_VIOLATION (then nothing is recorded). The record
// lasts until the last descriptor of this open file description is closed.
// Where locks cannot be taken the open goes unchecked and succeeds.
DWORD AcquireShareMode(int nFd, DWORD dwAccess, DWORD dwShare);

// Before a file is deleted or renamed: opens it and records delete access
// on that open, held in fdHold until the caller is done. Fails with
// ERROR_SHARING_VIOLATION when an open does not share delete. A file that
// cannot be opened for the check passes unchecked.
DWORD AcquireDeleteAccess(const std::string& strPath, CUniqueFd& fdHold);

// Whether an open other than the one on nFd holds data access to nFd's
// file. False where the locks cannot tell.
bool IsOpenElsewhere(int nFd);
