// The steps of a merge of a source (update) pack into a target (client)
// pack: checks, placement planned in memory, then the writes. Split so that
// the undo journal can be saved between the plan and the first write.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/entrybytes.h"
#include "tools/filepacktools_lib/packjournal.h"

class CPackMerger {
 public:
  static constexpr size_t kNoBlock = static_cast<size_t>(-1);

  CPackMerger(CPackFile& target, CPackFile& source) : m_target(target), m_source(source) {}

  // Everything that can be known before the first write, so that a hostile
  // or broken update, or a broken client pack, is refused with nothing
  // written. strCurrentDir is where loose files go.
  bool Check(const std::string& strSrcPath, const std::string& strTarPath, const std::string& strCurrentDir);

  // Decides where every changed or new entry goes and updates the target's
  // index, tree, free list and header in memory; writes nothing. False (last
  // error set) when the target would reach 4 GiB or an entry cannot be
  // encoded for a compressed target: the target in memory is then spoilt
  // and must be closed without saving.
  bool Plan();

  // Every stretch of the target file that Write and SaveIndex will write
  // (after Plan): the header, the blobs, and everything from the old end of
  // the data area on, which SaveIndex rewrites or cuts off.
  std::vector<CWriteRange> WriteRanges() const;

  // Writes the planned blobs and loose files in source order. Stops at the
  // first failure (last error set).
  bool Write();

  // The header SaveIndex writes for the target as it is in memory, and the
  // offset at which the file then ends.
  static PackHeader SavedHeader(const CPackFile& target);
  static uint64_t SavedEnd(const CPackFile& target);

  // The temporary name a loose file is written under before it is renamed.
  static std::string LooseTempPath(const std::string& strPath);

  // True when a new entry joins the target: its name has at least two
  // backslashes and the root name with its first directory is a key of the
  // target's tree.
  static bool BelongsToTree(const CPackFile& target, const std::string& strName);

  // The part of a name after its first component, "" when it has only one:
  // where a loose file goes below the starting directory.
  static std::string LooseRelative(const std::string& strName);

 private:
  struct CStep {
    const PackEntry* pSource;
    const std::string* pstrName;
    bool bLoose;
    uint32_t dwOffset;  // blob: where it goes
    uint32_t dwSize;    // blob: the bytes it takes in the target
  };

  bool AddsCleanly() const;
  bool PlanEntry(const std::string& strName, const PackEntry& srcEntry);
  bool PlanReplace(const std::string& strName, const PackEntry& srcEntry, PackEntry& target);
  bool PlanAdd(const std::string& strName, const PackEntry& srcEntry);
  bool StoredSize(const PackEntry& srcEntry, uint32_t& dwSize);
  bool Place(uint32_t dwSize, uint32_t& dwOffset);
  void AddBlobStep(const PackEntry& srcEntry, const std::string& strName, uint32_t dwOffset, uint32_t dwSize);

  bool ReadForTarget(const PackEntry& srcEntry, CEntryBytes& out);
  bool WriteBlob(const CStep& step);
  bool WriteLooseFile(const CStep& step);

  CPackFile& m_target;
  CPackFile& m_source;
  std::vector<CStep> m_vecStep;
  uint32_t m_dwOldIndexOffset = 0;
};
