// The locks that keep a merge and the readers of a pack apart. Both are
// byte-range locks on the pack itself, at an offset no pack reaches (packs
// stay below 4 GiB), each held through a handle: they end with that handle
// or with the process, so no lock file can be left behind by a crash.
//
// A merge (and a restore from its journal) holds the lock exclusively
// (CPackLock); every open of the pack for reading holds it shared
// (CPackReadLock) until the pack is closed. So a reader never sees a pack
// half merged: while it reads no merge can begin, and while a merge runs
// an open fails at once with ERROR_SHARING_VIOLATION. A merge waits a
// bounded time for the readers to let go, then fails the same way.
#pragma once

#include <string>

#include "platform/scoped_handle.h"

class CPackLock {
 public:
  CPackLock() = default;
  ~CPackLock();
  CPackLock(const CPackLock&) = delete;
  CPackLock& operator=(const CPackLock&) = delete;

  // Opens the pack strPackPath for reading and writing, sharing everything,
  // and takes the lock, trying again for up to dwWaitMilliseconds while
  // another open holds it (0: without waiting). Returns false with the last
  // error set: ERROR_SHARING_VIOLATION with Busy() true when another open
  // of the pack holds the lock (a merge of it, or a reader, in this process
  // or another); else the error of opening the pack.
  bool Take(const std::string& strPackPath, DWORD dwWaitMilliseconds = 0);

  bool Busy() const { return m_bBusy; }

  // Whether the held lock is on the file hPack is an open of. A pack moved
  // over by a compaction between Take and the pack's own open is another
  // file, which the lock does not keep other merges off: false then, with
  // ERROR_SHARING_VIOLATION set (try again), as when hPack cannot be asked.
  bool Guards(HANDLE hPack) const;

 private:
  bool TryOnce();

  CScopedHandle m_hPack;
  bool m_bHeld = false;
  bool m_bBusy = false;
};

// A reader's share of the lock, taken through the reader's own handle of
// the pack, so that it is on the very file the reader reads.
class CPackReadLock {
 public:
  CPackReadLock() = default;
  ~CPackReadLock() { Release(); }
  CPackReadLock(const CPackReadLock&) = delete;
  CPackReadLock& operator=(const CPackReadLock&) = delete;

  // Takes the shared lock through hPack (open for reading; it must stay
  // open until Release) without waiting. False with ERROR_SHARING_VIOLATION
  // while a merge or a restore holds the pack, else with the error of the
  // lock.
  bool Take(HANDLE hPack);

  // Lets go; nothing when nothing is held.
  void Release();

 private:
  HANDLE m_hPack = nullptr;
};
