// The writes of a merge plan: each blob at the place the plan chose, and
// each loose file by a durable replace (a temporary name, flushed and moved
// into place with write-through), so that a loose file is always either
// absent, as it was, or complete.
#pragma once

#include <string>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packread.h"

class CMergeWriter {
 public:
  //   source             reads the update's entries.
  //   bTargetCompressed  the client's storage flag: its blobs are Lzma86
  //                      streams (a compressed update's streams are copied
  //                      once they are known to decode; a plain update's
  //                      entries are encoded).
  //   hTarget            the client pack, open for writing.
  //   strWorkDir         where loose files go.
  CMergeWriter(CEntryReader source, bool bTargetCompressed, HANDLE hTarget, std::string strWorkDir)
      : m_source(source), m_bTargetCompressed(bTargetCompressed), m_hTarget(hTarget),
        m_strWorkDir(std::move(strWorkDir)) {}

  // The bytes an update entry takes in a compressed client (the planner's
  // MergeStoredSize): its stream, or the length of its encoding, which is
  // deterministic, so Write gets the same bytes again.
  bool StoredSize(const PackEntry& source, uint32_t& dwSize) const;

  // Writes the plan's blobs and loose files in its order. Stops at the first
  // failure, with the last error set and FailedName() naming the entry.
  bool Write(const CMergePlan& plan);

  // The update's name of the entry whose write failed.
  const std::string& FailedName() const { return m_strFailed; }

  // The temporary name a loose file is written under before it is renamed.
  static std::string LooseTempPath(const std::string& strPath);

 private:
  bool ReadForTarget(const PackEntry& source, CEntryBytes& out) const;
  bool WriteBlob(const CMergeStep& step);
  bool WriteLooseFile(const CMergeStep& step);

  CEntryReader m_source;
  bool m_bTargetCompressed;
  HANDLE m_hTarget;
  std::string m_strWorkDir;
  std::string m_strFailed;
};
