// The merge lock on a pack (see packlock.h).
#include "tools/filepacktools_lib/packlock.h"

#include <cstdint>

#include "platform/file_identity.h"
#include "platform/last_error.h"

namespace {

// The first byte no pack can reach: its offsets and sizes are 32 bits.
constexpr uint64_t kLockOffset = uint64_t(1) << 32;

OVERLAPPED LockRange() {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(kLockOffset);
  overlapped.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
  return overlapped;
}

}  // namespace

bool CPackLock::Take(const std::string& strPackPath) {
  m_bBusy = false;
  m_hPack.Reset(CreateFileA(strPackPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_hPack) return false;
  OVERLAPPED overlapped = LockRange();
  m_bHeld =
      LockFileEx(m_hPack.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &overlapped) != FALSE;
  if (m_bHeld) return true;
  m_bBusy = GetLastError() == ERROR_LOCK_VIOLATION;
  if (m_bBusy) SetLastError(ERROR_SHARING_VIOLATION);
  m_hPack.Reset();
  return false;
}

bool CPackLock::Guards(HANDLE hPack) const {
  bool bSame = false;
  if (m_bHeld && SameFile(m_hPack.Get(), hPack, bSame) && bSame) return true;
  SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

// Closing the handle would release the lock too; Windows may take its time
// over that, an explicit unlock does not.
CPackLock::~CPackLock() {
  if (!m_bHeld) return;
  CKeepLastError keep;
  OVERLAPPED overlapped = LockRange();
  UnlockFileEx(m_hPack.Get(), 0, 1, 0, &overlapped);
}
