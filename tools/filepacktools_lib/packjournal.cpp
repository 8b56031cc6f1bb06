// The undo journal of a merge.
//
// How a merge survives being interrupted at any write
// ---------------------------------------------------
// A merge changes the pack in place: blobs go over old slots, into free
// blocks and over the old index (appending starts where the index lies),
// then the index regions are rewritten and the header last. Interrupted half
// way, such a file is neither the old pack nor the new one. So a merge runs
// in three steps:
//
//   1. Plan. The placement of every changed and new entry is decided first,
//      in memory, by the same rules in the same order as the writes will
//      follow (for a compressed pack fed plain entries the encoder runs once
//      to learn each stored size; it is deterministic, so the write step
//      gets the same bytes). The plan gives every byte range the merge will
//      write: the blobs, the index regions behind the data area, and the
//      header.
//   2. Journal. The present bytes of those ranges that lie inside the
//      present file (appends past its end need nothing but the old size),
//      the old size, the old header and the header the merge will write go
//      into <pack>.journal.new, protected by a CRC-32. The file is flushed
//      and only then renamed to <pack>.journal (with write-through, so the
//      rename is on disk when the call returns). A journal under its final
//      name is therefore always complete; until it exists the pack has not
//      been touched, so a torn <pack>.journal.new is simply ignored.
//   3. Write. The blobs, the index regions and the header are written, the
//      pack is flushed, and the journal is removed.
//
// Any failure in step 3 (a stream that does not decode, a full disk, a
// loose file that cannot be written) and any interruption (a killed process,
// a power cut that loses whatever was not flushed and may leave the last
// write torn) leaves the journal in place. Restoring writes the saved ranges
// back, cuts the file to its old size and flushes it, then removes the
// journal; CPackFile::Open does that before it reads a pack, and a failed
// merge does it at once. Restoring is idempotent, so a restore that is
// itself interrupted is simply done again by the next open.
//
// Since the pack is flushed before the journal is removed, the only
// outcomes an interruption can leave are: the journal exists (the next open
// gives exactly the old pack) or it does not (the pack is exactly the new
// one). The removal is the merge's commit. Like any change to a directory
// it may be lost in a power cut until the directory is synced, so it is
// synced (FlushDirectoryOf) before the merge returns: a merge that returned
// stays merged, whatever is written after it (version.ver). A removal lost
// earlier brings the journal back, and so the old pack: still one of the
// two. A restore ends the same way, so a restored pack does not get its
// journal back either.
//
// A journal could outlive its pack (the pack replaced by hand after a
// crash). Before restoring, the header on disk is compared with the two
// headers saved: until the merge's last write it is the old header, then
// the new one (or, torn, a mix of the two byte by byte). A pack whose header
// is anything else is not the one the journal was made for: the journal is
// dropped and the pack left alone.
//
// Cost: one extra write of the bytes the merge overwrites (the index and the
// slots replaced in place; appended blobs cost nothing), one flush of the
// journal and one of the pack per merge, two syncs of the pack's directory
// (the journal's rename and its removal), and memory for one 1 MiB buffer.
//
// File layout (little-endian):
//   CJournalHeader                 152 bytes (below)
//   per range, ascending and disjoint, inside [0, qwOldSize):
//     uint64 offset, uint32 length, then the saved bytes
//   uint32 CRC-32 of every byte before it
#include "tools/filepacktools_lib/packjournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/dir_sync.h"
#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "platform/record_writer.h"
#include "platform/scoped_handle.h"

namespace {

constexpr char kJournalMagic[8] = {'p', 'a', 'k', 'u', 'n', 'd', 'o', '1'};
constexpr char kJournalSuffix[] = ".journal";
constexpr char kJournalTempSuffix[] = ".journal.new";
constexpr uint32_t kRangeHeadSize = 12;
constexpr uint32_t kCrcSize = 4;
constexpr size_t kCopyChunk = 1 << 20;

struct CJournalHeader {
  char szMagic[8];
  uint64_t qwOldSize;
  uint64_t qwBodySize;  // the range records, heads and bytes
  uint32_t dwRangeCount;
  uint32_t dwReserved;
  PackHeader oldHeader;
  PackHeader newHeader;
};
static_assert(sizeof(CJournalHeader) == 152, "journal header layout");

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

// Appends to the journal being written, keeping its CRC.
class CJournalOut {
 public:
  CJournalOut(HANDLE hFile, LARGE_INTEGER& liPos) : m_writer(hFile, liPos, 0) {}
  void Add(const void* pData, size_t nSize) {
    m_dwCrc = Crc(m_dwCrc, pData, nSize);
    m_writer.Add(pData, nSize);
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

bool WriteJournalBody(HANDLE hJournal, HANDLE hPack, const CJournalHeader& header,
                      const std::vector<CWriteRange>& vecRanges) {
  std::unique_ptr<unsigned char[]> pbyBuffer = CopyBuffer();
  if (!pbyBuffer) return false;
  LARGE_INTEGER liPos;
  CJournalOut out(hJournal, liPos);
  out.Add(&header, sizeof(header));
  for (const CWriteRange& range : vecRanges) {
    unsigned char byHead[kRangeHeadSize];
    PutRangeHead(byHead, range.qwOffset, static_cast<uint32_t>(range.qwLength));
    out.Add(byHead, sizeof(byHead));
    for (uint64_t qwDone = 0; qwDone < range.qwLength;) {
      const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, range.qwLength - qwDone));
      if (!ReadAt(hPack, range.qwOffset + qwDone, pbyBuffer.get(), nChunk)) return false;
      out.Add(pbyBuffer.get(), nChunk);
      qwDone += nChunk;
    }
  }
  return out.Finish();
}

// Reads a journal back, front to end, keeping the CRC of what it read.
class CJournalIn {
 public:
  CJournalIn(HANDLE hFile, uint64_t qwFileSize) : m_hFile(hFile), m_qwFileSize(qwFileSize) {}

  // Checks the whole file: layout, bounds and CRC. Fills the header.
  // kReadFailed means the file could not be read, not that it is bad.
  enum class Result { kValid, kDamaged, kReadFailed };
  Result Check(CJournalHeader& header, uint64_t& qwRangesEnd);

  // Writes every saved range into hPack (after a successful Check).
  bool Apply(HANDLE hPack, const CJournalHeader& header);

 private:
  bool Read(void* pData, uint64_t qwSize);
  Result CheckRanges(const CJournalHeader& header, uint64_t& qwRangesEnd);

  HANDLE m_hFile;
  uint64_t m_qwFileSize;
  LARGE_INTEGER m_liPos;
  uint32_t m_dwCrc = 0;
  std::unique_ptr<unsigned char[]> m_pbyBuffer;
};

bool CJournalIn::Read(void* pData, uint64_t qwSize) {
  if (!ReadAll(m_hFile, pData, qwSize)) return false;
  m_dwCrc = Crc(m_dwCrc, pData, static_cast<size_t>(qwSize));
  return true;
}

CJournalIn::Result CJournalIn::Check(CJournalHeader& header, uint64_t& qwRangesEnd) {
  if (m_qwFileSize < sizeof(header) + kCrcSize) return Result::kDamaged;
  m_pbyBuffer = CopyBuffer();
  if (!m_pbyBuffer || !SeekFile(m_hFile, m_liPos, 0) || !Read(&header, sizeof(header))) return Result::kReadFailed;
  if (std::memcmp(header.szMagic, kJournalMagic, sizeof(kJournalMagic)) != 0 || header.dwReserved != 0 ||
      header.qwOldSize < kPackHeaderSize || header.qwOldSize > UINT32_MAX ||
      header.qwBodySize != m_qwFileSize - sizeof(header) - kCrcSize ||
      header.dwRangeCount > header.qwBodySize / kRangeHeadSize) {
    return Result::kDamaged;
  }
  const Result result = CheckRanges(header, qwRangesEnd);
  if (result != Result::kValid) return result;
  const uint32_t dwCrc = m_dwCrc;
  uint32_t dwStored = 0;
  if (!Read(&dwStored, sizeof(dwStored))) return Result::kReadFailed;
  return dwStored == dwCrc ? Result::kValid : Result::kDamaged;
}

CJournalIn::Result CJournalIn::CheckRanges(const CJournalHeader& header, uint64_t& qwRangesEnd) {
  uint64_t qwConsumed = 0;
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
    for (uint64_t qwDone = 0; qwDone < dwLength;) {
      const uint64_t qwChunk = std::min<uint64_t>(kCopyChunk, dwLength - qwDone);
      if (!Read(m_pbyBuffer.get(), qwChunk)) return Result::kReadFailed;
      qwDone += qwChunk;
    }
    qwConsumed += dwLength;
    qwRangesEnd = qwOffset + dwLength;
  }
  return qwConsumed == header.qwBodySize ? Result::kValid : Result::kDamaged;
}

bool CJournalIn::Apply(HANDLE hPack, const CJournalHeader& header) {
  if (!SeekFile(m_hFile, m_liPos, sizeof(header))) return false;
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

// Drops a journal that cannot be used; the pack is left as it is.
bool DropJournal(const std::string& strJournal) {
  DeleteFileA(strJournal.c_str());
  SetLastError(ERROR_SUCCESS);
  return true;
}

// Restores the pack from a checked journal. False with the last error set.
bool ApplyJournal(const std::string& strPackPath, CJournalIn& journal, const CJournalHeader& header,
                  uint64_t qwRangesEnd, bool& bStale) {
  CScopedHandle hPack(CreateFileA(strPackPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hPack) return false;
  uint64_t qwPackSize = 0;
  if (!FileSize(hPack.Get(), qwPackSize)) return false;
  // Until the restore ends, the file is at least as long as the old pack
  // or the journal holds everything beyond its end: a journal that would
  // make the file grow from nothing is not this pack's.
  if (!HeaderMatches(hPack.Get(), qwPackSize, header) ||
      header.qwOldSize > std::max(qwPackSize, qwRangesEnd)) {
    bStale = true;
    return true;
  }
  LARGE_INTEGER liPos;
  return SeekFile(hPack.Get(), liPos, header.qwOldSize) && SetEndOfFile(hPack.Get()) &&
         journal.Apply(hPack.Get(), header) && FlushFileBuffers(hPack.Get());
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
    uint64_t qwRangesEnd = 0;
    const CJournalIn::Result result = journal.Check(header, qwRangesEnd);
    if (result == CJournalIn::Result::kReadFailed) return false;
    if (result == CJournalIn::Result::kDamaged) bStale = true;
    if (!bStale) bOk = ApplyJournal(strPackPath, journal, header, qwRangesEnd, bStale);
  }
  if (bStale) return DropJournal(strJournal);
  return bOk && RemoveJournal(strPackPath);
}

}  // namespace

std::string JournalPath(const std::string& strPackPath) { return strPackPath + kJournalSuffix; }

std::string JournalTempPath(const std::string& strPackPath) { return strPackPath + kJournalTempSuffix; }

bool WriteJournal(const std::string& strPackPath, HANDLE hPack, const PackHeader& newHeader,
                  const std::vector<CWriteRange>& vecRanges) {
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
  const std::vector<CWriteRange> vecSaved = Coalesce(vecRanges, header.qwOldSize);
  header.dwRangeCount = static_cast<uint32_t>(vecSaved.size());
  for (const CWriteRange& range : vecSaved) header.qwBodySize += kRangeHeadSize + range.qwLength;

  CScopedHandle hJournal = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hJournal) return false;
  return CompleteReplacement(WriteJournalBody(hJournal.Get(), hPack, header, vecSaved), hJournal, strTemp, strFinal);
}

bool RestoreFromJournal(const std::string& strPackPath) {
  if (!HasJournal(strPackPath) && GetFileAttributesA(JournalTempPath(strPackPath).c_str()) == INVALID_FILE_ATTRIBUTES)
    return true;
  CPackLock lock;
  if (!lock.Take(strPackPath) && lock.Busy()) return false;
  return Restore(strPackPath);
}

bool RestoreFromJournal(const std::string& strPackPath, const CPackLock& /*held*/) { return Restore(strPackPath); }

bool RemoveJournal(const std::string& strPackPath) {
  const std::string strJournal = JournalPath(strPackPath);
  return DeleteFileA(strJournal.c_str()) && FlushDirectoryOf(strJournal.c_str());
}

bool HasJournal(const std::string& strPackPath) {
  return GetFileAttributesA(JournalPath(strPackPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}
