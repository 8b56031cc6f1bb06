// The merge lock on a pack and the readers' share of it (see packlock.h).
#include "tools/filepacktools_lib/packlock.h"

#include <cstdint>

#include "platform/file_identity.h"
#include "platform/last_error.h"

namespace {

// The first byte no pack can reach: its offsets and sizes are 32 bits.
constexpr uint64_t kLockOffset = uint64_t(1) << 32;
// How often a waiting merge tries the lock again.
constexpr DWORD kRetryMilliseconds = 50;

OVERLAPPED LockRange() {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(kLockOffset);
  overlapped.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
  return overlapped;
}

bool Lock(HANDLE hPack, DWORD dwFlags) {
  OVERLAPPED overlapped = LockRange();
  if (LockFileEx(hPack, dwFlags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &overlapped)) return true;
  if (GetLastError() == ERROR_LOCK_VIOLATION) SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

// Closing the handle would release the lock too; Windows may take its time
// over that, an explicit unlock does not.
void Unlock(HANDLE hPack) {
  CKeepLastError keep;
  OVERLAPPED overlapped = LockRange();
  UnlockFileEx(hPack, 0, 1, 0, &overlapped);
}

}  // namespace

bool CPackLock::Take(const std::string& strPackPath, DWORD dwWaitMilliseconds) {
  m_bBusy = false;
  m_hPack.Reset(CreateFileA(strPackPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_hPack) return false;
  for (DWORD dwWaited = 0; !TryOnce() && m_bBusy && dwWaited < dwWaitMilliseconds; dwWaited += kRetryMilliseconds) {
    Sleep(kRetryMilliseconds);
  }
  if (m_bHeld) return true;
  m_hPack.Reset();
  return false;
}

bool CPackLock::TryOnce() {
  m_bHeld = Lock(m_hPack.Get(), LOCKFILE_EXCLUSIVE_LOCK);
  m_bBusy = !m_bHeld && GetLastError() == ERROR_SHARING_VIOLATION;
  return m_bHeld;
}

bool CPackLock::Guards(HANDLE hPack) const {
  bool bSame = false;
  if (m_bHeld && SameFile(m_hPack.Get(), hPack, bSame) && bSame) return true;
  SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

CPackLock::~CPackLock() {
  if (m_bHeld) Unlock(m_hPack.Get());
}

bool CPackReadLock::Take(HANDLE hPack) {
  Release();
  if (!Lock(hPack, 0)) return false;
  m_hPack = hPack;
  return true;
}

void CPackReadLock::Release() {
  if (m_hPack == nullptr) return;
  Unlock(m_hPack);
  m_hPack = nullptr;
}
