// The writes of a merge plan: each blob at the place the plan chose, and
// each loose file staged beside its place, complete and flushed
// (packstage.h), for the merge's commit to move into place.
//
// Decoding (and, into a compressed client, encoding) is the slow part, and
// the steps of a plan are independent of each other, so worker threads
// prepare the bytes of the steps ahead through an ordered pipeline while the
// caller's thread writes them strictly in plan order: the bytes written, the
// order of every write and flush, and so the journal's guarantees are the
// same for any number of workers.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packread.h"

struct CMergeItem;

class CMergeWriter {
 public:
  //   source             reads the update's entries.
  //   bTargetCompressed  the client's storage flag: its blobs are Lzma86
  //                      streams (a compressed update's streams are copied
  //                      once they are known to decode; a plain update's
  //                      entries are encoded).
  //   hTarget            the client pack, open for writing.
  //   strWorkDir         the absolute directory loose files go below.
  CMergeWriter(CEntryReader source, bool bTargetCompressed, HANDLE hTarget, std::string strWorkDir)
      : m_source(source),
        m_bTargetCompressed(bTargetCompressed),
        m_hTarget(hTarget),
        m_strWorkDir(std::move(strWorkDir)) {}

  // Worker threads that prepare entries ahead: nWorkers, or one per
  // processor for 0 or less (the default). With one, or when nothing needs
  // decoding or encoding (a plain update into a plain client), everything
  // runs on the caller's thread.
  void SetWorkers(int nWorkers) { m_nWorkers = nWorkers > 0 ? nWorkers : 0; }

  // The window of the pipeline: entries in flight per worker, and the plain
  // bytes they may hold together (a larger entry still goes through, alone).
  static constexpr size_t kStepsPerWorker = 8;
  static constexpr uint64_t kWindowBytes = 64ull << 20;

  // The bytes an update entry takes in a compressed client (the planner's
  // MergeStoredSize): its stream, or the length of its encoding, which is
  // deterministic, so Write gets the same bytes again. A size measured by
  // MeasureStoredSizes is not computed again.
  bool StoredSize(const PackEntry& source, uint32_t& dwSize) const;

  // Encodes the given plain update entries on the workers, keeping only
  // their sizes for StoredSize. False, with the last error set, at the first
  // entry (in the given order) that does not encode.
  bool MeasureStoredSizes(const std::vector<const PackEntry*>& vecEntries);

  // Writes the plan's blobs and loose files in its order. fnBeforeWrites,
  // when given, runs on this thread once the workers have started and
  // before the first byte is written; when it returns false nothing is
  // written and Write returns false with its error. Stops at the first
  // failure, with the last error set and FailedName() naming the entry.
  bool Write(const CMergePlan& plan, const std::function<bool()>& fnBeforeWrites = {});

  // The update's name of the entry whose write failed.
  const std::string& FailedName() const { return m_strFailed; }

 private:
  using Prepare = std::function<void(CMergeItem&)>;
  using Consume = std::function<bool(CMergeItem&)>;

  // Prepares one item per entry (fnPrepare, on the workers or here) and
  // hands them to fnConsume strictly in order, after fnFirst; stops at the
  // first false.
  bool RunInOrder(const std::vector<const PackEntry*>& vecEntries, const Prepare& fnPrepare, const Consume& fnConsume,
                  const std::function<bool()>& fnFirst) const;
  size_t WorkerCount() const;
  bool ReadForTarget(const PackEntry& source, CEntryBytes& out) const;
  bool WriteBlob(const CMergeStep& step, const CEntryBytes& bytes);
  bool WriteLooseFile(const CMergeStep& step, const CEntryBytes& bytes);

  CEntryReader m_source;
  bool m_bTargetCompressed;
  HANDLE m_hTarget;
  std::string m_strWorkDir;
  std::string m_strFailed;
  int m_nWorkers = 0;
  std::map<const PackEntry*, uint32_t> m_mapStoredSize;
};
