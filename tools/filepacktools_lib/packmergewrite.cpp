#include "tools/filepacktools_lib/packmergewrite.h"

#include <memory>
#include <new>

#include "platform/dir_sync.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packloose.h"
#include "tools/filepacktools_lib/packstage.h"

// One entry on its way through the writer: its index in the run, and what
// a worker made of it (the bytes to write, or a size), or why it failed.
struct CMergeItem {
  size_t nIndex = 0;
  std::unique_ptr<CEntryBytes> pBytes;
  uint32_t dwSize = 0;
  DWORD dwError = ERROR_SUCCESS;

  void Fail() { dwError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_DATA; }
  // On the consuming thread: false, with the worker's error set, for a
  // failed item.
  bool Succeeded() const {
    if (dwError == ERROR_SUCCESS) return true;
    SetLastError(dwError);
    return false;
  }
};

namespace {

using CMergePipeline = COrderedPipeline<CMergeItem>;

// Creates strPath unless a directory of that name exists; a new one is
// made durable at once (FlushDirectoryOf), so that the loose file moved
// into it durably stays reachable after a power cut. False with the last
// error set: ERROR_DIRECTORY when a file takes the name, else why the
// directory could not be made.
bool MakeDirectory(const std::string& strPath) {
  if (CreateDirectoryA(strPath.c_str(), nullptr)) return FlushDirectoryOf(strPath.c_str()) != FALSE;
  DWORD dwAttributes = INVALID_FILE_ATTRIBUTES;
  {
    CKeepLastError keep;  // why it could not be made, unless something is there
    dwAttributes = GetFileAttributesA(strPath.c_str());
  }
  if (dwAttributes == INVALID_FILE_ATTRIBUTES) return false;
  return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || Fail(false, ERROR_DIRECTORY);
}

}  // namespace

bool CMergeWriter::StoredSize(const PackEntry& source, uint32_t& dwSize) const {
  if (m_source.IsCompressed()) {
    dwSize = source.dwStoredSize;
    return true;
  }
  const auto itMeasured = m_mapStoredSize.find(&source);
  if (itMeasured != m_mapStoredSize.end()) {
    dwSize = itMeasured->second;
    return true;
  }
  CEntryBytes bytes;
  if (!ReadForTarget(source, bytes)) return false;
  dwSize = bytes.dwSize;
  return true;
}

bool CMergeWriter::MeasureStoredSizes(const std::vector<const PackEntry*>& vecEntries) {
  if (!m_bTargetCompressed || m_source.IsCompressed()) return true;  // nothing is encoded
  auto measure = [this, &vecEntries](CMergeItem& item) {
    CEntryBytes bytes;
    if (ReadForTarget(*vecEntries[item.nIndex], bytes)) {
      item.dwSize = bytes.dwSize;
    } else {
      item.Fail();
    }
  };
  auto keep = [this, &vecEntries](CMergeItem& item) {
    if (!item.Succeeded()) return false;
    m_mapStoredSize[vecEntries[item.nIndex]] = item.dwSize;
    return true;
  };
  return RunInOrder(vecEntries, measure, keep, {});
}

bool CMergeWriter::Write(const CMergePlan& plan, const std::function<bool()>& fnBeforeWrites) {
  std::vector<const PackEntry*> vecEntries;
  vecEntries.reserve(plan.vecSteps.size());
  for (const CMergeStep& step : plan.vecSteps) vecEntries.push_back(step.pSource);
  auto prepare = [this, &plan](CMergeItem& item) {
    const CMergeStep& step = plan.vecSteps[item.nIndex];
    item.pBytes.reset(new (std::nothrow) CEntryBytes);
    if (!item.pBytes) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      item.Fail();
      return;
    }
    const bool bOk = step.eAction == MergeAction::kLoose ? m_source.ReadPlainBytes(*step.pSource, *item.pBytes)
                                                         : ReadForTarget(*step.pSource, *item.pBytes);
    if (!bOk) item.Fail();
  };
  auto write = [this, &plan](CMergeItem& item) {
    const CMergeStep& step = plan.vecSteps[item.nIndex];
    const bool bOk = item.Succeeded() && (step.eAction == MergeAction::kLoose ? WriteLooseFile(step, *item.pBytes)
                                                                              : WriteBlob(step, *item.pBytes));
    item.pBytes.reset();  // written: its memory leaves the window now
    if (!bOk) m_strFailed = *step.pstrName;
    return bOk;
  };
  return RunInOrder(vecEntries, prepare, write, fnBeforeWrites);
}

size_t CMergeWriter::WorkerCount() const {
  const bool bCoding = m_source.IsCompressed() || m_bTargetCompressed;
  return bCoding ? PipelineWorkerCount(m_nWorkers) : 1;
}

// Without workers, each item is prepared and consumed in turn on this
// thread; with them, the producer hands out the indexes in order, the
// workers prepare them, and this thread consumes them in that order. The
// pipeline is cancelled and joined before a failure's error is handed back.
bool CMergeWriter::RunInOrder(const std::vector<const PackEntry*>& vecEntries, const Prepare& fnPrepare,
                              const Consume& fnConsume, const std::function<bool()>& fnFirst) const {
  auto runHere = [&] {
    if (fnFirst && !fnFirst()) return false;
    for (size_t i = 0; i < vecEntries.size(); ++i) {
      CMergeItem item;
      item.nIndex = i;
      fnPrepare(item);
      if (!fnConsume(item)) return false;
    }
    return true;
  };
  const size_t nWorkers = WorkerCount();
  if (nWorkers <= 1) return runHere();
  // An encoded entry is held beside its plain bytes while it is made.
  const uint64_t qwFactor = m_bTargetCompressed && !m_source.IsCompressed() ? 2 : 1;
  auto produce = [&vecEntries, qwFactor](CMergePipeline& out) {
    for (size_t i = 0; i < vecEntries.size(); ++i) {
      CMergeItem item;
      item.nIndex = i;
      if (!out.Push(std::move(item), qwFactor * vecEntries[i]->dwOrigSize)) return;
    }
  };
  CFirstError first;  // outlives the pipeline, whose end is no cause
  CMergePipeline pipeline(kStepsPerWorker * nWorkers, kWindowBytes);
  if (!pipeline.Start(nWorkers, produce, fnPrepare)) return runHere();  // no thread: nothing was produced
  if (fnFirst && !fnFirst()) return first.Fail();
  CMergeItem item;
  while (pipeline.Pop(item)) {
    if (!fnConsume(item)) return first.Fail();
  }
  return true;
}

// The bytes an entry takes in the client: plain for a plain pack, an Lzma86
// stream for a compressed one.
bool CMergeWriter::ReadForTarget(const PackEntry& source, CEntryBytes& out) const {
  if (!m_bTargetCompressed) return m_source.ReadPlainBytes(source, out);
  if (m_source.IsCompressed()) {
    CEntryBytes decoded;
    return m_source.ReadPlainBytes(source, decoded) && m_source.MapStoredBytes(source, out);
  }
  CEntryBytes plain;
  if (!m_source.ReadPlainBytes(source, plain)) return false;
  uint32_t dwLen = Lzma86CompressBound(plain.dwSize);
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[dwLen]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  const int nResult = LzmaCompress(plain.pbyData, plain.dwSize, out.pbyBuffer.get(), &dwLen, -1);
  if (nResult != kLzmaOk) {
    SetLastError(nResult == kLzmaErrorOutputEof ? ERROR_FILE_TOO_LARGE : ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  out.pbyData = out.pbyBuffer.get();
  out.dwSize = dwLen;
  return true;
}

bool CMergeWriter::WriteBlob(const CMergeStep& step, const CEntryBytes& bytes) {
  if (bytes.dwSize != step.dwSize) {
    SetLastError(ERROR_INVALID_DATA);  // not the bytes the plan placed
    return false;
  }
  LARGE_INTEGER liPos;
  return SeekFile(m_hTarget, liPos, step.dwOffset) && WriteAll(m_hTarget, bytes.pbyData, bytes.dwSize);
}

// An entry outside the client's tree is staged below the starting
// directory at its path without the root name (packstage.h), creating its
// directories; the merge's commit moves it into place. A directory that
// cannot be made (a file of that name, say) fails the merge instead of
// writing the file somewhere else.
bool CMergeWriter::WriteLooseFile(const CMergeStep& step, const CEntryBytes& bytes) {
  for (const std::string& strDir : LooseDirectories(m_strWorkDir, *step.pstrName)) {
    if (!MakeDirectory(strDir)) return false;
  }
  return StageFile(LooseFilePath(m_strWorkDir, *step.pstrName), bytes.pbyData, bytes.dwSize);
}
