// Making a delta update (packdelta.h): the entries of a diff's update, each
// changed one as a patch against its previous version when that saves a
// quarter of its whole form or more. Entries are read, encoded and patched
// on every core; the payloads are written in name order by this thread.
#include <cstring>
#include <new>

#include "platform/durable_replace.h"
#include "platform/file_io.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/zstdpatch.h"

namespace {

constexpr char kDeltaTempSuffix[] = ".~new";
constexpr size_t kItemsPerWorker = 4;
constexpr uint64_t kWindowBytes = 64ull << 20;

// One entry on its way into the delta.
struct CDeltaItem {
  const CReleaseEntry* pEntry = nullptr;
  CDeltaRecord record = {};
  std::string strPayload;
  uint64_t qwWholeForm = 0;  // what the entry takes whole
  bool bFailed = false;
  DWORD dwError = ERROR_SUCCESS;
};

using CDeltaPipeline = COrderedPipeline<CDeltaItem>;

// The whole form of plain bytes: as they are, or one Lzma86 stream.
bool WholeForm(const CEntryBytes& plain, bool bCompress, std::string& strOut) {
  try {
    if (!bCompress) {
      strOut.assign(reinterpret_cast<const char*>(plain.pbyData), plain.dwSize);
      return true;
    }
    uint32_t dwLength = Lzma86CompressBound(plain.dwSize);
    strOut.resize(dwLength);
    if (LzmaCompress(plain.pbyData, plain.dwSize, reinterpret_cast<unsigned char*>(&strOut[0]), &dwLength, 5) !=
        kLzmaOk) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    strOut.resize(dwLength);
    return true;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

void FillRecord(const CReleaseDiff& diff, const CReleaseEntry& entry, CDeltaRecord& record) {
  std::memset(&record, 0, sizeof(record));
  SetField(record.szName, kPackNameSize, entry.strName);
  const CContentTag& tag = diff.mapNew.at(entry.strName);
  record.dwSize = tag.dwSize;
  std::memcpy(record.szTag, tag.szTag, kPackTagSize);
}

}  // namespace

bool CPackFile::ReadReleaseBytes(const std::string& strName, const std::string& strFile, CEntryBytes& out) const {
  if (IsOpenPack()) {
    auto itEntry = m_mapEntry.find(strName);
    if (itEntry == m_mapEntry.end()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    return Reader().ReadPlainBytes(*itEntry->second, out);
  }
  std::string strBytes;
  if (!ReadWholeFile(strFile.c_str(), strBytes)) return false;
  out.pbyBuffer.reset(new (std::nothrow) unsigned char[strBytes.size() + 1]);
  if (!out.pbyBuffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  std::memcpy(out.pbyBuffer.get(), strBytes.data(), strBytes.size());
  out.pbyData = out.pbyBuffer.get();
  out.dwSize = static_cast<uint32_t>(strBytes.size());
  return true;
}

namespace {

// The payload of one entry: whole, or a patch when that is clearly smaller.
bool MakeItem(const CPackFile& old, const CPackFile& newer, const CReleaseDiff& diff, bool bCompress,
              CDeltaItem& item) {
  const CReleaseEntry& entry = *item.pEntry;
  FillRecord(diff, entry, item.record);
  CEntryBytes result;
  if (!newer.ReadReleaseBytes(entry.strName, entry.strNewFile, result)) return false;
  if (result.dwSize != item.record.dwSize) {
    SetLastError(ERROR_INVALID_DATA);  // not the release the diff was made with
    return false;
  }
  if (!WholeForm(result, bCompress, item.strPayload)) return false;
  item.qwWholeForm = item.strPayload.size();
  if (entry.eChange != ReleaseChange::kChanged || uint64_t{entry.dwOldSize} + entry.dwNewSize > kPatchMaxSpan) {
    return true;
  }
  CEntryBytes base;
  std::string strPatch;
  if (!old.ReadReleaseBytes(entry.strName, entry.strOldFile, base) ||
      !MakePatch(base.pbyData, base.dwSize, result.pbyData, result.dwSize, strPatch)) {
    return false;
  }
  if (static_cast<double>(strPatch.size()) >= kDeltaKeepRatio * static_cast<double>(item.qwWholeForm)) return true;
  const CContentTag& baseTag = diff.mapOld.at(entry.strName);
  item.record.dwKind = kDeltaKindPatch;
  item.record.dwBaseSize = baseTag.dwSize;
  std::memcpy(item.record.szBaseTag, baseTag.szTag, kPackTagSize);
  item.strPayload = std::move(strPatch);
  return true;
}

}  // namespace

bool CPackFile::CreateDeltaUpdate(const CPackFile& newer, const CReleaseDiff& diff, const std::string& strPath,
                                  bool bCompress, CDeltaReport& report) const {
  report = CDeltaReport();
  std::vector<const CReleaseEntry*> vecEntries;
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.eChange == ReleaseChange::kChanged || entry.eChange == ReleaseChange::kAdded)
      vecEntries.push_back(&entry);
  }
  const std::string strTemp = strPath + kDeltaTempSuffix;
  CScopedHandle hFile = CreateReplacement(strTemp, CREATE_ALWAYS);
  if (!hFile) return false;
  CDeltaHeader header = {};
  std::memcpy(header.szMagic, kDeltaMagic, kPackMagicSize);
  header.dwFormat = kDeltaFormat;
  header.dwNotAPack = kDeltaNotAPackOffset;
  header.nNotAPack = kDeltaNotAPackCount;
  header.dwRecordCount = static_cast<uint32_t>(vecEntries.size());
  SetField(header.szRootName, kPackRootNameSize, newer.ReleaseRoot());
  header.byCompressed = bCompress ? 1 : 0;
  std::vector<CDeltaRecord> vecRecords;
  uint64_t qwOffset = DeltaIndexSize(header.dwRecordCount);
  bool bOk = qwOffset <= UINT32_MAX;
  DWORD dwError = bOk ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_TOO_LARGE;
  if (bOk) {
    const size_t nThreads = PipelineWorkerCount(m_nBuildWorkers);
    CDeltaPipeline pipeline(kItemsPerWorker * nThreads, kWindowBytes);
    bOk = pipeline.Start(
        nThreads,
        [&vecEntries](CDeltaPipeline& out) {
          for (const CReleaseEntry* pEntry : vecEntries) {
            CDeltaItem item;
            item.pEntry = pEntry;
            if (!out.Push(std::move(item), uint64_t{pEntry->dwOldSize} + pEntry->dwNewSize)) return;
          }
        },
        [&](CDeltaItem& item) {
          if (!MakeItem(*this, newer, diff, bCompress, item)) {
            item.bFailed = true;
            item.dwError = GetLastError();
          }
        });
    CDeltaItem item;
    LARGE_INTEGER liPos;
    while (bOk && pipeline.Pop(item)) {
      item.record.dwOffset = static_cast<uint32_t>(qwOffset);
      item.record.dwLength = static_cast<uint32_t>(item.strPayload.size());
      if (item.bFailed) {
        report.strFailed = item.pEntry->strName;
        SetLastError(item.dwError);
        bOk = false;
      } else if (qwOffset + item.strPayload.size() > UINT32_MAX) {
        SetLastError(ERROR_FILE_TOO_LARGE);  // offsets are 32 bits wide
        bOk = false;
      } else {
        bOk = SeekFile(hFile.Get(), liPos, qwOffset) &&
              WriteAll(hFile.Get(), item.strPayload.data(), item.strPayload.size());
      }
      if (!bOk) break;
      report.Count(item.record, item.qwWholeForm, item.pEntry->eChange);
      qwOffset += item.strPayload.size();
      vecRecords.push_back(item.record);
    }
    if (!bOk) dwError = GetLastError();
  }
  if (bOk) {
    LARGE_INTEGER liPos;
    bOk = SeekFile(hFile.Get(), liPos, 0) && WriteAll(hFile.Get(), &header, sizeof(header)) &&
          (vecRecords.empty() || WriteAll(hFile.Get(), vecRecords.data(), vecRecords.size() * kDeltaRecordSize));
    if (!bOk) dwError = GetLastError();
  }
  if (!bOk) SetLastError(dwError);
  return CompleteReplacement(bOk, hFile, strTemp, strPath);
}

void CDeltaReport::Count(const CDeltaRecord& record, uint64_t qwWholeForm, ReleaseChange eChange) {
  if (record.dwKind == kDeltaKindPatch) {
    ++nPatches;
    qwPatchBytes += record.dwLength;
    qwPatchedWholeBytes += qwWholeForm;
  } else if (eChange == ReleaseChange::kChanged) {
    ++nChangedWhole;
    qwChangedWholeBytes += record.dwLength;
  } else {
    ++nAddedWhole;
    qwAddedWholeBytes += record.dwLength;
  }
}
