// The undo journal of a merge.
//
// How a merge survives being interrupted at any write
// ---------------------------------------------------
// A merge changes the pack in place: blobs go over old slots, into free
// blocks and over the old index (appending starts where the index lies),
// then the index regions are rewritten and the header last. It also changes
// files beside the pack: the loose files it writes (entries outside the
// pack's tree), the loose files of entries it removes, and the record of the
// client's loose files. Interrupted half way, such a client is neither the
// old one nor the new one. So a merge runs in four steps:
//
//   1. Plan. The placement of every changed and new entry is decided first,
//      in memory, by the same rules in the same order as the writes will
//      follow (for a compressed pack fed plain entries the encoder runs once
//      to learn each stored size; it is deterministic, so the write step
//      gets the same bytes). The plan gives every byte range the merge will
//      write: the blobs, the index regions behind the data area, and the
//      header; and every file beside the pack it will write or delete.
//   2. Journal. The present bytes of those ranges that lie inside the
//      present file (appends past its end need nothing but the old size),
//      the old size, the old header, the header and the size the merge will
//      leave, the pack's identity, and the present contents of every file
//      the merge will write or delete (or that it is absent), with the
//      directories it may create, go into <pack>.journal.new, protected by
//      a CRC-32. The file is flushed and only then renamed to
//      <pack>.journal (with write-through, so the rename is on disk when
//      the call returns). A journal under its final name is therefore
//      always complete; until it exists nothing has been touched, so a torn
//      <pack>.journal.new is simply ignored.
//   3. Write. The blobs are written into the pack, and each loose file's
//      new contents into a staged file beside it (packstage.h), complete
//      and flushed; then the index regions and the header, and the pack is
//      flushed.
//   4. Commit. The staged files are moved into place, the loose files of
//      removed entries deleted, the record replaced, each durably; then the
//      journal is removed.
//
// Any failure in steps 3 and 4 (a stream that does not decode, a full disk,
// a loose file that cannot be written or moved) and any interruption (a
// killed process, a power cut that loses whatever was not flushed and may
// leave the last write torn) leaves the journal in place. Restoring writes
// the saved ranges back, cuts the file to its old size and flushes it, puts
// back each listed file's saved contents (or deletes it when it was absent),
// removes the staged files and, when empty, the directories the merge
// created, then removes the journal; CPackFile::Open does that before it
// reads a pack, and a failed merge does it at once. Restoring is
// idempotent, so a restore that is itself interrupted is simply done again
// by the next open.
//
// Since the pack is flushed and every file beside it is in place on disk
// before the journal is removed, the only outcomes an interruption can leave
// are: the journal exists (the next open gives exactly the old pack and the
// old files) or it does not (the pack and the files are exactly the new
// ones). The removal is the merge's commit. Like any change to a directory
// it may be lost in a power cut until the directory is synced, so it is
// synced (FlushDirectoryOf) before the merge returns: a merge that returned
// stays merged, whatever is written after it (version.ver). A removal lost
// earlier brings the journal back, and so the old client: still one of the
// two. A restore ends the same way, so a restored pack does not get its
// journal back either.
//
// A journal belongs to one file. It could outlive its pack: the pack
// replaced after a crash (a build or a compaction moves a new file over the
// name; both restore a journal first, but another program need not). Before
// restoring, the file under the pack's name must be the one the journal was
// made for (the same volume and file index), its size one the merge could
// have left (between the old and the new size: writes only extend the file
// until the save cuts it to the new size), and the header on disk the old
// header or the new one (or, torn, a mix of the two byte by byte). Anything
// else is not the journal's pack: the journal is dropped and nothing is
// touched. (A journal of the first layout, written before journals knew
// their pack, is held to its headers alone.)
//
// Cost: one extra write of the bytes the merge overwrites (the index and the
// slots replaced in place; appended blobs cost nothing) and of the files
// beside the pack it replaces or deletes (usually none: loose files are
// mostly new), one flush of the journal and one of the pack per merge, two
// syncs of the pack's directory (the journal's rename and its removal), and
// memory for two 1 MiB buffers.
//
// File layout (little-endian):
//   CJournalHeader                 152 bytes (below)
//   CJournalPack                    24 bytes: the pack's identity, its new size
//   per range, ascending and disjoint, inside [0, qwOldSize):
//     uint64 offset, uint32 length, then the saved bytes
//   per file, in the order the merge gave them:
//     CFileHead (16 bytes), the absolute path, then the saved bytes
//   uint32 CRC-32 of every byte before it
// The first layout ("pakundo1") has no CJournalPack and no files.
#include "tools/filepacktools_lib/packjournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/dir_sync.h"
#include "platform/durable_replace.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/record_writer.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/packstage.h"

namespace {

constexpr char kJournalMagic[8] = {'p', 'a', 'k', 'u', 'n', 'd', 'o', '2'};
constexpr char kFirstLayoutMagic[8] = {'p', 'a', 'k', 'u', 'n', 'd', 'o', '1'};
constexpr char kJournalSuffix[] = ".journal";
constexpr char kJournalTempSuffix[] = ".journal.new";
constexpr uint32_t kRangeHeadSize = 12;
constexpr uint32_t kCrcSize = 4;
constexpr size_t kCopyChunk = 1 << 20;

struct CJournalHeader {
  char szMagic[8];
  uint64_t qwOldSize;
  uint64_t qwBodySize;  // the range and file records, heads and bytes
  uint32_t dwRangeCount;
  uint32_t dwFileCount;  // 0 in the first layout
  PackHeader oldHeader;
  PackHeader newHeader;
};
static_assert(sizeof(CJournalHeader) == 152, "journal header layout");

// The pack a journal belongs to: the file's identity, and the size the
// merge leaves (the old size is in the header).
struct CJournalPack {
  uint64_t qwVolume;
  uint64_t qwIndex;
  uint64_t qwNewSize;
};
static_assert(sizeof(CJournalPack) == 24, "journal pack layout");

enum : uint8_t { kFileRecord = 1, kDirectoryRecord = 2 };

// A file record: a file the merge writes or deletes, with its saved
// contents when it existed (qwSize bytes follow the path), or a directory
// the merge may create.
struct CFileHead {
  uint8_t byKind;
  uint8_t byExisted;
  uint16_t wPathLength;
  uint32_t dwReserved;
  uint64_t qwSize;
};
static_assert(sizeof(CFileHead) == 16, "journal file record layout");

void PutRangeHead(unsigned char* pbyHead, uint64_t qwOffset, uint32_t dwLength) {
  std::memcpy(pbyHead, &qwOffset, 8);
  std::memcpy(pbyHead + 8, &dwLength, 4);
}

uint32_t Crc(uint32_t dwCrc, const void* pData, size_t nSize) {
  return static_cast<uint32_t>(crc32(dwCrc, static_cast<const Bytef*>(pData), static_cast<uInt>(nSize)));
}

bool ReadAt(HANDLE hFile, uint64_t qwOffset, void* pData, uint64_t qwSize) {
  LARGE_INTEGER liPos;
  return SeekFile(hFile, liPos, qwOffset) && ReadAll(hFile, pData, qwSize);
}

bool IsMissing(DWORD dwError) { return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND; }

// Removes a directory a merge may have made, durably, unless the player
// has put something into it since (or it was never made).
bool RemoveCreatedDirectory(const std::string& strPath) {
  if (RemoveDirectoryA(strPath.c_str())) return FlushDirectoryOf(strPath.c_str()) != FALSE;
  const DWORD dwError = GetLastError();
  return dwError == ERROR_DIR_NOT_EMPTY || dwError == ERROR_DIRECTORY || IsMissing(dwError);
}

bool IsDirectory(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The ranges inside [0, qwLimit), sorted, with overlapping and touching
// ones joined.
std::vector<CWriteRange> Coalesce(std::vector<CWriteRange> vecRanges, uint64_t qwLimit) {
  std::vector<CWriteRange> vecOut;
  std::sort(vecRanges.begin(), vecRanges.end(),
            [](const CWriteRange& a, const CWriteRange& b) { return a.qwOffset < b.qwOffset; });
  for (const CWriteRange& range : vecRanges) {
    if (range.qwOffset >= qwLimit || range.qwLength == 0) continue;
    const uint64_t qwEnd = std::min(qwLimit, range.qwOffset + range.qwLength);
    if (!vecOut.empty() && range.qwOffset <= vecOut.back().qwOffset + vecOut.back().qwLength) {
      CWriteRange& last = vecOut.back();
      last.qwLength = std::max(last.qwOffset + last.qwLength, qwEnd) - last.qwOffset;
    } else {
      vecOut.push_back({range.qwOffset, qwEnd - range.qwOffset});
    }
  }
  return vecOut;
}

std::unique_ptr<unsigned char[]> CopyBuffer() {
  std::unique_ptr<unsigned char[]> pbyBuffer(new (std::nothrow) unsigned char[kCopyChunk]);
  if (!pbyBuffer) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return pbyBuffer;
}

// A path a journal may name: absolute, in its plain form, and with room for
// its staged name.
bool IsJournalPath(const std::string& strPath) {
  return !strPath.empty() && strPath.find('\0') == std::string::npos && StagedPath(strPath).size() < MAX_PATH &&
         AbsolutePath(strPath, std::string()) == strPath;
}

// ---- Writing ----------------------------------------------------------------

// A file record as it will be written, with the file held open (shared
// with readers only) from its measuring to its copy.
struct CFileOut {
  CFileHead head;
  std::string strPath;
  CScopedHandle hFile;
};

// The records of what files lists, as things are now: a file that exists
// is saved, one that does not is noted as absent; a directory is listed
// only when it does not exist yet.
bool PrepareFiles(const CJournalFiles& files, std::vector<CFileOut>& vecOut) {
  for (const std::string& strPath : files.vecFiles) {
    CFileOut out;
    out.head = {kFileRecord, 0, 0, 0, 0};
    out.strPath = strPath;
    const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES && !IsMissing(GetLastError())) return false;
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
      if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_DIRECTORY);
        return false;
      }
      out.hFile.Reset(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!out.hFile || !FileSize(out.hFile.Get(), out.head.qwSize)) return false;
      out.head.byExisted = 1;
    }
    vecOut.push_back(std::move(out));
  }
  for (const std::string& strPath : files.vecDirectories) {
    if (GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!IsMissing(GetLastError())) return false;
    CFileOut out;
    out.head = {kDirectoryRecord, 0, 0, 0, 0};
    out.strPath = strPath;
    vecOut.push_back(std::move(out));
  }
  for (CFileOut& out : vecOut) {
    if (!IsJournalPath(out.strPath)) {
      SetLastError(ERROR_BAD_PATHNAME);
      return false;
    }
    out.head.wPathLength = static_cast<uint16_t>(out.strPath.size());
  }
  return true;
}

// Appends to the journal being written, keeping its CRC.
class CJournalOut {
 public:
  CJournalOut(HANDLE hFile, LARGE_INTEGER& liPos) : m_writer(hFile, liPos, 0) {}
  void Add(const void* pData, size_t nSize) {
    m_dwCrc = Crc(m_dwCrc, pData, nSize);
    m_writer.Add(pData, nSize);
  }
  // Copies qwSize bytes of hFrom from its offset qwOffset.
  bool Copy(HANDLE hFrom, uint64_t qwOffset, uint64_t qwSize, unsigned char* pbyBuffer) {
    for (uint64_t qwDone = 0; qwDone < qwSize;) {
      const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, qwSize - qwDone));
      if (!ReadAt(hFrom, qwOffset + qwDone, pbyBuffer, nChunk)) return false;
      Add(pbyBuffer, nChunk);
      qwDone += nChunk;
    }
    return true;
  }
  bool Finish() {
    const uint32_t dwCrc = m_dwCrc;
    m_writer.Add(&dwCrc, sizeof(dwCrc));
    return m_writer.Finish();
  }

 private:
  CRecordWriter m_writer;
  uint32_t m_dwCrc = 0;
};

bool WriteJournalBody(HANDLE hJournal, HANDLE hPack, const CJournalHeader& header, const CJournalPack& pack,
                      const std::vector<CWriteRange>& vecRanges, const std::vector<CFileOut>& vecFiles) {
  std::unique_ptr<unsigned char[]> pbyBuffer = CopyBuffer();
  if (!pbyBuffer) return false;
  LARGE_INTEGER liPos;
  CJournalOut out(hJournal, liPos);
  out.Add(&header, sizeof(header));
  out.Add(&pack, sizeof(pack));
  for (const CWriteRange& range : vecRanges) {
    unsigned char byHead[kRangeHeadSize];
    PutRangeHead(byHead, range.qwOffset, static_cast<uint32_t>(range.qwLength));
    out.Add(byHead, sizeof(byHead));
    if (!out.Copy(hPack, range.qwOffset, range.qwLength, pbyBuffer.get())) return false;
  }
  for (const CFileOut& file : vecFiles) {
    out.Add(&file.head, sizeof(file.head));
    out.Add(file.strPath.data(), file.strPath.size());
    if (file.head.byExisted && !out.Copy(file.hFile.Get(), 0, file.head.qwSize, pbyBuffer.get())) return false;
  }
  return out.Finish();
}

// ---- Reading and restoring ------------------------------------------------

// Reads a journal back, front to end, keeping the CRC of what it read.
class CJournalIn {
 public:
  CJournalIn(HANDLE hFile, uint64_t qwFileSize) : m_hFile(hFile), m_qwFileSize(qwFileSize) {}

  // Checks the whole file: layout, bounds and CRC. Fills the header and,
  // for a journal that knows its pack, pack (bKnowsPack).
  // kReadFailed means the file could not be read, not that it is bad.
  enum class Result { kValid, kDamaged, kReadFailed };
  Result Check(CJournalHeader& header, CJournalPack& pack, bool& bKnowsPack, uint64_t& qwRangesEnd);

  // After a successful Check: writes every saved range into hPack, then
  // puts back the listed files.
  bool ApplyRanges(HANDLE hPack, const CJournalHeader& header);
  bool RestoreFiles(const CJournalHeader& header);

 private:
  bool Read(void* pData, uint64_t qwSize);
  bool Skip(uint64_t qwSize);
  Result CheckRanges(const CJournalHeader& header, uint64_t& qwConsumed, uint64_t& qwRangesEnd);
  Result CheckFiles(const CJournalHeader& header, uint64_t qwConsumed);
  bool RestoreFile(const std::string& strPath, const CFileHead& head, uint64_t qwSaved);
  bool HoldsSaved(const std::string& strPath, uint64_t qwSize, uint64_t qwSaved, bool& bSame);
  bool WriteSaved(const std::string& strPath, uint64_t qwSize, uint64_t qwSaved);

  HANDLE m_hFile;
  uint64_t m_qwFileSize;
  uint64_t m_qwBodyStart = sizeof(CJournalHeader);
  uint64_t m_qwFilesStart = sizeof(CJournalHeader);
  LARGE_INTEGER m_liPos;
  uint32_t m_dwCrc = 0;
  std::unique_ptr<unsigned char[]> m_pbyBuffer;
  std::unique_ptr<unsigned char[]> m_pbyCompare;
};

bool CJournalIn::Read(void* pData, uint64_t qwSize) {
  if (!ReadAll(m_hFile, pData, qwSize)) return false;
  m_dwCrc = Crc(m_dwCrc, pData, static_cast<size_t>(qwSize));
  return true;
}

bool CJournalIn::Skip(uint64_t qwSize) {
  for (uint64_t qwDone = 0; qwDone < qwSize;) {
    const uint64_t qwChunk = std::min<uint64_t>(kCopyChunk, qwSize - qwDone);
    if (!Read(m_pbyBuffer.get(), qwChunk)) return false;
    qwDone += qwChunk;
  }
  return true;
}

CJournalIn::Result CJournalIn::Check(CJournalHeader& header, CJournalPack& pack, bool& bKnowsPack,
                                     uint64_t& qwRangesEnd) {
  if (m_qwFileSize < sizeof(header) + kCrcSize) return Result::kDamaged;
  m_pbyBuffer = CopyBuffer();
  if (!m_pbyBuffer || !SeekFile(m_hFile, m_liPos, 0) || !Read(&header, sizeof(header))) return Result::kReadFailed;
  bKnowsPack = std::memcmp(header.szMagic, kJournalMagic, sizeof(kJournalMagic)) == 0;
  const bool bFirstLayout = std::memcmp(header.szMagic, kFirstLayoutMagic, sizeof(kFirstLayoutMagic)) == 0;
  if (!bKnowsPack && (!bFirstLayout || header.dwFileCount != 0)) return Result::kDamaged;
  m_qwBodyStart = sizeof(header) + (bKnowsPack ? sizeof(pack) : 0);
  if (m_qwFileSize < m_qwBodyStart + kCrcSize || header.qwOldSize < kPackHeaderSize || header.qwOldSize > UINT32_MAX ||
      header.qwBodySize != m_qwFileSize - m_qwBodyStart - kCrcSize ||
      header.dwRangeCount > header.qwBodySize / kRangeHeadSize ||
      header.dwFileCount > header.qwBodySize / sizeof(CFileHead)) {
    return Result::kDamaged;
  }
  if (bKnowsPack && !Read(&pack, sizeof(pack))) return Result::kReadFailed;
  uint64_t qwConsumed = 0;
  Result result = CheckRanges(header, qwConsumed, qwRangesEnd);
  m_qwFilesStart = m_qwBodyStart + qwConsumed;
  if (result == Result::kValid) result = CheckFiles(header, qwConsumed);
  if (result != Result::kValid) return result;
  const uint32_t dwCrc = m_dwCrc;
  uint32_t dwStored = 0;
  if (!Read(&dwStored, sizeof(dwStored))) return Result::kReadFailed;
  return dwStored == dwCrc ? Result::kValid : Result::kDamaged;
}

CJournalIn::Result CJournalIn::CheckRanges(const CJournalHeader& header, uint64_t& qwConsumed, uint64_t& qwRangesEnd) {
  qwRangesEnd = 0;
  for (uint32_t i = 0; i < header.dwRangeCount; ++i) {
    unsigned char byHead[kRangeHeadSize];
    if (qwConsumed + kRangeHeadSize > header.qwBodySize) return Result::kDamaged;
    if (!Read(byHead, sizeof(byHead))) return Result::kReadFailed;
    uint64_t qwOffset = 0;
    uint32_t dwLength = 0;
    std::memcpy(&qwOffset, byHead, 8);
    std::memcpy(&dwLength, byHead + 8, 4);
    qwConsumed += kRangeHeadSize;
    if (dwLength == 0 || qwOffset < qwRangesEnd || qwOffset > header.qwOldSize ||
        dwLength > header.qwOldSize - qwOffset || dwLength > header.qwBodySize - qwConsumed) {
      return Result::kDamaged;
    }
    if (!Skip(dwLength)) return Result::kReadFailed;
    qwConsumed += dwLength;
    qwRangesEnd = qwOffset + dwLength;
  }
  return Result::kValid;
}

CJournalIn::Result CJournalIn::CheckFiles(const CJournalHeader& header, uint64_t qwConsumed) {
  for (uint32_t i = 0; i < header.dwFileCount; ++i) {
    CFileHead head;
    if (qwConsumed + sizeof(head) > header.qwBodySize) return Result::kDamaged;
    if (!Read(&head, sizeof(head))) return Result::kReadFailed;
    qwConsumed += sizeof(head);
    const bool bFile = head.byKind == kFileRecord;
    if ((!bFile && head.byKind != kDirectoryRecord) || head.byExisted > 1 || head.dwReserved != 0 ||
        (!head.byExisted && head.qwSize != 0) || (!bFile && head.byExisted) || head.wPathLength == 0 ||
        head.wPathLength >= MAX_PATH || head.wPathLength > header.qwBodySize - qwConsumed) {
      return Result::kDamaged;
    }
    std::string strPath(head.wPathLength, '\0');
    if (!Read(&strPath[0], strPath.size())) return Result::kReadFailed;
    qwConsumed += strPath.size();
    if (!IsJournalPath(strPath) || head.qwSize > header.qwBodySize - qwConsumed) return Result::kDamaged;
    if (!Skip(head.qwSize)) return Result::kReadFailed;
    qwConsumed += head.qwSize;
  }
  return qwConsumed == header.qwBodySize ? Result::kValid : Result::kDamaged;
}

bool CJournalIn::ApplyRanges(HANDLE hPack, const CJournalHeader& header) {
  if (!SeekFile(m_hFile, m_liPos, m_qwBodyStart)) return false;
  LARGE_INTEGER liPackPos;
  for (uint32_t i = 0; i < header.dwRangeCount; ++i) {
    unsigned char byHead[kRangeHeadSize];
    if (!ReadAll(m_hFile, byHead, sizeof(byHead))) return false;
    uint64_t qwOffset = 0;
    uint32_t dwLength = 0;
    std::memcpy(&qwOffset, byHead, 8);
    std::memcpy(&dwLength, byHead + 8, 4);
    if (!SeekFile(hPack, liPackPos, qwOffset)) return false;
    for (uint64_t qwDone = 0; qwDone < dwLength;) {
      const uint64_t qwChunk = std::min<uint64_t>(kCopyChunk, dwLength - qwDone);
      if (!ReadAll(m_hFile, m_pbyBuffer.get(), qwChunk) || !WriteAll(hPack, m_pbyBuffer.get(), qwChunk)) return false;
      qwDone += qwChunk;
    }
  }
  return true;
}

// Files first, each from its record (its saved bytes follow its path),
// then the directories the merge may have made, the deepest first.
bool CJournalIn::RestoreFiles(const CJournalHeader& header) {
  std::vector<std::string> vecDirectories;
  uint64_t qwAt = m_qwFilesStart;
  for (uint32_t i = 0; i < header.dwFileCount; ++i) {
    CFileHead head;
    if (!ReadAt(m_hFile, qwAt, &head, sizeof(head))) return false;
    std::string strPath(head.wPathLength, '\0');
    if (!ReadAll(m_hFile, &strPath[0], strPath.size())) return false;
    const uint64_t qwSaved = qwAt + sizeof(head) + strPath.size();
    qwAt = qwSaved + head.qwSize;
    if (head.byKind == kDirectoryRecord) {
      vecDirectories.push_back(strPath);
    } else if (!RestoreFile(strPath, head, qwSaved)) {
      return false;
    }
  }
  for (auto it = vecDirectories.rbegin(); it != vecDirectories.rend(); ++it) {
    if (!RemoveCreatedDirectory(*it)) return false;
  }
  return true;
}

// A file that holds its saved bytes already (never replaced, or restored
// before) is left alone, so that one the merge could not replace, a
// read-only one say, does not stop the restore.
bool CJournalIn::RestoreFile(const std::string& strPath, const CFileHead& head, uint64_t qwSaved) {
  if (head.byExisted) {
    bool bSame = false;
    if (!HoldsSaved(strPath, head.qwSize, qwSaved, bSame)) return false;
    if (!bSame && !WriteSaved(strPath, head.qwSize, qwSaved)) return false;
  } else if (!IsDirectory(strPath) && !RemoveDurably(strPath)) {
    return false;  // (a directory there is no file of the merge's; if it made it, it goes below)
  }
  return RemoveDurably(StagedPath(strPath));
}

bool CJournalIn::HoldsSaved(const std::string& strPath, uint64_t qwSize, uint64_t qwSaved, bool& bSame) {
  bSame = false;
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return IsMissing(GetLastError());
  uint64_t qwFileSize = 0;
  if (!FileSize(hFile.Get(), qwFileSize)) return false;
  if (qwFileSize != qwSize) return true;
  if (!m_pbyCompare) m_pbyCompare = CopyBuffer();
  if (!m_pbyCompare) return false;
  for (uint64_t qwDone = 0; qwDone < qwSize;) {
    const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, qwSize - qwDone));
    if (!ReadAt(m_hFile, qwSaved + qwDone, m_pbyBuffer.get(), nChunk) ||
        !ReadAll(hFile.Get(), m_pbyCompare.get(), nChunk)) {
      return false;
    }
    if (std::memcmp(m_pbyBuffer.get(), m_pbyCompare.get(), nChunk) != 0) return true;
    qwDone += nChunk;
  }
  bSame = true;
  return true;
}

// By the durable replace, staged under the file's staging name; true only
// once the move is on disk.
bool CJournalIn::WriteSaved(const std::string& strPath, uint64_t qwSize, uint64_t qwSaved) {
  const std::string strStaged = StagedPath(strPath);
  CScopedHandle hStaged = CreateReplacement(strStaged, CREATE_ALWAYS);
  if (!hStaged) return false;
  bool bWritten = true;
  for (uint64_t qwDone = 0; bWritten && qwDone < qwSize;) {
    const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, qwSize - qwDone));
    bWritten = ReadAt(m_hFile, qwSaved + qwDone, m_pbyBuffer.get(), nChunk) &&
               WriteAll(hStaged.Get(), m_pbyBuffer.get(), nChunk);
    qwDone += nChunk;
  }
  return CompleteReplacement(bWritten, hStaged, strStaged, strPath) && GetLastError() == ERROR_SUCCESS;
}

// True when the pack on disk is the one the journal was made for: each byte
// of its header is that of the old header or of the new one.
bool HeaderMatches(HANDLE hPack, uint64_t qwPackSize, const CJournalHeader& header) {
  unsigned char byOnDisk[kPackHeaderSize];
  if (qwPackSize < kPackHeaderSize || !ReadAt(hPack, 0, byOnDisk, sizeof(byOnDisk))) return false;
  const unsigned char* pbyOld = reinterpret_cast<const unsigned char*>(&header.oldHeader);
  const unsigned char* pbyNew = reinterpret_cast<const unsigned char*>(&header.newHeader);
  for (uint32_t i = 0; i < kPackHeaderSize; ++i) {
    if (byOnDisk[i] != pbyOld[i] && byOnDisk[i] != pbyNew[i]) return false;
  }
  return true;
}

// The same file the journal was made for, at a size the merge could have
// left it at (or a restore, which cuts it to the old size first).
bool PackMatches(HANDLE hPack, uint64_t qwPackSize, const CJournalHeader& header, const CJournalPack& pack,
                 bool& bMatches) {
  CFileIdentity identity;
  if (!GetFileIdentity(hPack, identity)) return false;
  const uint64_t qwLow = std::min(header.qwOldSize, pack.qwNewSize);
  const uint64_t qwHigh = std::max(header.qwOldSize, pack.qwNewSize);
  bMatches = identity.qwVolume == pack.qwVolume && identity.qwIndex == pack.qwIndex && qwPackSize >= qwLow &&
             qwPackSize <= qwHigh;
  return true;
}

// Restores the pack from a checked journal. False with the last error set;
// bStale when the journal is not this pack's (nothing is touched then).
bool ApplyJournal(const std::string& strPackPath, CJournalIn& journal, const CJournalHeader& header,
                  const CJournalPack* pPack, uint64_t qwRangesEnd, bool& bStale) {
  CScopedHandle hPack(CreateFileA(strPackPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hPack) {
    bStale = IsMissing(GetLastError());
    return bStale;
  }
  uint64_t qwPackSize = 0;
  if (!FileSize(hPack.Get(), qwPackSize)) return false;
  bool bPackMatches = true;
  if (pPack && !PackMatches(hPack.Get(), qwPackSize, header, *pPack, bPackMatches)) return false;
  // Until the restore ends, the file is at least as long as the old pack
  // or the journal holds everything beyond its end: a journal that would
  // make the file grow from nothing is not this pack's.
  if (!bPackMatches || !HeaderMatches(hPack.Get(), qwPackSize, header) ||
      header.qwOldSize > std::max(qwPackSize, qwRangesEnd)) {
    bStale = true;
    return true;
  }
  LARGE_INTEGER liPos;
  return SeekFile(hPack.Get(), liPos, header.qwOldSize) && SetEndOfFile(hPack.Get()) &&
         journal.ApplyRanges(hPack.Get(), header) && FlushFileBuffers(hPack.Get());
}

// Drops a journal that cannot be used; nothing else is touched.
bool DropJournal(const std::string& strJournal) {
  DeleteFileA(strJournal.c_str());
  SetLastError(ERROR_SUCCESS);
  return true;
}

// Restores with the merge lock held, or where no merge can run.
bool Restore(const std::string& strPackPath) {
  // A journal that never got its final name was never used.
  const std::string strTemp = JournalTempPath(strPackPath);
  if (GetFileAttributesA(strTemp.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(strTemp.c_str());
  const std::string strJournal = JournalPath(strPackPath);
  if (!HasJournal(strPackPath)) return true;
  bool bStale = false;
  bool bOk = false;
  {
    CScopedHandle hJournal(CreateFileA(strJournal.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hJournal) return false;
    uint64_t qwSize = 0;
    if (!FileSize(hJournal.Get(), qwSize)) return false;
    CJournalIn journal(hJournal.Get(), qwSize);
    CJournalHeader header;
    CJournalPack pack;
    bool bKnowsPack = false;
    uint64_t qwRangesEnd = 0;
    const CJournalIn::Result result = journal.Check(header, pack, bKnowsPack, qwRangesEnd);
    if (result == CJournalIn::Result::kReadFailed) return false;
    if (result == CJournalIn::Result::kDamaged) bStale = true;
    if (!bStale) {
      bOk = ApplyJournal(strPackPath, journal, header, bKnowsPack ? &pack : nullptr, qwRangesEnd, bStale);
    }
    bOk = bOk && (bStale || journal.RestoreFiles(header));
  }
  if (bStale) return DropJournal(strJournal);
  return bOk && RemoveJournal(strPackPath);
}

}  // namespace

std::string JournalPath(const std::string& strPackPath) { return strPackPath + kJournalSuffix; }

std::string JournalTempPath(const std::string& strPackPath) { return strPackPath + kJournalTempSuffix; }

bool WriteJournal(const std::string& strPackPath, HANDLE hPack, const PackHeader& newHeader, uint64_t qwNewSize,
                  const std::vector<CWriteRange>& vecRanges, const CJournalFiles& files) {
  const std::string strTemp = JournalTempPath(strPackPath);
  const std::string strFinal = JournalPath(strPackPath);
  if (strTemp.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  CJournalHeader header;
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.szMagic, kJournalMagic, sizeof(kJournalMagic));
  if (!FileSize(hPack, header.qwOldSize)) return false;
  if (header.qwOldSize < kPackHeaderSize || !ReadAt(hPack, 0, &header.oldHeader, sizeof(header.oldHeader))) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  header.newHeader = newHeader;
  CFileIdentity identity;
  if (!GetFileIdentity(hPack, identity)) return false;
  const CJournalPack pack = {identity.qwVolume, identity.qwIndex, qwNewSize};
  const std::vector<CWriteRange> vecSaved = Coalesce(vecRanges, header.qwOldSize);
  header.dwRangeCount = static_cast<uint32_t>(vecSaved.size());
  for (const CWriteRange& range : vecSaved) header.qwBodySize += kRangeHeadSize + range.qwLength;
  std::vector<CFileOut> vecFiles;
  if (!PrepareFiles(files, vecFiles)) return false;
  header.dwFileCount = static_cast<uint32_t>(vecFiles.size());
  for (const CFileOut& file : vecFiles) header.qwBodySize += sizeof(file.head) + file.strPath.size() + file.head.qwSize;

  CScopedHandle hJournal = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hJournal) return false;
  const bool bWritten = WriteJournalBody(hJournal.Get(), hPack, header, pack, vecSaved, vecFiles);
  vecFiles.clear();  // the saved files are let go before anything replaces them
  if (!CompleteReplacement(bWritten, hJournal, strTemp, strFinal)) return false;
  if (GetLastError() == ERROR_SUCCESS) return true;
  // In place but maybe not on disk: the pack must not be touched on the
  // strength of it.
  DeleteKeepingError(strFinal);
  return false;
}

bool RestoreFromJournal(const std::string& strPackPath) {
  if (!HasJournal(strPackPath) && GetFileAttributesA(JournalTempPath(strPackPath).c_str()) == INVALID_FILE_ATTRIBUTES)
    return true;
  CPackLock lock;
  if (!lock.Take(strPackPath) && lock.Busy()) return false;
  return Restore(strPackPath);
}

bool RestoreFromJournal(const std::string& strPackPath, const CPackLock& /*held*/) { return Restore(strPackPath); }

// Once the file is gone the merge has committed, durably or not.
bool RemoveJournal(const std::string& strPackPath) {
  const std::string strJournal = JournalPath(strPackPath);
  if (!DeleteFileA(strJournal.c_str())) return false;
  if (!FlushDirectoryOf(strJournal.c_str())) return true;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HasJournal(const std::string& strPackPath) {
  return GetFileAttributesA(JournalPath(strPackPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}
