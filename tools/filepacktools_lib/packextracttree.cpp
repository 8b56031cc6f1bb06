// The steps of an extraction (the walk of a directory extraction, or the
// requests of ExtractFiles) carried out on disk, serially or with entries
// decoded ahead on worker threads.
#include <algorithm>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/packextractor.h"
#include "tools/filepacktools_lib/packnames.h"

// One step of a directory extraction, in the order of the walk.
struct CExtractStep {
  enum class Kind { kEnter, kMakeDir, kFile };
  Kind nKind = Kind::kEnter;
  std::string strDiskPath;
  const PackEntry* pEntry = nullptr;  // kFile; null for an unknown name
  size_t nIndex = 0;                  // kFile: the request's index
  // A compressed entry decoded ahead by a worker; dwDecodeError when that
  // failed (no file is written then).
  std::unique_ptr<unsigned char[]> pbyPlain;
  DWORD dwDecodeError = ERROR_SUCCESS;
};

namespace {

// The window of a parallel extraction: steps in flight per worker (about
// half of them are file steps), and the decoded bytes they may hold
// together (a larger entry still goes through, alone).
constexpr size_t kStepsPerWorker = 32;
constexpr uint64_t kWindowBytes = 64ull << 20;

CExtractStep Step(CExtractStep::Kind nKind, const std::string& strDiskPath, const PackEntry* pEntry = nullptr) {
  CExtractStep step;
  step.nKind = nKind;
  step.strDiskPath = strDiskPath;
  step.pEntry = pEntry;
  return step;
}

}  // namespace

bool CPackExtractor::IsDirectory(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CPackExtractor::MakeDirectory(const std::string& strPath) {
  if (CreateDirectoryA(strPath.c_str(), nullptr)) return true;
  {
    CKeepLastError keep;  // why it could not be made, unless it was there
    if (IsDirectory(strPath)) return true;
  }
  // A file of that name: the directory cannot be made.
  return GetLastError() == ERROR_ALREADY_EXISTS ? Fail(false, ERROR_DIRECTORY) : false;
}

bool CPackExtractor::WriteNewFile(const char* pszOutFile, const unsigned char* pbyData, uint32_t dwSize) {
  CScopedHandle hFile(
      CreateFileA(pszOutFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  DWORD dwWritten = 0;
  const bool bWrote = WriteFile(hFile.Get(), pbyData, dwSize, &dwWritten, nullptr) != FALSE;
  if (bWrote && dwWritten == dwSize) return true;
  if (bWrote) SetLastError(ERROR_DISK_FULL);  // a short write
  hFile.Reset();
  DeleteKeepingError(pszOutFile);
  return false;
}

// The walk descends into every directory record whatever happens on disk;
// Apply skips what lies below a directory that could not be made, exactly
// as a walk that stopped there would have.
bool CPackExtractor::Walk(const std::string& strKey, const std::string& strDiskDir, const CEmit& fnEmit) {
  auto itDir = m_source.mapDir.find(strKey);
  if (itDir == m_source.mapDir.end() || !m_setWalked.insert(strKey).second) return true;
  for (const PackDirRecord& child : itDir->second) {
    if (!fnEmit(Step(CExtractStep::Kind::kEnter, strDiskDir)) || !WalkChild(strKey, child, strDiskDir, fnEmit)) {
      return false;
    }
  }
  return true;
}

bool CPackExtractor::WalkChild(const std::string& strKey, const PackDirRecord& child, const std::string& strDiskDir,
                               const CEmit& fnEmit) {
  const std::string strFullPath = FieldString(child.szFullPath, kPackNameSize);
  // A child's path extends its directory's key; a record that does not
  // (one naming its own directory, say) could only loop.
  if (strFullPath.size() <= strKey.size() + 1 || strFullPath.compare(0, strKey.size(), strKey) != 0 ||
      strFullPath[strKey.size()] != '\\') {
    return true;
  }
  const std::string strLeaf = LastComponent(strFullPath);
  if (!IsSafeEntryName(strLeaf)) return true;
  const std::string strDiskPath = JoinPath(strDiskDir, strLeaf);
  if (!FitsPathBuffer(strDiskPath)) return true;
  if (child.nKind == kPackDirKindFile) {
    auto itEntry = m_source.mapEntry.find(strFullPath);
    if (itEntry == m_source.mapEntry.end()) return true;
    return fnEmit(Step(CExtractStep::Kind::kFile, strDiskPath, itEntry->second.get()));
  }
  return fnEmit(Step(CExtractStep::Kind::kMakeDir, strDiskPath)) &&
         fnEmit(Step(CExtractStep::Kind::kEnter, strDiskPath)) && Walk(strFullPath, strDiskPath, fnEmit);
}

void CPackExtractor::Decode(CExtractStep& step) const {
  if (step.nKind != CExtractStep::Kind::kFile || !step.pEntry) return;
  CEntryBytes bytes;
  if (!m_source.reader.ReadPlainBytes(*step.pEntry, bytes)) {
    step.dwDecodeError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_DATA;
  } else {
    step.pbyPlain = std::move(bytes.pbyBuffer);  // none for a plain entry: Apply writes it from a view
  }
}

bool CPackExtractor::IsSkipped(const std::string& strDiskPath) {
  if (m_strSkipped.empty()) return false;
  const size_t nLength = m_strSkipped.size();
  if (strDiskPath.compare(0, nLength, m_strSkipped) == 0 &&
      (strDiskPath.size() == nLength || strDiskPath[nLength] == '\\')) {
    return true;
  }
  // Steps come in walk order: the skipped subtree is over.
  m_strSkipped.clear();
  return false;
}

void CPackExtractor::Apply(CExtractStep& step) {
  if (IsSkipped(step.strDiskPath)) return;
  switch (step.nKind) {
    case CExtractStep::Kind::kEnter:
      SetCurrentDirectoryA(step.strDiskPath.c_str());
      return;
    case CExtractStep::Kind::kMakeDir:
      if (!MakeDirectory(step.strDiskPath)) m_strSkipped = step.strDiskPath;
      return;
    case CExtractStep::Kind::kFile:
      break;
  }
  const int nResult = WriteFileStep(step);
  if (m_fnNotify) m_fnNotify(step.nIndex, nResult);
}

// Read (and decoded) before the file is created: an entry that cannot be
// read leaves no file at all.
int CPackExtractor::WriteFileStep(CExtractStep& step) const {
  if (!step.pEntry) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (step.dwDecodeError != ERROR_SUCCESS) {
    SetLastError(step.dwDecodeError);
    return 0;
  }
  bool bWritten = false;
  if (step.pbyPlain) {
    bWritten = WriteNewFile(step.strDiskPath.c_str(), step.pbyPlain.get(), step.pEntry->dwOrigSize);
  } else {
    CEntryBytes bytes;
    bWritten = m_source.reader.ReadPlainBytes(*step.pEntry, bytes) &&
               WriteNewFile(step.strDiskPath.c_str(), bytes.pbyData, bytes.dwSize);
  }
  return bWritten ? 1 : 0;
}

size_t CPackExtractor::WorkerCount() const { return PipelineWorkerCount(m_source.nWorkers); }

// A plain pack's entries are written straight from their views, so only a
// compressed pack has work for other threads: there the steps are made on
// the pipeline's producer thread, workers decode, and this thread carries
// the steps out in order.
void CPackExtractor::Execute(const CProduce& fnProduce) {
  const size_t nWorkers = m_source.reader.IsCompressed() ? WorkerCount() : 1;
  auto applyNow = [this](CExtractStep&& step) {
    Apply(step);
    return true;
  };
  if (nWorkers <= 1) {
    fnProduce(applyNow);
    return;
  }
  using CPipeline = COrderedPipeline<CExtractStep>;
  CPipeline pipeline(kStepsPerWorker * nWorkers, kWindowBytes);
  auto produce = [&fnProduce](CPipeline& out) {
    fnProduce([&out](CExtractStep&& step) {
      const uint64_t qwBytes = step.pEntry ? step.pEntry->dwOrigSize : 0;
      return out.Push(std::move(step), qwBytes);
    });
  };
  if (!pipeline.Start(nWorkers, produce, [this](CExtractStep& step) { Decode(step); })) {
    fnProduce(applyNow);  // no thread: nothing was produced yet
    return;
  }
  CExtractStep step;
  while (pipeline.Pop(step)) Apply(step);
}

void CPackExtractor::Run(const std::string& strKey, const std::string& strDiskDir) {
  Execute([this, &strKey, &strDiskDir](const CEmit& fnEmit) { Walk(strKey, strDiskDir, fnEmit); });
}

void CPackExtractor::RunFiles(const std::vector<CExtractRequest>& vecRequests, const ExtractNotify& fnNotify) {
  m_fnNotify = fnNotify;
  Execute([this, &vecRequests](const CEmit& fnEmit) {
    for (size_t i = 0; i < vecRequests.size(); ++i) {
      auto itEntry = m_source.mapEntry.find(vecRequests[i].strName);
      CExtractStep step = Step(CExtractStep::Kind::kFile, vecRequests[i].strOutFile,
                               itEntry == m_source.mapEntry.end() ? nullptr : itEntry->second.get());
      step.nIndex = i;
      if (!fnEmit(std::move(step))) return;
    }
  });
}
