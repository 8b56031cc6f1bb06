// CPackFile's lifecycle (construction, Open, Close), its name primitives and
// tree operations, and the facade object.
#include "tools/filepacktools_lib/crealizepack.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/file_io.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packlock.h"
#include "tools/filepacktools_lib/packtree.h"

CRealizePack g_realizePack;

CPackFile::CPackFile() : m_nFindMode(0), m_nAddedCount(0), m_nMode(0), m_byCompressed(0), m_dwAllocGranularity(0) {
  m_header = DefaultPackHeader();
  ResetFindState();
  std::memset(m_szWorkDir, 0, sizeof(m_szWorkDir));
  std::memset(m_szSrcRoot, 0, sizeof(m_szSrcRoot));
  m_liFilePos.QuadPart = 0;
}

// Handles, mapping and entry records are owned by their members.
CPackFile::~CPackFile() = default;

bool CPackFile::Open(std::string strPath) { return OpenPack(strPath, OpenMode::kReadWrite); }

bool CPackFile::OpenForReading(const std::string& strPath) { return OpenPack(strPath, OpenMode::kReadWriteOrRead); }

bool CPackFile::OpenPack(const std::string& strPath, OpenMode eMode) {
  Close();
  m_nMode = 2;
  return OpenFile(strPath, eMode) && LoadOpenFile();
}

bool CPackFile::OpenPackHandle(CScopedHandle hFile) {
  Close();
  m_nMode = 2;
  m_bReadOnly = true;
  m_hPackFile = std::move(hFile);
  if (!m_hPackFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  LARGE_INTEGER liPos;
  return SeekFile(m_hPackFile.Get(), liPos, 0) && LoadOpenFile();
}

// The header, the mapping and the regions of the file m_hPackFile, open at
// offset 0.
bool CPackFile::LoadOpenFile() {
  // A short or unreadable header leaves the rest zero; the region checks
  // below then reject it.
  std::memset(&m_header, 0, sizeof(m_header));
  DWORD dwRead = 0;
  ReadFile(m_hPackFile.Get(), &m_header, sizeof(m_header), &dwRead, nullptr);
  m_byCompressed = m_header.byCompressed;

  const DWORD dwProtect = m_bReadOnly ? PAGE_READONLY : PAGE_READWRITE;
  m_hFileMapping.Reset(CreateFileMappingA(m_hPackFile.Get(), nullptr, dwProtect, 0, 0, nullptr));
  if (!m_hFileMapping) {
    CloseFile();
    return false;
  }

  SYSTEM_INFO sysInfo;
  GetSystemInfo(&sysInfo);
  m_dwAllocGranularity = sysInfo.dwAllocationGranularity;
  DWORD dwSizeHigh = 0;
  DWORD dwSizeLow = GetFileSize(m_hPackFile.Get(), &dwSizeHigh);
  uint64_t qwFileSize = (static_cast<uint64_t>(dwSizeHigh) << 32) | dwSizeLow;
  return LoadRegions(qwFileSize);
}

// Opens the file as eMode says and, but for a merge's own target (whose
// merge holds the lock), takes the readers' lock on it. A merge that was
// interrupted is undone first; so is one that began and died between that
// and the lock, which keeps merges off from then on: the pack read is never
// half merged.
bool CPackFile::OpenFile(const std::string& strPath, OpenMode eMode) {
  if (eMode == OpenMode::kMergeTarget) return OpenHandle(strPath, eMode);
  // An update is taken as it is: a journal beside it is no business of a
  // merge from it (only a client pack is ever restored).
  if (eMode == OpenMode::kUpdate) return OpenHandle(strPath, eMode) && TakeReadLock();
  constexpr int kTries = 3;
  for (int nTry = 0; nTry < kTries; ++nTry) {
    if (!RestoreFromJournal(strPath) || !OpenHandle(strPath, eMode) || !TakeReadLock()) return false;
    if (!HasJournal(strPath)) return true;
    CloseFile();
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

bool CPackFile::TakeReadLock() {
  m_pReadLock = std::make_unique<CPackReadLock>();
  if (m_pReadLock->Take(m_hPackFile.Get())) return true;
  CloseFile();
  return false;
}

// Read-only media refuse writing with ERROR_WRITE_PROTECT, a read-only
// file with ERROR_ACCESS_DENIED: either way the pack can still be read.
bool CPackFile::OpenHandle(const std::string& strPath, OpenMode eMode) {
  m_bReadOnly = eMode == OpenMode::kReadDenyWriters || eMode == OpenMode::kUpdate;
  if (m_bReadOnly) {
    const DWORD dwShare = eMode == OpenMode::kUpdate ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    m_hPackFile.Reset(
        CreateFileA(strPath.c_str(), GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_hPackFile);
  }
  m_hPackFile.Reset(CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD dwError = GetLastError();
  if (!m_hPackFile && eMode == OpenMode::kReadWriteOrRead &&
      (dwError == ERROR_ACCESS_DENIED || dwError == ERROR_WRITE_PROTECT)) {
    m_hPackFile.Reset(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    m_bReadOnly = static_cast<bool>(m_hPackFile);
  }
  return static_cast<bool>(m_hPackFile);
}

// The readers' lock goes before the handle it was taken through.
void CPackFile::CloseFile() {
  const DWORD dwError = GetLastError();
  m_pReadLock.reset();
  m_hPackFile.Reset();
  SetLastError(dwError);
}

// Reads the entry index, the directory table and the free list, each through
// its own view from its aligned start to the end of the file. All bounds are
// computed in 64 bits so that no count can wrap a region back into the file;
// negative counts read nothing.
bool CPackFile::LoadRegions(uint64_t qwFileSize) {
  const uint64_t qwEntries = m_header.nEntryCount > 0 ? static_cast<uint64_t>(m_header.nEntryCount) : 0;
  const uint64_t qwFreeBlocks = m_header.nFreeBlockCount > 0 ? static_cast<uint64_t>(m_header.nFreeBlockCount) : 0;
  const uint64_t qwIndex = m_header.dwIndexOffset;
  const uint64_t qwDirStart = qwIndex + qwEntries * kPackEntrySize;
  const uint64_t qwFreeBytes = qwFreeBlocks * kPackFreeBlockSize;
  // The data area cannot end inside the header, and the index, table and
  // free list must all lie inside the file.
  if (qwIndex < kPackHeaderSize || qwDirStart + qwFreeBytes > qwFileSize || qwFileSize > UINT32_MAX) {
    m_hFileMapping.Reset();
    SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  const uint64_t qwDirBytes = qwFileSize - qwDirStart - qwFreeBytes;

  CMappedView view;
  if (qwEntries > 0) {
    const unsigned char* pbyIndex = view.Map(m_hFileMapping.Get(), qwIndex, qwFileSize - qwIndex, m_dwAllocGranularity);
    if (!pbyIndex) {
      m_hFileMapping.Reset();
      return false;
    }
    LoadEntries(pbyIndex, m_header.nEntryCount);
    view.Unmap();
  }

  m_strRootPath = FieldString(m_header.szRootName, kPackRootNameSize);
  m_mapDir[m_strRootPath];

  const uint64_t qwDirCount = qwDirBytes / kPackDirRecordSize;
  if (qwDirCount > 0) {
    const unsigned char* pbyDirs =
        view.Map(m_hFileMapping.Get(), qwDirStart, qwFileSize - qwDirStart, m_dwAllocGranularity);
    if (!pbyDirs) {
      m_hFileMapping.Reset();
      return false;
    }
    LoadDirRecords(pbyDirs, qwDirCount);
    view.Unmap();
  }

  if (qwFreeBlocks == 0) return true;
  const uint64_t qwFreeStart = qwFileSize - qwFreeBytes;
  const unsigned char* pbyFree = view.Map(m_hFileMapping.Get(), qwFreeStart, qwFreeBytes, m_dwAllocGranularity);
  if (!pbyFree) {
    m_hFileMapping.Reset();
    return false;
  }
  m_vecFreeBlock.resize(static_cast<size_t>(qwFreeBlocks));
  std::memcpy(m_vecFreeBlock.data(), pbyFree, static_cast<size_t>(qwFreeBytes));
  return true;
}

void CPackFile::LoadEntries(const unsigned char* pbyIndex, int32_t nCount) {
  LoadEntryIndex(pbyIndex, static_cast<size_t>(nCount), m_mapEntry);
}

void CPackFile::LoadDirRecords(const unsigned char* pbyDirs, uint64_t qwCount) {
  TreeLoadTable(m_mapDir, m_strRootPath, pbyDirs, qwCount);
}

void CPackFile::Close() {
  CloseFile();
  m_bReadOnly = false;
  m_hFileMapping.Reset();
  m_mapEntry.clear();
  m_vecNewEntry.clear();
  m_mapDir.clear();
  m_vecFreeBlock.clear();
}

void CPackFile::MakeLower(char* pszChar) {
  assert(NULL != pszChar);
  assert('\0' != pszChar[0]);
  if (!pszChar) return;
  for (char* p = pszChar; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + ('a' - 'A'));
  }
}

void CPackFile::ReplaceChar(std::string& str, char chFrom, char chTo) {
  if (chFrom == chTo) return;
  std::replace(str.begin(), str.end(), chFrom, chTo);
}

int CPackFile::AddPathToTree(const char* szFilePath, const PackEntry* /*pEntry*/) {
  assert(NULL != szFilePath);
  assert('\0' != szFilePath[0]);
  if (!szFilePath) return 0;
  return TreeAddPath(m_mapDir, FieldString(m_header.szRootName, kPackRootNameSize), m_strRootPath,
                     FieldString(m_szSrcRoot, sizeof(m_szSrcRoot)), szFilePath);
}

int CPackFile::AddRecordToTree(const PackDirRecord& record) { return TreeAddRecord(m_mapDir, m_strRootPath, record); }

void CPackFile::AddFile(const char* pszPath) {
  if (pszPath && pszPath[0]) m_vecFileList.emplace_back(pszPath);
}

void CPackFile::SetPackName(const char* pszName) {
  if (pszName && pszName[0]) m_strPackName = pszName;
}

bool CPackFile::IsReadOnly() const { return m_bReadOnly; }

void CPackFile::SetContentTags(bool bEnable) { m_bContentTags = bEnable; }
void CPackFile::SetBuildWorkers(int nWorkers) { m_nBuildWorkers = nWorkers > 0 ? nWorkers : 0; }
void CPackFile::SetExtractWorkers(int nWorkers) { m_nExtractWorkers = nWorkers > 0 ? nWorkers : 0; }

PackEntryMap* CPackFile::GetEntryMap() { return &m_mapEntry; }
PackHeader* CPackFile::GetHeader() { return &m_header; }
char* CPackFile::GetRootName() { return m_header.szRootName; }
const PackDirMap& CPackFile::GetDirMap() const { return m_mapDir; }
const std::vector<PackFreeBlock>& CPackFile::GetFreeBlocks() const { return m_vecFreeBlock; }

CEntryReader CPackFile::Reader() const {
  return CEntryReader(m_hFileMapping.Get(), m_dwAllocGranularity, m_byCompressed != 0);
}

CIndexRegions CPackFile::Regions() const { return {m_mapEntry, m_vecNewEntry, m_mapDir, m_vecFreeBlock}; }

const std::string& CRealizePack::GetMergeRefusal() const { return m_strRefusal; }

const std::set<std::string>& CRealizePack::GetMergedNames() const { return m_setMerged; }

CRealizePack::CRealizePack() : m_pSrcPack(std::make_unique<CPackFile>()), m_pTarPack(std::make_unique<CPackFile>()) {}

CRealizePack::~CRealizePack() {
  m_pSrcPack.reset();  // the source goes first, then the target
  m_pTarPack.reset();
}
