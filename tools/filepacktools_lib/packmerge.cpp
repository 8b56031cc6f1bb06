// Merging an update pack into a client pack in place.
//
// Every changed entry of the update is written over its old slot when it
// fits, else into the first free block large enough, else at the end of the
// data area; new entries below an existing first directory of the client's
// tree join the pack, all others become loose files below the directory that
// was current when the merge started. SaveIndex then rewrites the regions
// behind the data area and the header.
#include <cassert>
#include <cstring>
#include <new>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/entrybytes.h"
#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/packcheck.h"
#include "tools/filepacktools_lib/packcodec.h"

namespace {

// The part of a name after its first component, "" when it has only one.
std::string LooseRelativePath(const std::string& strName) {
  size_t nFirst = strName.find('\\');
  return nFirst == std::string::npos ? std::string() : strName.substr(nFirst + 1);
}

}  // namespace

int CRealizePack::MergePack(const char* pszSrcPack, const char* pszTarPack) {
  assert(NULL != pszSrcPack);
  assert('\0' != pszSrcPack[0]);
  assert(NULL != pszTarPack);
  assert('\0' != pszTarPack[0]);
  if (!pszSrcPack || !pszSrcPack[0] || !pszTarPack || !pszTarPack[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  m_pSrcPack->Close();
  m_pTarPack->Close();
  if (!m_pSrcPack->Open(pszSrcPack)) return 0;

  // A target that does not open completely is never written: saving it
  // would drop what did not load. The error reported is the first one.
  bool bOk = m_pTarPack->Open(pszTarPack) &&
             m_pTarPack->CanMergeFrom(*m_pSrcPack, pszSrcPack, pszTarPack, CurrentDirectory());
  DWORD dwError = bOk ? ERROR_SUCCESS : GetLastError();
  if (bOk) {
    bOk = m_pTarPack->MergeFrom(m_pSrcPack.get());
    if (!bOk) dwError = GetLastError();
    if (!m_pTarPack->SaveIndex(pszTarPack) && bOk) {
      bOk = false;
      dwError = GetLastError();
    }
  }
  m_pSrcPack->Close();
  m_pTarPack->Close();
  if (!bOk) SetLastError(dwError);
  return bOk ? 1 : 0;
}

// Everything that can be known before the first write is checked here, so
// that a hostile or broken update, or a broken client pack, is refused with
// nothing written: blobs outside the data areas, overlapping client blobs,
// names that could leave the starting directory, loose paths too long for a
// path buffer, and loose files that would land on either pack.
bool CPackFile::CanMergeFrom(CPackFile& src, const std::string& strSrcPath, const std::string& strTarPath,
                             const std::string& strCurrentDir) {
  SetLastError(ERROR_INVALID_DATA);
  if (!IsLayoutSound(m_header, m_mapEntry, m_vecFreeBlock)) return false;
  const std::string strSrcKey = ComparablePath(strSrcPath, strCurrentDir);
  const std::string strTarKey = ComparablePath(strTarPath, strCurrentDir);
  for (const auto& item : src.m_mapEntry) {
    const PackEntry& entry = *item.second;
    if (!IsInDataArea(entry, src.m_header.dwIndexOffset)) return false;
    if (src.m_byCompressed == 0 && entry.dwOrigSize != entry.dwStoredSize) return false;
    if (!IsSafeEntryName(item.first)) return false;
    if (m_mapEntry.count(item.first) || BelongsToTree(item.first)) continue;

    const std::string strRel = LooseRelativePath(item.first);
    if (strRel.empty()) continue;  // a name without a directory is passed over
    if (strCurrentDir.empty()) return false;
    const std::string strLoose = JoinPath(strCurrentDir, strRel);
    if (strLoose.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    const std::string strLooseKey = ComparablePath(strLoose, strCurrentDir);
    if (strLooseKey == strSrcKey || strLooseKey == strTarKey) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return false;
    }
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool CPackFile::BelongsToTree(const std::string& strName) const {
  size_t nFirst = strName.find('\\');
  if (nFirst == std::string::npos) return false;
  size_t nSecond = strName.find('\\', nFirst + 1);
  if (nSecond == std::string::npos) return false;
  return m_mapDir.count(strName.substr(0, nSecond)) != 0;
}

bool CPackFile::MergeFrom(CPackFile* pSrcPack) {
  std::memset(m_szWorkDir, 0, sizeof(m_szWorkDir));
  const std::string strWorkDir = CurrentDirectory();
  std::memcpy(m_szWorkDir, strWorkDir.data(), strWorkDir.size());

  bool bOk = true;
  for (const auto& item : pSrcPack->m_mapEntry) {
    MergeStep step = MergeEntry(*pSrcPack, item.first, *item.second);
    if (step == MergeStep::kStop) {
      bOk = false;
      break;
    }
    if (step == MergeStep::kFailed) bOk = false;
  }
  pSrcPack->m_hFileMapping.Reset();
  return bOk;
}

CPackFile::MergeStep CPackFile::MergeEntry(CPackFile& src, const std::string& strName, const PackEntry& srcEntry) {
  auto itTarget = m_mapEntry.find(strName);
  if (itTarget != m_mapEntry.end()) {
    PackEntry& target = *itTarget->second;
    if (TagsEqual(target.szTag, srcEntry.szTag)) return MergeStep::kDone;
    return ReplaceEntry(src, srcEntry, target) ? MergeStep::kDone : MergeStep::kStop;
  }
  if (BelongsToTree(strName)) return AddNewEntry(src, strName, srcEntry) ? MergeStep::kDone : MergeStep::kStop;
  return WriteLooseFile(src, strName, srcEntry);
}

// The bytes an entry takes in this pack: plain for a plain pack, an Lzma86
// stream for a compressed one (a compressed source's stream is copied once
// it is known to decode; a plain source is encoded).
bool CPackFile::ReadForThisPack(CPackFile& src, const PackEntry& srcEntry, CEntryBytes& out) {
  if (m_byCompressed == 0) return src.ReadPlainBytes(srcEntry, out);
  if (src.m_byCompressed != 0) {
    CEntryBytes decoded;
    return src.ReadPlainBytes(srcEntry, decoded) && src.MapStoredBytes(srcEntry, out);
  }
  CEntryBytes plain;
  if (!src.ReadPlainBytes(srcEntry, plain)) return false;
  const uint64_t qwCapacity = 2ull * plain.dwSize + 100;
  if (qwCapacity > UINT32_MAX) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[qwCapacity]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  uint32_t dwLen = static_cast<uint32_t>(qwCapacity);
  if (LzmaCompress(plain.pbyData, plain.dwSize, out.pbyBuffer.get(), &dwLen, -1) != kLzmaOk) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  out.pbyData = out.pbyBuffer.get();
  out.dwSize = dwLen;
  return true;
}

bool CPackFile::ReplaceEntry(CPackFile& src, const PackEntry& srcEntry, PackEntry& target) {
  CEntryBytes bytes;
  if (!ReadForThisPack(src, srcEntry, bytes)) return false;
  // A plain pack sizes a slot by the original size (equal to the stored
  // size there); a compressed one by the stored size.
  const uint32_t dwSlot = m_byCompressed ? target.dwStoredSize : target.dwOrigSize;
  if (dwSlot >= bytes.dwSize) {
    if (!WriteAt(target.dwOffset, bytes.pbyData, bytes.dwSize)) return false;
    if (dwSlot > bytes.dwSize) m_vecFreeBlock.push_back({target.dwOffset + bytes.dwSize, dwSlot - bytes.dwSize});
  } else {
    uint32_t dwOffset = 0;
    if (!PlaceBlob(bytes, dwOffset)) return false;
    // The old slot is freed only now, so an entry never moves into it.
    m_vecFreeBlock.push_back({target.dwOffset, target.dwStoredSize});
    target.dwOffset = dwOffset;
  }
  target.dwOrigSize = srcEntry.dwOrigSize;
  target.dwStoredSize = bytes.dwSize;
  std::memcpy(target.szTag, srcEntry.szTag, kPackTagSize);
  return true;
}

bool CPackFile::AddNewEntry(CPackFile& src, const std::string& strName, const PackEntry& srcEntry) {
  CEntryBytes bytes;
  uint32_t dwOffset = 0;
  if (!ReadForThisPack(src, srcEntry, bytes) || !PlaceBlob(bytes, dwOffset)) return false;
  auto pEntry = std::make_unique<PackEntry>();
  std::memset(pEntry.get(), 0, sizeof(PackEntry));
  std::memcpy(pEntry->szName, srcEntry.szName, kPackNameSize);
  pEntry->dwOrigSize = srcEntry.dwOrigSize;
  pEntry->dwStoredSize = bytes.dwSize;
  pEntry->dwOffset = dwOffset;
  std::memcpy(pEntry->szTag, srcEntry.szTag, kPackTagSize);
  AddPathToTree(strName.c_str(), pEntry.get());
  m_vecNewEntry.push_back(std::move(pEntry));
  ++m_header.nEntryCount;
  return true;
}

// Writes the blob into the first free block that holds it, else at the end
// of the data area. The free list changes only once the bytes are written,
// so a failed write leaves it describing the file.
bool CPackFile::PlaceBlob(const CEntryBytes& bytes, uint32_t& dwOffset) {
  const size_t nBlock = FindFreeBlock(bytes.dwSize);
  if (nBlock == kNoFreeBlock) {
    if (static_cast<uint64_t>(m_header.dwIndexOffset) + bytes.dwSize > UINT32_MAX) {
      SetLastError(ERROR_FILE_TOO_LARGE);  // offsets are 32 bits wide
      return false;
    }
    dwOffset = m_header.dwIndexOffset;
    if (!WriteAt(dwOffset, bytes.pbyData, bytes.dwSize)) return false;
    m_header.dwIndexOffset += bytes.dwSize;
    return true;
  }
  dwOffset = m_vecFreeBlock[nBlock].dwOffset;
  if (!WriteAt(dwOffset, bytes.pbyData, bytes.dwSize)) return false;
  TakeFromFreeBlock(nBlock, bytes.dwSize);
  return true;
}

int CPackFile::AllocSpace(uint32_t dwSize, uint32_t* pdwOffset) {
  const size_t nBlock = FindFreeBlock(dwSize);
  if (nBlock == kNoFreeBlock) {
    *pdwOffset = m_header.dwIndexOffset;
    return 0;
  }
  *pdwOffset = m_vecFreeBlock[nBlock].dwOffset;
  return TakeFromFreeBlock(nBlock, dwSize);
}

size_t CPackFile::FindFreeBlock(uint32_t dwSize) const {
  for (size_t i = 0; i < m_vecFreeBlock.size(); ++i) {
    if (dwSize <= m_vecFreeBlock[i].dwSize) return i;
  }
  return kNoFreeBlock;
}

// Carves dwSize bytes from the front of block nBlock: 2 when that used the
// whole block (it leaves the list), else 1.
int CPackFile::TakeFromFreeBlock(size_t nBlock, uint32_t dwSize) {
  PackFreeBlock& block = m_vecFreeBlock[nBlock];
  block.dwSize -= dwSize;
  if (block.dwSize == 0) {
    m_vecFreeBlock.erase(m_vecFreeBlock.begin() + static_cast<std::ptrdiff_t>(nBlock));
    return 2;
  }
  block.dwOffset += dwSize;
  return 1;
}

bool CPackFile::WriteAt(uint32_t dwOffset, const void* pData, uint32_t dwSize) {
  return SeekFile(m_hPackFile.Get(), m_liFilePos, dwOffset) && WriteAll(m_hPackFile.Get(), pData, dwSize);
}

// An entry outside the client's tree is written below the starting
// directory at its path without the root name, creating its directories.
// A directory that cannot be made (a file of that name, say) fails the
// entry instead of writing the file somewhere else.
CPackFile::MergeStep CPackFile::WriteLooseFile(CPackFile& src, const std::string& strName,
                                                const PackEntry& srcEntry) {
  const std::string strRel = LooseRelativePath(strName);
  if (strRel.empty()) return MergeStep::kDone;
  std::string strPath = FieldString(m_szWorkDir, sizeof(m_szWorkDir));
  size_t nStart = 0;
  for (size_t nSep; (nSep = strRel.find('\\', nStart)) != std::string::npos; nStart = nSep + 1) {
    strPath = JoinPath(strPath, strRel.substr(nStart, nSep - nStart));
    CreateDirectoryA(strPath.c_str(), nullptr);
    DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (dwAttributes != INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_DIRECTORY);
      return MergeStep::kFailed;
    }
  }
  strPath = JoinPath(strPath, strRel.substr(nStart));

  CEntryBytes bytes;
  if (!src.ReadPlainBytes(srcEntry, bytes)) return MergeStep::kStop;
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return MergeStep::kFailed;
  if (!WriteAll(hFile.Get(), bytes.pbyData, bytes.dwSize)) {
    hFile.Reset();
    DWORD dwError = GetLastError();
    DeleteFileA(strPath.c_str());  // no partial file stays behind
    SetLastError(dwError);
    return MergeStep::kFailed;
  }
  return MergeStep::kDone;
}
