#include "tools/filepacktools_lib/packbuilder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/cp936.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/text_case.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packtree.h"

// One source on its way into the pack: a file named and read by the
// producer, or a pack entry named by the producer and read by a worker;
// tagged and encoded by a worker, written and recorded by the writer. A
// failed item carries its error to the writer's thread.
struct CBuildItem {
  std::string strFile;                    // a file's path; "" for a pack entry
  const CEntryReader* pReader = nullptr;  // a pack entry: where it is read
  const PackEntry* pEntry = nullptr;
  const EntryMaker* pfnMake = nullptr;  // a made entry: who makes it, and its index
  size_t nMade = 0;
  std::string strLower;
  std::string strName;
  std::string strBelowRoot;  // named from the root directory: the path below it
  bool bExcluded = false;    // its entry name falls under an exclude pattern
  std::unique_ptr<unsigned char[]> pbyPlain;
  uint32_t dwSize = 0;
  std::unique_ptr<unsigned char[]> pbyEncoded;
  uint32_t dwStoredSize = 0;
  char szTag[kPackTagSize] = {};
  bool bFailed = false;
  DWORD dwError = ERROR_SUCCESS;

  // A failure always has a cause: the worker's last error, else bad data.
  void Fail() {
    bFailed = true;
    dwError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_DATA;
  }
  const unsigned char* StoredBytes() const { return pbyEncoded ? pbyEncoded.get() : pbyPlain.get(); }
};

namespace {

using Step = CPackBuilder::Step;
using CPipeline = COrderedPipeline<CBuildItem>;

// The window of a build: entries in flight per worker, and the source bytes
// they may hold together (a larger file still goes through, alone). Blobs
// leave in list order, so one large entry holds up the small ones behind
// it; with two per worker the other workers soon stood idle behind it.
constexpr size_t kItemsPerWorker = 8;
constexpr uint64_t kWindowBytes = 64ull << 20;

constexpr int kWorkNames = 100;

std::string WorkPath(const std::string& strPackPath, int n) { return strPackPath + ".~" + std::to_string(n); }

// Removes the work files earlier builds of this pack left (killed, say). A
// build that still runs has its file open unshared, so it is not removed.
void RemoveStaleWorkFiles(const std::string& strPackPath) {
  for (int n = 0; n < kWorkNames; ++n) {
    const std::string strWorkPath = WorkPath(strPackPath, n);
    if (GetFileAttributesA(strWorkPath.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(strWorkPath.c_str());
  }
}

// Creates a new, unshared file for the pack beside its destination, once
// the stale ones are gone. A name still taken (by another build that runs)
// is not touched.
CScopedHandle CreateWorkFile(const std::string& strDir, const std::string& strPackPath, std::string& strWorkPath) {
  RemoveStaleWorkFiles(strPackPath);
  for (int n = 0; n < kWorkNames; ++n) {
    strWorkPath = WorkPath(strPackPath, n);
    if (strWorkPath.size() >= MAX_PATH) strWorkPath = JoinPath(strDir, "~" + std::to_string(n));
    if (strWorkPath.size() >= MAX_PATH) break;
    CScopedHandle hFile = CreateReplacement(strWorkPath, CREATE_NEW);
    if (hFile) return hFile;
    DWORD dwError = GetLastError();
    if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) return CScopedHandle();
  }
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return CScopedHandle();
}

// The entry name of a source path. A file below the build's root directory
// is the root name and its path below that directory, wherever else the
// root name's letters occur in the path ("\\tmp\\fresh\\res\\a.txt" under the
// root "\\tmp\\fresh\\res" is res\\a.txt). Any other file is named from the
// first occurrence of the root name to the end, else by what follows the
// source root's name and one separator. The searches keep to character
// boundaries.
bool EntryName(const CBuildSettings& settings, CBuildItem& item) {
  const std::string& strLowerPath = item.strLower;
  const std::string& strRootDir = settings.strRootDir;
  if (!strRootDir.empty() && !settings.strPackName.empty() && strLowerPath.size() > strRootDir.size() + 1 &&
      strLowerPath.compare(0, strRootDir.size(), strRootDir) == 0 && strLowerPath[strRootDir.size()] == '\\') {
    item.strBelowRoot = strLowerPath.substr(strRootDir.size() + 1);
    item.strName = settings.strPackName + '\\' + item.strBelowRoot;
    return true;
  }
  if (const char* pszFound = Cp936StrStr(strLowerPath.c_str(), settings.strPackName.c_str())) {
    item.strName = pszFound;
    return !item.strName.empty();
  }
  const std::string& strSrcRoot = settings.strSrcRoot;
  if (strSrcRoot.empty()) return false;
  const char* pszFound = Cp936StrStr(strLowerPath.c_str(), strSrcRoot.c_str());
  if (!pszFound) return false;
  const size_t nStart = static_cast<size_t>(pszFound - strLowerPath.c_str()) + strSrcRoot.size() + 1;
  if (nStart >= strLowerPath.size()) return false;
  item.strName = strLowerPath.substr(nStart);
  return true;
}

// A file excluded on purpose is skipped, whatever its path; otherwise a
// path too long for a path buffer fails the build, and one that gives no
// entry name is skipped.
Step NameItem(const CBuildSettings& settings, const std::string& strFile, CBuildItem& item) {
  item.strFile = strFile;
  item.strLower = LowerCopy(strFile);
  const bool bNamed = !item.strLower.empty() && EntryName(settings, item);
  if (bNamed && settings.excludes.Excludes(item.strName)) {
    item.bExcluded = true;
    return Step::kSkipped;
  }
  if (strFile.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    item.Fail();
    return Step::kFailed;
  }
  return bNamed ? Step::kDone : Step::kSkipped;
}

CScopedHandle OpenSource(const std::string& strFile) {
  return CScopedHandle(CreateFileA(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads the whole source file. One that cannot be opened is skipped; one
// that fails while read fails the build.
Step ReadItem(CBuildItem& item) {
  CScopedHandle hFile = OpenSource(item.strFile);
  if (!hFile) return Step::kSkipped;
  uint64_t qwSize = 0;
  bool bOk = FileSize(hFile.Get(), qwSize);
  if (bOk && qwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // sizes are 32 bits wide
    bOk = false;
  }
  if (bOk) {
    item.dwSize = item.dwStoredSize = static_cast<uint32_t>(qwSize);
    item.pbyPlain.reset(new (std::nothrow) unsigned char[qwSize > 0 ? qwSize : 1]);
    if (!item.pbyPlain) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    bOk = item.pbyPlain && ReadAll(hFile.Get(), item.pbyPlain.get(), qwSize);
  }
  if (!bOk) item.Fail();
  return bOk ? Step::kDone : Step::kFailed;
}

bool Encode(const unsigned char* pbyPlain, uint32_t dwSize, std::unique_ptr<unsigned char[]>& pbyStored,
            uint32_t& dwStoredSize) {
  dwStoredSize = Lzma86CompressBound(dwSize);
  pbyStored.reset(new (std::nothrow) unsigned char[dwStoredSize]);
  if (!pbyStored) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  int nResult = LzmaCompress(pbyPlain, dwSize, pbyStored.get(), &dwStoredSize, 5);
  if (nResult != kLzmaOk) {
    SetLastError(nResult == kLzmaErrorOutputEof ? ERROR_FILE_TOO_LARGE : ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return true;
}

// A pack entry's plain bytes, owned by the item: decoded ones are taken
// over, those of a plain pack copied out of their view.
bool LoadEntry(CBuildItem& item) {
  CEntryBytes bytes;
  if (!item.pReader->ReadPlainBytes(*item.pEntry, bytes)) return false;
  item.dwSize = item.dwStoredSize = bytes.dwSize;
  if (bytes.pbyBuffer && bytes.pbyData == bytes.pbyBuffer.get()) {
    item.pbyPlain = std::move(bytes.pbyBuffer);
    return true;
  }
  item.pbyPlain.reset(new (std::nothrow) unsigned char[bytes.dwSize > 0 ? bytes.dwSize : 1]);
  if (!item.pbyPlain) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  std::memcpy(item.pbyPlain.get(), bytes.pbyData, bytes.dwSize);
  return true;
}

// The plain bytes of a pack entry, the tag from them, then the stream that
// replaces them; runs on any thread and touches nothing but the item.
void ProcessItem(const CBuildSettings& settings, CBuildItem& item) {
  if (item.bFailed) return;
  if (item.pEntry && !LoadEntry(item)) {
    item.Fail();
    return;
  }
  if (item.pfnMake) {
    if (!(*item.pfnMake)(item.nMade, item.pbyPlain, item.dwSize)) {
      item.Fail();
      return;
    }
    item.dwStoredSize = item.dwSize;
  }
  if (settings.bTags && !MakeContentTag(item.pbyPlain.get(), item.dwSize, item.szTag)) {
    item.Fail();
    return;
  }
  if (!settings.bCompress) return;
  if (!Encode(item.pbyPlain.get(), item.dwSize, item.pbyEncoded, item.dwStoredSize)) {
    item.Fail();
    return;
  }
  item.pbyPlain.reset();
}

// The producer stops after handing on a failed item: the writer fails the
// build there. A name is taken once its file has been read, exactly when a
// serial build would have recorded it.
void ProduceFiles(const CBuildSettings& settings, const std::vector<std::string>& vecFiles, CPipeline& out) {
  std::unordered_set<std::string> setTaken;
  for (const std::string& strFile : vecFiles) {
    CBuildItem item;
    Step step = NameItem(settings, strFile, item);
    if (step == Step::kDone && setTaken.count(item.strName)) continue;
    if (step == Step::kDone) step = ReadItem(item);
    if (step == Step::kSkipped) continue;
    if (step == Step::kDone) setTaken.insert(item.strName);
    const uint64_t qwBytes = item.dwSize;
    if (!out.Push(std::move(item), qwBytes) || step == Step::kFailed) return;
  }
}

// Named entries keep their names; the tree takes each at its path below the
// root name, which it must have. Returns false for a name without it (the
// item fails).
bool TakeName(const CBuildSettings& settings, const std::string& strName, CBuildItem& item) {
  const std::string strPrefix = settings.strPackName + '\\';
  item.strName = strName;
  if (strName.size() > strPrefix.size() && strName.compare(0, strPrefix.size(), strPrefix) == 0) {
    item.strBelowRoot = strName.substr(strPrefix.size());
    return true;
  }
  SetLastError(ERROR_INVALID_DATA);
  item.Fail();
  return false;
}

void ProduceEntries(const CBuildSettings& settings, const CEntryReader& reader,
                    const std::vector<CPackSourceEntry>& vecEntries, CPipeline& out) {
  for (const CPackSourceEntry& entry : vecEntries) {
    CBuildItem item;
    item.pReader = &reader;
    item.pEntry = entry.pEntry;
    const bool bBelowRoot = TakeName(settings, entry.strName, item);
    if (!out.Push(std::move(item), entry.pEntry->dwOrigSize) || !bBelowRoot) return;
  }
}

void ProduceMade(const CBuildSettings& settings, const std::vector<CMadeEntry>& vecMade, const EntryMaker& fnMake,
                 CPipeline& out) {
  for (size_t i = 0; i < vecMade.size(); ++i) {
    CBuildItem item;
    item.pfnMake = &fnMake;
    item.nMade = i;
    const bool bBelowRoot = TakeName(settings, vecMade[i].strName, item);
    if (!out.Push(std::move(item), vecMade[i].dwSize) || !bBelowRoot) return;
  }
}

void Produce(const CBuildSettings& settings, const CBuildSource& source, CPipeline& out) {
  if (source.Files()) {
    ProduceFiles(settings, *source.Files(), out);
  } else if (source.Made()) {
    ProduceMade(settings, *source.Made(), *source.Maker(), out);
  } else {
    ProduceEntries(settings, *source.Reader(), *source.Entries(), out);
  }
}

}  // namespace

std::vector<CBuildFileName> NameBuildFiles(const CBuildSettings& settings, const std::vector<std::string>& vecFiles) {
  std::vector<CBuildFileName> vecNames(vecFiles.size());
  std::unordered_map<std::string, size_t> mapTaken;
  for (size_t i = 0; i < vecFiles.size(); ++i) {
    CBuildFileName& name = vecNames[i];
    CBuildItem item;
    const Step step = NameItem(settings, vecFiles[i], item);
    name.strFile = vecFiles[i];
    name.strName = item.strName;
    if (item.bExcluded) {
      name.eFate = BuildFileFate::kExcluded;
      continue;
    }
    if (step != Step::kDone) {
      name.eFate = step == Step::kFailed ? BuildFileFate::kPathTooLong : BuildFileFate::kNoName;
      name.strName.clear();
      continue;
    }
    auto itTaken = mapTaken.find(item.strName);
    if (itTaken != mapTaken.end()) {
      name.eFate = BuildFileFate::kFolded;
      name.nTakenBy = itTaken->second;
    } else if (!OpenSource(vecFiles[i])) {
      name.eFate = BuildFileFate::kCannotOpen;
      name.dwError = GetLastError();
    } else {
      mapTaken.emplace(item.strName, i);
    }
  }
  return vecNames;
}

bool CPackBuilder::Build(const std::string& strDir, const std::string& strPackPath, const CBuildSource& source) {
  // What the move at the end would refuse, refused before any work.
  DWORD dwAttributes = GetFileAttributesA(strPackPath.c_str());
  if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
      (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::string strWorkPath;
  m_pack.hBuildFile = CreateWorkFile(strDir, strPackPath, strWorkPath);
  if (!m_pack.hBuildFile) return false;

  m_mapDirBefore = m_pack.mapDir;
  // The move is written through: DeleteSources runs right after it, and a
  // power cut must never leave sources deleted while the pack's new name is
  // not yet on disk.
  const bool bOk = CompleteReplacement(WritePack(source), m_pack.hBuildFile, strWorkPath, strPackPath);
  m_bMoveDurable = bOk && GetLastError() == ERROR_SUCCESS;
  if (!bOk) {
    CKeepLastError keep;
    RestoreState();
  }
  return bOk;
}

// A placeholder header of zeros first: until the real one is written last,
// the file does not open as a pack. Then the blobs, the regions behind them
// and the header; the replacement flushes them before the move.
bool CPackBuilder::WritePack(const CBuildSource& source) {
  m_pack.header = DefaultPackHeader();
  m_pack.header.nEntryCount = 0;
  m_pack.header.byCompressed = m_settings.bCompress ? 1 : 0;
  SetField(m_pack.header.szRootName, kPackRootNameSize, m_settings.strPackName);
  m_pack.mapDir[m_settings.strPackName];  // the tree's root, which every record hangs from
  m_pack.nAddedCount = 0;

  HANDLE hFile = m_pack.hBuildFile.Get();
  const PackHeader zeroHeader = {};
  LARGE_INTEGER liPos;
  if (!SeekFile(hFile, liPos, 0) || !WriteAll(hFile, &zeroHeader, sizeof(zeroHeader))) return false;
  if (!AppendAll(source)) return false;
  const PackEntryList vecNone;
  if (!WriteIndexRegions(hFile, m_pack.header, {m_pack.mapEntry, vecNone, m_pack.mapDir, m_pack.vecFree})) {
    return false;
  }
  m_pack.header = HeaderForLayout(
      m_pack.header,
      LayoutIndex(m_pack.header.dwIndexOffset, {m_pack.mapEntry, vecNone, m_pack.mapDir, m_pack.vecFree}));
  return true;
}

// The sources through the pipeline: named (files read) in order on one
// thread, (entries read,) tagged and encoded on the workers, written here
// in list order, so the pack does not depend on the number of workers. The
// pipeline is stopped and joined before the error of a failure is set for
// the caller.
bool CPackBuilder::AppendAll(const CBuildSource& source) {
  const CBuildSettings& settings = m_settings;
  const size_t nWorkers = PipelineWorkerCount(m_settings.nWorkers);
  CFirstError first;  // outlives the pipeline, whose end is no cause
  CPipeline pipeline(kItemsPerWorker * nWorkers, kWindowBytes);
  if (!pipeline.Start(
          nWorkers, [&settings, &source](CPipeline& out) { Produce(settings, source, out); },
          [&settings](CBuildItem& item) { ProcessItem(settings, item); })) {
    return first.Fail(ERROR_NOT_ENOUGH_MEMORY);  // no thread started
  }
  CBuildItem item;
  while (first.Ok() && pipeline.Pop(item)) {
    if (item.bFailed) {
      first.Fail(item.dwError);
    } else if (!RecordItem(item)) {
      first.Fail();
    } else if (!item.strFile.empty()) {
      m_vecRecorded.push_back(item.strFile);
    }
  }
  return first.Ok();
}

// Appends stored bytes at the end of the data area; offsets are 32 bits wide.
bool CPackBuilder::WriteBlob(const unsigned char* pbyData, uint32_t dwSize) {
  if (static_cast<uint64_t>(m_pack.header.dwIndexOffset) + dwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  HANDLE hFile = m_pack.hBuildFile.Get();
  LARGE_INTEGER liPos;
  return SeekFile(hFile, liPos, m_pack.header.dwIndexOffset) && WriteAll(hFile, pbyData, dwSize);
}

// Writes the item's stored bytes at the end of the data area and records
// its entry and its place in the tree.
bool CPackBuilder::RecordItem(CBuildItem& item) {
  if (!WriteBlob(item.StoredBytes(), item.dwStoredSize)) return false;
  auto pEntry = std::make_unique<PackEntry>();
  std::memset(pEntry.get(), 0, sizeof(PackEntry));
  SetField(pEntry->szName, kPackNameSize, item.strName);
  std::memcpy(pEntry->szTag, item.szTag, kPackTagSize);
  pEntry->dwOrigSize = item.dwSize;
  pEntry->dwStoredSize = item.dwStoredSize;
  pEntry->dwOffset = m_pack.header.dwIndexOffset;
  m_pack.mapEntry.emplace(item.strName, std::move(pEntry));
  ++m_pack.nAddedCount;
  m_pack.header.dwIndexOffset += item.dwStoredSize;
  m_pack.header.nEntryCount = m_pack.nAddedCount;
  m_pack.header.byCompressed = m_settings.bCompress ? 1 : 0;
  if (item.strBelowRoot.empty()) {
    TreeAddPath(m_pack.mapDir, m_settings.strPackName, m_settings.strRootPath, m_settings.strSrcRoot, item.strLower);
  } else {
    TreeAddBelowRoot(m_pack.mapDir, m_settings.strPackName, item.strBelowRoot);
  }
  return true;
}

// A failed build leaves the object as it found it, so it can be run again:
// the file list and the tree as they were, no entries, the default header.
void CPackBuilder::RestoreState() {
  m_pack.mapDir = std::move(m_mapDirBefore);
  m_pack.mapEntry.clear();
  m_pack.nAddedCount = 0;
  m_pack.header = DefaultPackHeader();
  m_vecRecorded.clear();
}

// The pack itself is never deleted, even when it was listed as a source.
void CPackBuilder::DeleteSources(const std::string& strPackPath) const {
  if (!m_bMoveDurable) return;
  const std::string strCurrentDir = CurrentDirectory();
  const std::string strPackKey = ComparablePath(strPackPath, strCurrentDir);
  for (const std::string& strFile : m_vecRecorded) {
    if (ComparablePath(strFile, strCurrentDir) != strPackKey) DeleteFileA(strFile.c_str());
  }
}

// One file on this thread, by the same steps as a build's pipeline. A file
// that cannot be named, whose name is taken already, or that cannot be
// opened is skipped before anything is written for it.
CPackBuilder::Step CPackBuilder::AppendFile(const std::string& strFile) {
  if (!m_pack.hBuildFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Step::kFailed;
  }
  CBuildItem item;
  Step step = NameItem(m_settings, strFile, item);
  if (step == Step::kDone && m_pack.mapEntry.count(item.strName)) return Step::kSkipped;
  if (step == Step::kDone) step = ReadItem(item);
  if (step != Step::kDone) return step;
  ProcessItem(m_settings, item);
  if (item.bFailed) {
    SetLastError(item.dwError);
    return Step::kFailed;
  }
  return RecordItem(item) ? Step::kDone : Step::kFailed;
}
