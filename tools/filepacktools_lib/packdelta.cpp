#include "tools/filepacktools_lib/packdelta.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/file_io.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packnames.h"
#include "tools/filepacktools_lib/zstdpatch.h"

namespace {

bool IsZero(const char* pData, size_t nSize) {
  for (size_t i = 0; i < nSize; ++i) {
    if (pData[i] != 0) return false;
  }
  return true;
}

// Whether a payload of its length can hold the entry at all: a plain whole
// entry is its bytes, a stream cannot decode to more than its bound, a
// patch spans no more than a patch may.
bool SizesFit(const CDeltaRecord& record, bool bCompressed) {
  if (record.dwKind == kDeltaKindPatch) return uint64_t{record.dwBaseSize} + record.dwSize <= kPatchMaxSpan;
  return bCompressed ? record.dwSize <= Lzma86MaxPlainSize(record.dwLength) : record.dwLength == record.dwSize;
}

// What is wrong with one record, or "": expected payload at qwNext.
std::string RecordProblem(const CDeltaRecord& record, const std::string& strRoot, bool bCompressed, uint64_t qwNext) {
  const std::string strName = FieldString(record.szName, kPackNameSize);
  if (strName.size() >= kPackNameSize || !IsSafeEntryName(strName) ||
      strName.compare(0, strRoot.size() + 1, strRoot + '\\') != 0) {
    return "a name that is not a safe entry name below the root";
  }
  if (!IsContentTag(record.szTag)) return "a tag that is not an MD5";
  if (record.dwKind == kDeltaKindPatch) {
    if (!IsContentTag(record.szBaseTag)) return "a base tag that is not an MD5";
  } else if (record.dwKind != kDeltaKindWhole || record.dwBaseSize != 0 || !IsZero(record.szBaseTag, kPackTagSize)) {
    return "an unknown kind, or a whole entry with a base";
  }
  if (record.dwReserved != 0) return "reserved bytes that are not zero";
  if (!SizesFit(record, bCompressed)) return "a size its payload cannot hold";
  if (record.dwOffset != qwNext) return "a payload that does not follow the one before";
  return std::string();
}

}  // namespace

bool IsDeltaMagic(const void* pData, uint64_t qwSize) {
  return qwSize >= kPackMagicSize && std::memcmp(pData, kDeltaMagic, kPackMagicSize) == 0;
}

std::string ReadDeltaIndex(const unsigned char* pbyData, uint64_t qwAvailable, uint64_t qwFileSize,
                           CDeltaIndex& index) {
  index = CDeltaIndex();
  if (qwAvailable < kDeltaHeaderSize || !IsDeltaMagic(pbyData, qwAvailable)) return "not a delta update";
  std::memcpy(&index.header, pbyData, kDeltaHeaderSize);
  const CDeltaHeader& header = index.header;
  if (header.dwFormat != kDeltaFormat) return "a delta of a format this program does not know";
  if (header.dwNotAPack != kDeltaNotAPackOffset || header.nNotAPack != kDeltaNotAPackCount || header.byCompressed > 1 ||
      !IsZero(reinterpret_cast<const char*>(header.byReserved), 3)) {
    return "a damaged delta header";
  }
  const std::string strRoot = FieldString(header.szRootName, kPackRootNameSize);
  const uint64_t qwIndexSize = DeltaIndexSize(header.dwRecordCount);
  if (strRoot.empty() || qwIndexSize > qwFileSize || qwIndexSize > qwAvailable) {
    return "records that do not fit the file";
  }
  index.vecRecords.resize(header.dwRecordCount);
  uint64_t qwNext = qwIndexSize;
  for (uint32_t i = 0; i < header.dwRecordCount; ++i) {
    CDeltaRecord& record = index.vecRecords[i];
    std::memcpy(&record, pbyData + kDeltaHeaderSize + uint64_t{i} * kDeltaRecordSize, kDeltaRecordSize);
    std::string strProblem = RecordProblem(record, strRoot, header.byCompressed != 0, qwNext);
    if (strProblem.empty() && i > 0 &&
        FieldString(index.vecRecords[i - 1].szName, kPackNameSize) >= FieldString(record.szName, kPackNameSize)) {
      strProblem = "names not in ascending order, or given twice";
    }
    if (!strProblem.empty()) return "record " + std::to_string(i + 1) + ": " + strProblem;
    qwNext += record.dwLength;
  }
  if (qwNext != qwFileSize) return "the file does not end with the last payload";
  return std::string();
}

bool HasTag(const unsigned char* pbyData, uint32_t dwSize, const char* pszTag) {
  char szTag[kPackTagSize];
  return MakeContentTag(pbyData, dwSize, szTag) && std::memcmp(szTag, pszTag, kPackTagSize) == 0;
}

bool DecodeWholeEntry(const CDeltaRecord& record, const unsigned char* pbyPayload, bool bCompressed,
                      unsigned char* pbyOut) {
  bool bOk = true;
  if (!bCompressed) {
    if (record.dwSize > 0) std::memcpy(pbyOut, pbyPayload, record.dwSize);
  } else {
    uint32_t dwDecoded = record.dwSize;
    bOk = LzmaUncompress(pbyPayload, record.dwLength, pbyOut, &dwDecoded) == kLzmaOk && dwDecoded == record.dwSize;
  }
  if (bOk && HasTag(pbyOut, record.dwSize, record.szTag)) return true;
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

bool VerifyDelta(const std::string& strPath, std::vector<std::string>& vecProblems, size_t& nPatches) {
  vecProblems.clear();
  nPatches = 0;
  std::string strBytes;
  if (!ReadWholeFile(strPath.c_str(), strBytes)) return false;
  const unsigned char* pbyData = reinterpret_cast<const unsigned char*>(strBytes.data());
  CDeltaIndex index;
  const std::string strProblem = ReadDeltaIndex(pbyData, strBytes.size(), strBytes.size(), index);
  if (!strProblem.empty()) {
    vecProblems.push_back(strProblem);
    return true;
  }
  for (const CDeltaRecord& record : index.vecRecords) {
    if (record.dwKind == kDeltaKindPatch) {
      ++nPatches;
      continue;
    }
    std::unique_ptr<unsigned char[]> pbyPlain(
        new (std::nothrow) unsigned char[uint64_t{record.dwSize} + kLzma86DecodeSlack]);
    if (!pbyPlain) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    if (!DecodeWholeEntry(record, pbyData + record.dwOffset, index.header.byCompressed != 0, pbyPlain.get())) {
      vecProblems.push_back("entry \"" + FieldString(record.szName, kPackNameSize) +
                            "\" does not give its recorded bytes");
    }
  }
  return true;
}
