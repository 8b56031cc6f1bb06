// The lock that keeps a second merge, or a restore, off a pack that a merge
// is changing. It is a byte-range lock on the pack itself, at an offset no
// pack reaches (packs stay below 4 GiB), held through a handle of its own:
// it ends with that handle or with the process, so no lock file can be left
// behind by a crash.
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
  // and takes the lock without waiting. Returns false with the last error
  // set: ERROR_SHARING_VIOLATION with Busy() true when another open of the
  // pack holds the lock (a merge of it runs, in this process or another);
  // else the error of opening the pack.
  bool Take(const std::string& strPackPath);

  bool Busy() const { return m_bBusy; }

  // Whether the held lock is on the file hPack is an open of. A pack moved
  // over by a compaction between Take and the pack's own open is another
  // file, which the lock does not keep other merges off: false then, with
  // ERROR_SHARING_VIOLATION set (try again), as when hPack cannot be asked.
  bool Guards(HANDLE hPack) const;

 private:
  CScopedHandle m_hPack;
  bool m_bHeld = false;
  bool m_bBusy = false;
};
