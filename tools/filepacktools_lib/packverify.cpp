// Checking a pack file against the rules of the format. The file is read
// through a handle of its own, region by region, the way the format lays it
// out, and never through CPackFile::Open: Open keeps the first of two equal
// names, drops records it cannot place and needs write access, while a check
// must see every record as written and work on a read-only file.
#include "tools/filepacktools_lib/packverify.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>

#include "platform/cp936.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/packnames.h"

namespace {

std::string Quoted(const std::string& str) { return "\"" + str + "\""; }

std::string Num(uint64_t qwValue) { return std::to_string(qwValue); }

// A stretch of the data area that an entry or a free block occupies.
struct CSpan {
  uint64_t qwStart;
  uint64_t qwEnd;
  std::string strLabel;
};

std::string DecodeFailure(int nResult, uint32_t dwGot, uint32_t dwWanted) {
  switch (nResult) {
    case kLzmaOk:
      return "it gives " + Num(dwGot) + " bytes instead of " + Num(dwWanted);
    case kLzmaErrorData:
      return "the stream is damaged";
    case kLzmaErrorInputEof:
      return "the stream ends early";
    case kLzmaErrorUnsupported:
      return "the stream uses an unknown filter";
    case kLzmaErrorMem:
      return "not enough memory";
    default:
      return "decoder result " + std::to_string(nResult);
  }
}

}  // namespace

class CPackVerifier {
 public:
  CPackVerifier(HANDLE hFile, uint64_t qwFileSize, std::vector<std::string>& vecProblems)
      : m_hFile(hFile), m_qwFileSize(qwFileSize), m_vecProblems(vecProblems) {
    m_liPos.QuadPart = 0;
    std::memset(&m_header, 0, sizeof(m_header));
  }

  // False when a read failed (last error set).
  bool Run(const VerifyProgress& fnProgress);

 private:
  void Problem(const std::string& strText) { m_vecProblems.push_back(strText); }
  bool ReadAt(uint64_t qwOffset, void* pData, uint64_t qwSize);

  // False when the regions cannot be located, so nothing else can be read.
  bool CheckHeader();
  bool ReadRegions();
  void CheckEntries();
  void CheckFreeBlocks();
  void CheckOverlaps();
  void CheckTree();
  void CheckTreeAgainstIndex(const std::map<std::string, int>& mapFiles, const std::map<std::string, int>& mapDirs,
                             const std::set<std::string>& setParents);
  bool CheckEntryBytes(const VerifyProgress& fnProgress);
  bool DecodeEntry(size_t nIndex);

  std::string EntryLabel(size_t nIndex) const;
  bool InDataArea(size_t nIndex) const { return IsInDataArea(m_vecEntry[nIndex], m_header.dwIndexOffset); }
  bool FreeBlockInDataArea(const PackFreeBlock& block) const {
    return block.dwOffset >= kPackHeaderSize &&
           static_cast<uint64_t>(block.dwOffset) + block.dwSize <= m_header.dwIndexOffset;
  }

  HANDLE m_hFile;
  LARGE_INTEGER m_liPos;
  uint64_t m_qwFileSize;
  std::vector<std::string>& m_vecProblems;
  bool m_bReadFailed = false;

  PackHeader m_header;
  std::string m_strRoot;
  uint64_t m_qwDirStart = 0;
  uint64_t m_qwDirCount = 0;
  std::vector<PackEntry> m_vecEntry;
  std::vector<std::string> m_vecName;  // m_vecEntry's names, bounded by the field
  std::map<std::string, int> m_mapNameCount;
  std::vector<PackDirRecord> m_vecDir;
  std::vector<PackFreeBlock> m_vecFree;
};

bool CPackVerifier::ReadAt(uint64_t qwOffset, void* pData, uint64_t qwSize) {
  if (qwSize == 0) return true;
  if (SeekFile(m_hFile, m_liPos, qwOffset) && ReadAll(m_hFile, pData, qwSize)) return true;
  m_bReadFailed = true;
  return false;
}

std::string CPackVerifier::EntryLabel(size_t nIndex) const {
  if (m_vecName[nIndex].empty()) return "index record " + Num(nIndex + 1);
  return "entry " + Quoted(m_vecName[nIndex]);
}

bool CPackVerifier::Run(const VerifyProgress& fnProgress) {
  if (!CheckHeader() || !ReadRegions()) return !m_bReadFailed;
  CheckEntries();
  CheckFreeBlocks();
  CheckOverlaps();
  CheckTree();
  return CheckEntryBytes(fnProgress);
}

bool CPackVerifier::CheckHeader() {
  if (m_qwFileSize < kPackHeaderSize) {
    Problem("the file is " + Num(m_qwFileSize) + " bytes long, shorter than the 60-byte header");
    return false;
  }
  if (!ReadAt(0, &m_header, sizeof(m_header))) return false;
  if (std::memcmp(m_header.szMagic, kPackMagic, kPackMagicSize) != 0) Problem("the header's magic is not \"pack\"");
  m_strRoot = FieldString(m_header.szRootName, kPackRootNameSize);
  if (m_strRoot.empty()) {
    Problem("the root name is empty");
  } else if (!IsSafeEntryName(m_strRoot) || Cp936StrChr(m_strRoot.c_str(), '\\')) {
    Problem("the root name " + Quoted(m_strRoot) + " is not a safe file name");
  }
  if (m_qwFileSize > UINT32_MAX) {
    Problem("the file is " + Num(m_qwFileSize) + " bytes long; offsets are 32 bits wide, so a pack stays below 4 GiB");
    return false;
  }
  bool bCountsOk = true;
  if (m_header.nEntryCount < 0) {
    Problem("the header's entry count " + std::to_string(m_header.nEntryCount) + " is negative");
    bCountsOk = false;
  }
  if (m_header.nFreeBlockCount < 0) {
    Problem("the header's free-block count " + std::to_string(m_header.nFreeBlockCount) + " is negative");
    bCountsOk = false;
  }
  if (m_header.dwIndexOffset < kPackHeaderSize) {
    Problem("the data area ends at offset " + Num(m_header.dwIndexOffset) + ", inside the header");
    return false;
  }
  if (!bCountsOk) return false;

  const uint64_t qwEntries = static_cast<uint64_t>(m_header.nEntryCount);
  const uint64_t qwFreeBytes = static_cast<uint64_t>(m_header.nFreeBlockCount) * kPackFreeBlockSize;
  m_qwDirStart = m_header.dwIndexOffset + qwEntries * kPackEntrySize;
  if (m_qwDirStart + qwFreeBytes > m_qwFileSize) {
    Problem("the index (" + Num(qwEntries) + " records from offset " + Num(m_header.dwIndexOffset) +
            ") and the free list (" + Num(m_header.nFreeBlockCount) + " blocks) need " +
            Num(m_qwDirStart + qwFreeBytes) + " bytes, but the file has " + Num(m_qwFileSize));
    return false;
  }
  const uint64_t qwDirBytes = m_qwFileSize - m_qwDirStart - qwFreeBytes;
  m_qwDirCount = qwDirBytes / kPackDirRecordSize;
  if (qwDirBytes % kPackDirRecordSize != 0) {
    Problem("the file does not end at the end of the free list: " + Num(qwDirBytes % kPackDirRecordSize) +
            " bytes behind the directory table are not a whole record");
  }
  return true;
}

// Every count was checked against the file size, so each region fits in
// memory as the file holds it.
bool CPackVerifier::ReadRegions() {
  const size_t nEntries = static_cast<size_t>(m_header.nEntryCount);
  const size_t nFree = static_cast<size_t>(m_header.nFreeBlockCount);
  m_vecEntry.resize(nEntries);
  m_vecDir.resize(static_cast<size_t>(m_qwDirCount));
  m_vecFree.resize(nFree);
  if (!ReadAt(m_header.dwIndexOffset, m_vecEntry.data(), uint64_t{nEntries} * kPackEntrySize) ||
      !ReadAt(m_qwDirStart, m_vecDir.data(), m_qwDirCount * kPackDirRecordSize) ||
      !ReadAt(m_qwFileSize - uint64_t{nFree} * kPackFreeBlockSize, m_vecFree.data(),
              uint64_t{nFree} * kPackFreeBlockSize)) {
    return false;
  }
  m_vecName.reserve(nEntries);
  for (const PackEntry& entry : m_vecEntry) m_vecName.push_back(FieldString(entry.szName, kPackNameSize));
  return true;
}

void CPackVerifier::CheckEntries() {
  const std::string strPrefix = m_strRoot + '\\';
  for (size_t i = 0; i < m_vecEntry.size(); ++i) {
    const PackEntry& entry = m_vecEntry[i];
    const std::string& strName = m_vecName[i];
    if (!strName.empty()) {
      ++m_mapNameCount[strName];
      if (m_strRoot.empty() || strName.compare(0, strPrefix.size(), strPrefix) != 0 ||
          strName.size() == strPrefix.size()) {
        Problem(EntryLabel(i) + " does not begin with the root name " + Quoted(m_strRoot));
      } else if (!IsSafeEntryName(strName)) {
        Problem(EntryLabel(i) + " is not a safe path");
      }
    } else {
      Problem(EntryLabel(i) + " has an empty name");
    }
    if (!InDataArea(i)) {
      Problem(EntryLabel(i) + " (offset " + Num(entry.dwOffset) + ", " + Num(entry.dwStoredSize) +
              " bytes) lies outside the data area (offsets 60 to " + Num(m_header.dwIndexOffset) + ")");
    }
    if (m_header.byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) {
      Problem(EntryLabel(i) + " has " + Num(entry.dwStoredSize) + " stored bytes but a size of " +
              Num(entry.dwOrigSize) + " in a plain pack");
    }
  }
  for (const auto& item : m_mapNameCount) {
    if (item.second > 1) {
      Problem("entry name " + Quoted(item.first) + " appears " + std::to_string(item.second) + " times in the index");
    }
  }
}

void CPackVerifier::CheckFreeBlocks() {
  for (size_t i = 0; i < m_vecFree.size(); ++i) {
    const PackFreeBlock& block = m_vecFree[i];
    if (!FreeBlockInDataArea(block)) {
      Problem("free block " + Num(i + 1) + " (offset " + Num(block.dwOffset) + ", " + Num(block.dwSize) +
              " bytes) lies outside the data area (offsets 60 to " + Num(m_header.dwIndexOffset) + ")");
    }
  }
}

// Sorted by start, a span overlaps an earlier one exactly when it starts
// before the furthest end seen so far; that span is the one named.
void CPackVerifier::CheckOverlaps() {
  std::vector<CSpan> vecSpans;
  for (size_t i = 0; i < m_vecEntry.size(); ++i) {
    const PackEntry& entry = m_vecEntry[i];
    if (entry.dwStoredSize == 0 || !InDataArea(i)) continue;  // empty bytes occupy nothing
    vecSpans.push_back({entry.dwOffset, uint64_t{entry.dwOffset} + entry.dwStoredSize, EntryLabel(i)});
  }
  for (size_t i = 0; i < m_vecFree.size(); ++i) {
    const PackFreeBlock& block = m_vecFree[i];
    if (block.dwSize == 0 || !FreeBlockInDataArea(block)) continue;
    vecSpans.push_back(
        {block.dwOffset, uint64_t{block.dwOffset} + block.dwSize,
         "free block " + Num(i + 1) + " (offset " + Num(block.dwOffset) + ", " + Num(block.dwSize) + " bytes)"});
  }
  std::stable_sort(vecSpans.begin(), vecSpans.end(),
                   [](const CSpan& a, const CSpan& b) { return a.qwStart < b.qwStart; });
  const CSpan* pFurthest = nullptr;
  for (const CSpan& span : vecSpans) {
    if (pFurthest && span.qwStart < pFurthest->qwEnd) Problem(span.strLabel + " overlaps " + pFurthest->strLabel);
    if (!pFurthest || span.qwEnd > pFurthest->qwEnd) pFurthest = &span;
  }
}

void CPackVerifier::CheckTree() {
  const std::string strPrefix = m_strRoot + '\\';
  std::map<std::string, int> mapFiles;
  std::map<std::string, int> mapDirs;
  std::set<std::string> setParents;  // directories that hold records, the root left out
  for (const PackDirRecord& record : m_vecDir) {
    const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
    if (record.nKind != kPackDirKindFile && record.nKind != kPackDirKindDir) {
      Problem("directory-table record " + Quoted(strPath) + " has the unknown kind " + std::to_string(record.nKind));
      continue;
    }
    const std::string strLabel =
        (record.nKind == kPackDirKindFile ? "file record " : "directory record ") + Quoted(strPath);
    if (m_strRoot.empty() || strPath.size() <= strPrefix.size() ||
        strPath.compare(0, strPrefix.size(), strPrefix) != 0) {
      Problem(strLabel + " does not lie below the root " + Quoted(m_strRoot));
      continue;
    }
    if (!IsSafeEntryName(strPath)) Problem(strLabel + " is not a safe path");
    ++(record.nKind == kPackDirKindFile ? mapFiles : mapDirs)[strPath];
    const std::string strParent = strPath.substr(0, LastSeparator(strPath));
    if (strParent != m_strRoot) setParents.insert(strParent);
  }
  CheckTreeAgainstIndex(mapFiles, mapDirs, setParents);
}

void CPackVerifier::CheckTreeAgainstIndex(const std::map<std::string, int>& mapFiles,
                                          const std::map<std::string, int>& mapDirs,
                                          const std::set<std::string>& setParents) {
  for (const auto& item : mapFiles) {
    if (item.second > 1) {
      Problem("file record " + Quoted(item.first) + " appears " + std::to_string(item.second) +
              " times in the directory table");
    }
    if (!m_mapNameCount.count(item.first)) Problem("file record " + Quoted(item.first) + " names no entry");
    if (mapDirs.count(item.first)) Problem(Quoted(item.first) + " is recorded both as a file and as a directory");
  }
  for (const auto& item : mapDirs) {
    if (item.second > 1) {
      Problem("directory record " + Quoted(item.first) + " appears " + std::to_string(item.second) +
              " times in the directory table");
    }
  }
  for (const std::string& strParent : setParents) {
    if (!mapDirs.count(strParent)) {
      Problem("directory " + Quoted(strParent) + " holds records but has no directory record of its own");
    }
  }
  for (const auto& item : m_mapNameCount) {
    if (!mapFiles.count(item.first))
      Problem("entry " + Quoted(item.first) + " has no file record in the directory table");
  }
}

bool CPackVerifier::CheckEntryBytes(const VerifyProgress& fnProgress) {
  for (size_t i = 0; i < m_vecEntry.size(); ++i) {
    // Entries outside the data area were reported; their bytes are not the pack's.
    if (m_header.byCompressed != 0 && InDataArea(i) && !DecodeEntry(i)) return false;
    if (fnProgress) fnProgress(i + 1, m_vecEntry.size());
  }
  return true;
}

// One entry's stored and decoded bytes at a time; a size that cannot be
// allocated is reported instead of stopping the check.
bool CPackVerifier::DecodeEntry(size_t nIndex) {
  const PackEntry& entry = m_vecEntry[nIndex];
  if (entry.dwOrigSize > Lzma86MaxPlainSize(entry.dwStoredSize)) {
    Problem(EntryLabel(nIndex) + " claims " + Num(entry.dwOrigSize) + " bytes, more than " + Num(entry.dwStoredSize) +
            " stored bytes can decode to");
    return true;
  }
  std::unique_ptr<unsigned char[]> pbyStored(new (std::nothrow) unsigned char[entry.dwStoredSize + size_t{1}]);
  std::unique_ptr<unsigned char[]> pbyPlain(
      new (std::nothrow) unsigned char[static_cast<size_t>(entry.dwOrigSize) + kLzma86DecodeSlack]);
  if (!pbyStored || !pbyPlain) {
    Problem(EntryLabel(nIndex) + " cannot be decoded: not enough memory for its " + Num(entry.dwOrigSize) + " bytes");
    return true;
  }
  if (!ReadAt(entry.dwOffset, pbyStored.get(), entry.dwStoredSize)) return false;
  uint32_t dwLen = entry.dwOrigSize;
  const int nResult = LzmaUncompress(pbyStored.get(), entry.dwStoredSize, pbyPlain.get(), &dwLen);
  if (nResult != kLzmaOk || dwLen != entry.dwOrigSize) {
    Problem(EntryLabel(nIndex) + " does not decode: " + DecodeFailure(nResult, dwLen, entry.dwOrigSize));
  }
  return true;
}

bool VerifyPack(const char* pszPath, std::vector<std::string>& vecProblems, const VerifyProgress& fnProgress) {
  assert(NULL != pszPath);
  assert('\0' != pszPath[0]);
  if (!pszPath || !pszPath[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  CScopedHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  // A pack a merge is writing is not checked half way.
  CPackReadLock readLock;
  if (!readLock.Take(hFile.Get())) return false;
  uint64_t qwFileSize = 0;
  if (!FileSize(hFile.Get(), qwFileSize)) return false;
  // A check reads and never restores: what is on disk is half a merge.
  if (HasJournal(pszPath)) {
    vecProblems.push_back("a merge into the pack was interrupted: its undo journal " + Quoted(JournalPath(pszPath)) +
                          " lies beside it: the next open of the pack as a client puts back the pack as it was before "
                          "that merge, while a merge from it as an update never applies the journal and takes the "
                          "pack as it is");
  }
  CPackVerifier verifier(hFile.Get(), qwFileSize, vecProblems);
  return verifier.Run(fnProgress);
}
