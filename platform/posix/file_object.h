// The object behind a file handle from CreateFileA.
#pragma once

#include <memory>

#include "platform/posix/handle_table.h"
#include "platform/posix/share_mode.h"
#include "platform/posix/unique_fd.h"

// The open file is shared with mappings and views made from the handle:
// its descriptor, and with it the share-mode record, lives until the last
// of them is gone, as the file object does on Windows.
typedef std::shared_ptr<CUniqueFd> COpenFilePtr;

class CFileObject : public CHandleObject {
 public:
  static constexpr EHandleKind kKind = kHandleFile;

  CFileObject(COpenFilePtr spFile, DWORD dwAccess)
      : CHandleObject(kKind), m_spFile(std::move(spFile)), m_dwAccess(dwAccess) {}

  int Fd() const { return m_spFile->Get(); }
  const COpenFilePtr& File() const { return m_spFile; }
  bool CanRead() const { return (m_dwAccess & kAccessRead) != 0; }
  bool CanWrite() const { return (m_dwAccess & kAccessWrite) != 0; }

 private:
  COpenFilePtr m_spFile;
  DWORD m_dwAccess;  // kAccess* bits
};
