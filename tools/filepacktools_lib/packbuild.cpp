// Building a new pack from files on disk: the build root, the directory walk
// that fills the file list, and the writing of the pack.
//
// Encoding is the slow part, so a build runs as a bounded pipeline: one
// thread reads the sources in list order, workers tag and encode them, and
// the calling thread writes each blob in list order; the pack is the same
// byte for byte whatever the number of workers.
//
// The pack is written into a new file beside its destination and moved over
// the destination only once it is complete and flushed, so a build that
// fails part way leaves no half-written pack and keeps an older pack of the
// same name intact. Source files are deleted (bDeleteSrc) only after that
// move is on disk (written through), and only those whose entry was
// recorded.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/cp936.h"
#include "tools/filepacktools_lib/buildpath.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

// Owns a FindFirstFileA handle, which CloseHandle cannot close.
class CFindHandle {
 public:
  explicit CFindHandle(HANDLE h) : m_h(h) {}
  ~CFindHandle() {
    if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h);
  }
  CFindHandle(const CFindHandle&) = delete;
  CFindHandle& operator=(const CFindHandle&) = delete;
  HANDLE Get() const { return m_h; }
  explicit operator bool() const { return m_h != INVALID_HANDLE_VALUE; }

 private:
  HANDLE m_h;
};

bool OpensForReading(const char* pszPath) {
  CScopedHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(hFile);
}

bool IsSkippedName(const char* pszName) {
  return std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0 || std::strcmp(pszName, ".svn") == 0;
}

// Lzma86 output never needs more than this; the buffer is the encoder's
// whole capacity, clamped to what a 32-bit length can say.
uint32_t EncodeCapacity(uint32_t dwSize) {
  return static_cast<uint32_t>(std::min<uint64_t>(2ull * dwSize + 100, UINT32_MAX));
}

// The window of a build: entries in flight per worker, and the source bytes
// they may hold together (a larger file still goes through, alone). Blobs
// leave in list order, so one large entry holds up the small ones behind
// it; with two per worker the other workers soon stood idle behind it.
constexpr size_t kItemsPerWorker = 8;
constexpr uint64_t kWindowBytes = 64ull << 20;
constexpr size_t kMaxWorkers = 64;

}  // namespace

// One source file on its way into the pack: named and read by the
// producer, tagged and encoded by a worker, written and recorded by the
// writer. A failed item carries its error to the writer's thread.
struct CBuildItem {
  std::string strFile;
  std::string strLower;
  std::string strName;
  std::string strBelowRoot;  // named from the root directory: the path below it
  std::unique_ptr<unsigned char[]> pbyPlain;
  uint32_t dwSize = 0;
  std::unique_ptr<unsigned char[]> pbyEncoded;
  uint32_t dwStoredSize = 0;
  char szTag[kPackTagSize] = {};
  bool bFailed = false;
  DWORD dwError = ERROR_SUCCESS;

  void Fail() {
    bFailed = true;
    dwError = GetLastError();
  }
  const unsigned char* StoredBytes() const { return pbyEncoded ? pbyEncoded.get() : pbyPlain.get(); }
};

// What every thread of a build reads; fixed while it runs.
struct CBuildSettings {
  std::string strRootName;
  std::string strSrcRoot;
  std::string strRootDir;  // "" when the build has no root directory
  bool bCompress;
  bool bTags;
};

// One run of CreatePack: the file it writes, the sources it recorded, and
// the state to put back when it fails.
class CPackBuilder {
 public:
  enum class Step { kDone, kSkipped, kFailed };
  using CPipeline = COrderedPipeline<CBuildItem>;

  CPackBuilder(CPackFile& pack, bool bCompress) : m_pack(pack), m_bCompress(bCompress) {}

  bool Build(const std::string& strDir, const std::string& strPackPath);
  void DeleteSources(const std::string& strPackPath) const;

  static Step AppendFile(CPackFile& pack, const std::string& strFile, bool bCompress);

 private:
  static CBuildSettings SettingsOf(const CPackFile& pack, bool bCompress);
  static bool EntryName(const CBuildSettings& settings, CBuildItem& item);
  static Step NameItem(const CBuildSettings& settings, const std::string& strFile, CBuildItem& item);
  static Step ReadItem(CBuildItem& item);
  static void ProcessItem(const CBuildSettings& settings, CBuildItem& item);
  static bool RecordItem(CPackFile& pack, bool bCompress, CBuildItem& item);
  static bool Encode(const unsigned char* pbyPlain, uint32_t dwSize, std::unique_ptr<unsigned char[]>& pbyStored,
                     uint32_t& dwStoredSize);
  static bool WriteBlob(CPackFile& pack, const unsigned char* pbyData, uint32_t dwSize);
  static void Produce(const CBuildSettings& settings, const std::vector<std::string>& vecFiles, CPipeline& out);

  size_t WorkerCount() const;
  bool AppendAll();
  bool WriteItems(CPipeline& pipeline);
  bool WritePack();
  bool WriteRegions();
  void RestoreState();

  CPackFile& m_pack;
  bool m_bCompress;
  PackDirMap m_mapDirBefore;
  std::vector<std::string> m_vecRecorded;
};

namespace {

// Creates a new, unshared file for the pack beside its destination. A name
// already taken (left by a build that was killed, say) is not touched.
CScopedHandle CreateWorkFile(const std::string& strDir, const std::string& strPackPath, std::string& strWorkPath) {
  for (int n = 0; n < 100; ++n) {
    strWorkPath = strPackPath + ".~" + std::to_string(n);
    if (strWorkPath.size() >= MAX_PATH) strWorkPath = JoinPath(strDir, "~" + std::to_string(n));
    if (strWorkPath.size() >= MAX_PATH) break;
    CScopedHandle hFile(CreateFileA(strWorkPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (hFile) return hFile;
    DWORD dwError = GetLastError();
    if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) return CScopedHandle();
  }
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return CScopedHandle();
}

}  // namespace

bool CPackBuilder::Build(const std::string& strDir, const std::string& strPackPath) {
  // What the move at the end would refuse, refused before any work.
  DWORD dwAttributes = GetFileAttributesA(strPackPath.c_str());
  if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
      (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::string strWorkPath;
  m_pack.m_hBuildFile = CreateWorkFile(strDir, strPackPath, strWorkPath);
  if (!m_pack.m_hBuildFile) return false;

  m_mapDirBefore = m_pack.m_mapDir;
  bool bOk = WritePack();
  m_pack.m_hBuildFile.Reset();
  // Written through: the sources may be deleted next, and a power cut must
  // not keep their deletion but lose the pack's rename.
  bOk = bOk &&
        MoveFileExA(strWorkPath.c_str(), strPackPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!bOk) {
    DWORD dwError = GetLastError();
    DeleteFileA(strWorkPath.c_str());
    RestoreState();
    SetLastError(dwError);
  }
  return bOk;
}

// A placeholder header of zeros first: until the real one is written last,
// the file does not open as a pack.
bool CPackBuilder::WritePack() {
  m_pack.ResetHeader();
  m_pack.m_header.nEntryCount = 0;
  m_pack.m_header.byCompressed = m_bCompress ? 1 : 0;
  SetField(m_pack.m_header.szRootName, kPackRootNameSize, m_pack.m_strPackName);
  m_pack.m_mapDir[m_pack.m_strPackName];  // the tree's root, which every record hangs from
  m_pack.m_nAddedCount = 0;

  const PackHeader zeroHeader = {};
  if (!SeekFile(m_pack.m_hBuildFile.Get(), m_pack.m_liFilePos, 0) ||
      !WriteAll(m_pack.m_hBuildFile.Get(), &zeroHeader, sizeof(zeroHeader))) {
    return false;
  }
  return AppendAll() && WriteRegions();
}

size_t CPackBuilder::WorkerCount() const {
  if (m_pack.m_nBuildWorkers > 0) return static_cast<size_t>(m_pack.m_nBuildWorkers);
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return std::min<size_t>(std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxWorkers);
}

// The files of the list through the pipeline: read in order on one thread,
// tagged and encoded on the workers, written here in list order, so the
// pack does not depend on the number of workers. The pipeline is stopped
// and joined before the error of a failure is set for the caller.
bool CPackBuilder::AppendAll() {
  const CBuildSettings settings = SettingsOf(m_pack, m_bCompress);
  const std::vector<std::string>& vecFiles = m_pack.m_vecFileList;
  const size_t nWorkers = WorkerCount();
  bool bOk = false;
  DWORD dwError = ERROR_NOT_ENOUGH_MEMORY;  // when no thread starts
  {
    CPipeline pipeline(kItemsPerWorker * nWorkers, kWindowBytes);
    if (pipeline.Start(
            nWorkers, [&settings, &vecFiles](CPipeline& out) { Produce(settings, vecFiles, out); },
            [&settings](CBuildItem& item) { ProcessItem(settings, item); })) {
      bOk = WriteItems(pipeline);
      dwError = GetLastError();
    }
  }
  if (!bOk) SetLastError(dwError);
  return bOk;
}

bool CPackBuilder::WriteItems(CPipeline& pipeline) {
  CBuildItem item;
  while (pipeline.Pop(item)) {
    if (item.bFailed) {
      SetLastError(item.dwError);
      return false;
    }
    if (!RecordItem(m_pack, m_bCompress, item)) return false;
    m_vecRecorded.push_back(item.strFile);
  }
  return true;
}

// The producer stops after handing on a failed item: the writer fails the
// build there. A name is taken once its file has been read, exactly when a
// serial build would have recorded it.
void CPackBuilder::Produce(const CBuildSettings& settings, const std::vector<std::string>& vecFiles,
                           CPipeline& out) {
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

// The index in name order, the directory table and the free list behind the
// data area, the file cut there, then the header; flushed so that the move
// installs a complete file.
bool CPackBuilder::WriteRegions() {
  CPackFile& pack = m_pack;
  uint64_t qwDirRecords = 0;
  for (const auto& item : pack.m_mapDir) qwDirRecords += item.second.size();
  const uint64_t qwEnd = pack.m_header.dwIndexOffset + pack.m_mapEntry.size() * uint64_t{kPackEntrySize} +
                         qwDirRecords * kPackDirRecordSize + pack.m_vecFreeBlock.size() * uint64_t{kPackFreeBlockSize};
  if (qwEnd > UINT32_MAX || pack.m_mapEntry.size() > INT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  pack.m_header.nEntryCount = static_cast<int32_t>(pack.m_mapEntry.size());
  pack.m_header.nFreeBlockCount = static_cast<int32_t>(pack.m_vecFreeBlock.size());

  HANDLE hFile = pack.m_hBuildFile.Get();
  CRecordWriter writer(hFile, pack.m_liFilePos, pack.m_header.dwIndexOffset);
  for (const auto& item : pack.m_mapEntry) writer.Add(item.second.get(), kPackEntrySize);
  for (const auto& item : pack.m_mapDir) {
    for (const PackDirRecord& record : item.second) writer.Add(&record, kPackDirRecordSize);
  }
  for (const PackFreeBlock& block : pack.m_vecFreeBlock) writer.Add(&block, kPackFreeBlockSize);
  return writer.Finish() && SeekFile(hFile, pack.m_liFilePos, writer.End()) && SetEndOfFile(hFile) &&
         SeekFile(hFile, pack.m_liFilePos, 0) && WriteAll(hFile, &pack.m_header, sizeof(pack.m_header)) &&
         FlushFileBuffers(hFile);
}

// A failed build leaves the object as it found it, so it can be run again:
// the file list and the tree as they were, no entries, the default header.
void CPackBuilder::RestoreState() {
  m_pack.m_mapDir = std::move(m_mapDirBefore);
  m_pack.m_mapEntry.clear();
  m_pack.m_nAddedCount = 0;
  m_pack.ResetHeader();
  m_vecRecorded.clear();
}

// The pack itself is never deleted, even when it was listed as a source.
void CPackBuilder::DeleteSources(const std::string& strPackPath) const {
  const std::string strCurrentDir = CurrentDirectory();
  const std::string strPackKey = ComparablePath(strPackPath, strCurrentDir);
  for (const std::string& strFile : m_vecRecorded) {
    if (ComparablePath(strFile, strCurrentDir) != strPackKey) DeleteFileA(strFile.c_str());
  }
}

CBuildSettings CPackBuilder::SettingsOf(const CPackFile& pack, bool bCompress) {
  const std::string strRootName = FieldString(pack.m_header.szRootName, kPackRootNameSize);
  return CBuildSettings{strRootName, FieldString(pack.m_szSrcRoot, sizeof(pack.m_szSrcRoot)),
                        strRootName.empty() ? std::string() : pack.m_strRootDir, bCompress, pack.m_bContentTags};
}

// The entry name of a source path. A file below the build's root directory
// is the root name and its path below that directory, wherever else the
// root name's letters occur in the path ("\tmp\fresh\res\a.txt" under the
// root "\tmp\fresh\res" is res\a.txt). Any other file is named from the
// first occurrence of the root name to the end, else by what follows the
// source root's name and one separator. The searches keep to character
// boundaries.
bool CPackBuilder::EntryName(const CBuildSettings& settings, CBuildItem& item) {
  const std::string& strLowerPath = item.strLower;
  std::string& strName = item.strName;
  const std::string& strRootDir = settings.strRootDir;
  if (!strRootDir.empty() && strLowerPath.size() > strRootDir.size() + 1 &&
      strLowerPath.compare(0, strRootDir.size(), strRootDir) == 0 && strLowerPath[strRootDir.size()] == '\\') {
    item.strBelowRoot = strLowerPath.substr(strRootDir.size() + 1);
    strName = settings.strRootName + '\\' + item.strBelowRoot;
    return true;
  }
  if (const char* pszFound = Cp936StrStr(strLowerPath.c_str(), settings.strRootName.c_str())) {
    strName = pszFound;
    return !strName.empty();
  }
  const std::string& strSrcRoot = settings.strSrcRoot;
  if (strSrcRoot.empty()) return false;
  const char* pszFound = Cp936StrStr(strLowerPath.c_str(), strSrcRoot.c_str());
  if (!pszFound) return false;
  const size_t nStart = static_cast<size_t>(pszFound - strLowerPath.c_str()) + strSrcRoot.size() + 1;
  if (nStart >= strLowerPath.size()) return false;
  strName = strLowerPath.substr(nStart);
  return true;
}

// A path too long for a path buffer fails the build; one that gives no
// entry name is skipped.
CPackBuilder::Step CPackBuilder::NameItem(const CBuildSettings& settings, const std::string& strFile,
                                          CBuildItem& item) {
  item.strFile = strFile;
  if (strFile.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    item.Fail();
    return Step::kFailed;
  }
  item.strLower = LowerCopy(strFile);
  if (item.strLower.empty() || !EntryName(settings, item)) return Step::kSkipped;
  return Step::kDone;
}

// Reads the whole source file. One that cannot be opened is skipped; one
// that fails while read fails the build.
CPackBuilder::Step CPackBuilder::ReadItem(CBuildItem& item) {
  CScopedHandle hFile(CreateFileA(item.strFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return Step::kSkipped;
  DWORD dwHigh = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD dwLow = GetFileSize(hFile.Get(), &dwHigh);
  bool bOk = !(dwLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS);
  if (bOk && dwHigh != 0) {
    SetLastError(ERROR_FILE_TOO_LARGE);  // sizes are 32 bits wide
    bOk = false;
  }
  if (bOk) {
    item.dwSize = item.dwStoredSize = dwLow;
    item.pbyPlain.reset(new (std::nothrow) unsigned char[dwLow > 0 ? dwLow : 1]);
    if (!item.pbyPlain) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    bOk = item.pbyPlain && ReadAll(hFile.Get(), item.pbyPlain.get(), dwLow);
  }
  if (!bOk) item.Fail();
  return bOk ? Step::kDone : Step::kFailed;
}

// The tag from the plain bytes, then the stream that replaces them; runs
// on any thread and touches nothing but the item.
void CPackBuilder::ProcessItem(const CBuildSettings& settings, CBuildItem& item) {
  if (item.bFailed) return;
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

bool CPackBuilder::Encode(const unsigned char* pbyPlain, uint32_t dwSize, std::unique_ptr<unsigned char[]>& pbyStored,
                          uint32_t& dwStoredSize) {
  dwStoredSize = EncodeCapacity(dwSize);
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

// Appends stored bytes at the end of the data area; offsets are 32 bits wide.
bool CPackBuilder::WriteBlob(CPackFile& pack, const unsigned char* pbyData, uint32_t dwSize) {
  if (static_cast<uint64_t>(pack.m_header.dwIndexOffset) + dwSize > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  HANDLE hFile = pack.m_hBuildFile.Get();
  return SeekFile(hFile, pack.m_liFilePos, pack.m_header.dwIndexOffset) && WriteAll(hFile, pbyData, dwSize);
}

// Writes the item's stored bytes at the end of the data area and records
// its entry.
bool CPackBuilder::RecordItem(CPackFile& pack, bool bCompress, CBuildItem& item) {
  if (!WriteBlob(pack, item.StoredBytes(), item.dwStoredSize)) return false;
  auto pEntry = std::make_unique<PackEntry>();
  std::memset(pEntry.get(), 0, sizeof(PackEntry));
  SetField(pEntry->szName, kPackNameSize, item.strName);
  std::memcpy(pEntry->szTag, item.szTag, kPackTagSize);
  pEntry->dwOrigSize = item.dwSize;
  pEntry->dwStoredSize = item.dwStoredSize;
  pEntry->dwOffset = pack.m_header.dwIndexOffset;
  const PackEntry* pRecorded = pEntry.get();
  pack.m_mapEntry.emplace(item.strName, std::move(pEntry));
  ++pack.m_nAddedCount;
  pack.m_header.dwIndexOffset += item.dwStoredSize;
  pack.m_header.nEntryCount = pack.m_nAddedCount;
  pack.m_header.byCompressed = bCompress ? 1 : 0;
  if (item.strBelowRoot.empty()) {
    pack.AddPathToTree(item.strLower.c_str(), pRecorded);
  } else {
    pack.AddRelativeToTree(item.strBelowRoot);
  }
  return true;
}

// One file on this thread, by the same steps as a build's pipeline. A file
// that cannot be named, whose name is taken already, or that cannot be
// opened is skipped before anything is written for it.
CPackBuilder::Step CPackBuilder::AppendFile(CPackFile& pack, const std::string& strFile, bool bCompress) {
  if (!pack.m_hBuildFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Step::kFailed;
  }
  const CBuildSettings settings = SettingsOf(pack, bCompress);
  CBuildItem item;
  Step step = NameItem(settings, strFile, item);
  if (step == Step::kDone && pack.m_mapEntry.count(item.strName)) return Step::kSkipped;
  if (step == Step::kDone) step = ReadItem(item);
  if (step != Step::kDone) return step;
  ProcessItem(settings, item);
  if (item.bFailed) {
    SetLastError(item.dwError);
    return Step::kFailed;
  }
  return RecordItem(pack, bCompress, item) ? Step::kDone : Step::kFailed;
}

void CPackFile::SetRootPath(const char* szPath) {
  assert(NULL != szPath);
  assert('\0' != szPath[0]);
  if (!szPath || !szPath[0]) return;
  m_strRootPath = LowerCopy(szPath);
  const size_t nSep = LastSeparator(m_strRootPath);
  if (nSep == std::string::npos) return;
  m_strPackName = m_strRootPath.substr(nSep + 1);
  m_strRootDir = m_strRootPath;
  m_mapDir.clear();
  m_mapDir[m_strPackName];
  SetField(m_szWorkDir, sizeof(m_szWorkDir), CurrentDirectory());
}

// A path too long for a path buffer is listed as it is, so that the build
// fails on it instead of leaving the file out without a word.
void CPackFile::CollectFiles(const char* chSrcDir) {
  assert(NULL != chSrcDir);
  if (!chSrcDir) return;
  const std::string strDir(chSrcDir);
  if (strDir.size() >= MAX_PATH || OpensForReading(chSrcDir)) {
    m_vecFileList.push_back(strDir);
    return;
  }
  if (!SetCurrentDirectoryA(chSrcDir)) return;
  WIN32_FIND_DATAA data;
  CFindHandle hFind(FindFirstFileA("*.*", &data));
  if (!hFind) return;
  do {
    if (IsSkippedName(data.cFileName)) continue;
    const std::string strChild = strDir + '\\' + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectFiles(strChild.c_str());
    } else {
      m_vecFileList.push_back(strChild);
    }
  } while (FindNextFileA(hFind.Get(), &data));
}

bool CPackFile::CreatePack(const char* chSrcFilePath, const char* chDesFilePath, bool bCompress, char* pszOutPath,
                           const char* pszPackName, bool bDeleteSrc) {
  assert(NULL != chSrcFilePath);
  assert('\0' != chSrcFilePath[0]);
  assert(NULL != chDesFilePath);
  assert('\0' != chDesFilePath[0]);
  if (!chSrcFilePath || !chSrcFilePath[0] || !chDesFilePath || !chDesFilePath[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (std::strlen(chSrcFilePath) >= MAX_PATH || !Cp936StrChr(chSrcFilePath, '\\')) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  const std::string strDir = LowerCopy(chDesFilePath);
  const std::string strPackPath = strDir + '\\' + (pszPackName ? pszPackName : m_strPackName) + ".pak";
  if (strPackPath.size() >= MAX_PATH || m_strPackName.size() > kPackRootNameSize) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (pszOutPath) std::memcpy(pszOutPath, strPackPath.data(), strPackPath.size());

  CPackBuilder builder(*this, bCompress);
  if (!builder.Build(strDir, strPackPath)) return false;
  if (bDeleteSrc) builder.DeleteSources(strPackPath);

  m_mapEntry.clear();
  m_vecFreeBlock.clear();
  ResetHeader();
  m_nAddedCount = 0;
  m_vecFileList.clear();
  m_mapDir.clear();
  m_strRootPath.clear();
  m_strRootDir.clear();
  return true;
}

// Deleting a source is CreatePack's last step, once the pack is complete;
// a single append has no pack to vouch for yet, so bDeleteSrc is not acted
// on here.
bool CPackFile::AddFileToPack(const char* szFile, bool bCompress, bool /*bDeleteSrc*/) {
  if (!szFile) return true;
  return CPackBuilder::AppendFile(*this, szFile, bCompress) != CPackBuilder::Step::kFailed;
}
