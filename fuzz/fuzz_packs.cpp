#include "fuzz/fuzz_packs.h"

#include <zlib.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "fuzz/fuzz_sandbox.h"
#include "platform/scoped_handle.h"
#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/packcodec.h"
#include "tools/filepacktools_lib/packdelta.h"
#include "tools/filepacktools_lib/packrecords.h"
#include "tools/filepacktools_lib/zstdpatch.h"

namespace {

template <typename TRecord>
void Append(std::string& strOut, const TRecord& record) {
  strOut.append(reinterpret_cast<const char*>(&record), sizeof(record));
}

// The directory table a build writes: keys in byte order, children in the
// order of the entries.
std::vector<PackDirRecord> TreeOf(const std::string& strRoot, const std::vector<CFuzzEntry>& vecEntries) {
  std::map<std::string, std::vector<std::pair<int32_t, std::string>>> mapTree;
  for (const CFuzzEntry& entry : vecEntries) {
    std::string strKey = strRoot;
    std::string strRest = entry.strName.substr(strRoot.size() + 1);
    for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
      const std::string strChild = strKey + "\\" + strRest.substr(0, nSep);
      strRest.erase(0, nSep + 1);
      if (!mapTree.count(strChild)) {
        mapTree[strKey].push_back({kPackDirKindDir, strChild});
        mapTree[strChild];
      }
      strKey = strChild;
    }
    mapTree[strKey].push_back({kPackDirKindFile, entry.strName});
  }
  std::vector<PackDirRecord> vecRecords;
  for (const auto& item : mapTree) {
    for (const auto& child : item.second) {
      PackDirRecord record;
      record.nKind = child.first;
      SetField(record.szFullPath, kPackNameSize, child.second);
      vecRecords.push_back(record);
    }
  }
  return vecRecords;
}

}  // namespace

std::string Lzma86(const std::string& strPlain) {
  std::string strOut(2 * strPlain.size() + 100, '\0');
  uint32_t dwLen = static_cast<uint32_t>(strOut.size());
  if (LzmaCompress(reinterpret_cast<const unsigned char*>(strPlain.data()), static_cast<uint32_t>(strPlain.size()),
                   reinterpret_cast<unsigned char*>(&strOut[0]), &dwLen, -1) != kLzmaOk) {
    throw std::runtime_error("LzmaCompress failed");
  }
  strOut.resize(dwLen);
  return strOut;
}

std::string MakePack(const std::string& strRoot, const std::vector<CFuzzEntry>& vecEntries, bool bCompressed,
                     uint32_t nHole) {
  std::string strData;
  std::vector<PackEntry> vecIndex;
  std::vector<PackFreeBlock> vecFree;
  for (const CFuzzEntry& entry : vecEntries) {
    const std::string strStored = bCompressed ? Lzma86(entry.strPlain) : entry.strPlain;
    PackEntry record;
    std::memset(&record, 0, sizeof(record));
    SetField(record.szName, kPackNameSize, entry.strName);
    record.dwOrigSize = static_cast<uint32_t>(entry.strPlain.size());
    record.dwStoredSize = static_cast<uint32_t>(strStored.size());
    record.dwOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
    SetField(record.szTag, kPackTagSize, entry.strTag);
    vecIndex.push_back(record);
    strData += strStored;
    if (nHole > 0 && vecIndex.size() == 1) {
      vecFree.push_back({kPackHeaderSize + static_cast<uint32_t>(strData.size()), nHole});
      strData.append(nHole, '\xEE');
    }
  }
  PackHeader header;
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.szMagic, kPackMagic, kPackMagicSize);
  std::memcpy(&header.fVersion, &kPackVersionBits, sizeof(float));
  header.dwIndexOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
  header.nEntryCount = static_cast<int32_t>(vecIndex.size());
  header.nFreeBlockCount = static_cast<int32_t>(vecFree.size());
  SetField(header.szRootName, kPackRootNameSize, strRoot);
  header.byCompressed = bCompressed ? 1 : 0;

  std::string strOut;
  Append(strOut, header);
  strOut += strData;
  for (const PackEntry& record : vecIndex) Append(strOut, record);
  for (const PackDirRecord& record : TreeOf(strRoot, vecEntries)) Append(strOut, record);
  for (const PackFreeBlock& block : vecFree) Append(strOut, block);
  return strOut;
}

std::vector<CFuzzEntry> FixedClientEntries() {
  return {{"res\\ui\\a.txt", "AAAAAAAAAAAAAAAA", "a1"},
          {"res\\ui\\b.txt", "BBBB", "b1"},
          {"res\\ui\\deep\\c.txt", std::string(300, 'c'), "c1"},
          {"res\\maps\\m.map", "map", "m1"}};
}

std::string FixedClient() { return MakePack("res", FixedClientEntries(), false, 24); }

std::string MakeDelta(const std::vector<CFuzzEntry>& vecBase, const std::vector<CFuzzEntry>& vecNew, bool bCompressed) {
  std::map<std::string, const CFuzzEntry*> mapNew;
  for (const CFuzzEntry& entry : vecNew) mapNew[entry.strName] = &entry;
  CDeltaHeader header = {};
  std::memcpy(header.szMagic, kDeltaMagic, kPackMagicSize);
  header.dwFormat = kDeltaFormat;
  header.dwNotAPack = kDeltaNotAPackOffset;
  header.nNotAPack = kDeltaNotAPackCount;
  header.dwRecordCount = static_cast<uint32_t>(mapNew.size());
  SetField(header.szRootName, kPackRootNameSize, "res");
  header.byCompressed = bCompressed ? 1 : 0;
  std::string strRecords;
  std::string strPayloads;
  uint64_t qwOffset = DeltaIndexSize(header.dwRecordCount);
  for (const auto& item : mapNew) {
    const std::string& strPlain = item.second->strPlain;
    CDeltaRecord record = {};
    SetField(record.szName, kPackNameSize, item.first);
    record.dwSize = static_cast<uint32_t>(strPlain.size());
    MakeContentTag(strPlain.data(), strPlain.size(), record.szTag);
    std::string strPayload = bCompressed ? Lzma86(strPlain) : strPlain;
    for (const CFuzzEntry& base : vecBase) {
      if (base.strName != item.first) continue;
      record.dwKind = kDeltaKindPatch;
      record.dwBaseSize = static_cast<uint32_t>(base.strPlain.size());
      MakeContentTag(base.strPlain.data(), base.strPlain.size(), record.szBaseTag);
      if (!MakePatch(reinterpret_cast<const unsigned char*>(base.strPlain.data()), record.dwBaseSize,
                     reinterpret_cast<const unsigned char*>(strPlain.data()), record.dwSize, strPayload)) {
        throw std::runtime_error("MakePatch failed");
      }
    }
    record.dwOffset = static_cast<uint32_t>(qwOffset);
    record.dwLength = static_cast<uint32_t>(strPayload.size());
    qwOffset += strPayload.size();
    Append(strRecords, record);
    strPayloads += strPayload;
  }
  std::string strOut;
  Append(strOut, header);
  return strOut + strRecords + strPayloads;
}

std::string MakeJournal(const std::string& strPack, const PackHeader& newHeader,
                        const std::vector<CWriteRange>& vecRanges) {
  CFuzzSandbox sandbox;
  WriteBytes(sandbox.Dir() / "client.pak", strPack);
  const std::string strPath = sandbox.ProgramPath("client.pak");
  {
    CScopedHandle hPack(CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hPack || !WriteJournal(strPath, hPack.Get(), newHeader, strPack.size(), vecRanges, CJournalFiles())) {
      throw std::runtime_error("WriteJournal failed");
    }
  }
  return ReadBytes(sandbox.Dir() / "client.pak.journal");
}

std::string ForPack(const std::string& strJournal, const CFileIdentity& identity) {
  // The layout of packjournal.cpp: the magic, the file count at 28, the
  // pack's identity at 152, the CRC-32 of everything before it last.
  constexpr size_t kFileCount = 28;
  constexpr size_t kIdentity = 152;
  constexpr size_t kCrc = 4;
  if (strJournal.size() < kIdentity + 24 + kCrc || strJournal.compare(0, 8, "pakundo2") != 0) return strJournal;
  auto crcOf = [](const std::string& strBytes) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(strBytes.data()), static_cast<uInt>(strBytes.size() - kCrc)));
  };
  uint32_t dwStored = 0;
  std::memcpy(&dwStored, strJournal.data() + strJournal.size() - kCrc, kCrc);
  const bool bRight = dwStored == crcOf(strJournal);
  uint32_t dwFiles = 0;
  std::memcpy(&dwFiles, strJournal.data() + kFileCount, sizeof(dwFiles));
  const CFileIdentity none = {UINT64_MAX, UINT64_MAX};
  const CFileIdentity& stamp = dwFiles == 0 ? identity : none;
  std::string strOut = strJournal;
  std::memcpy(&strOut[kIdentity], &stamp.qwVolume, 8);
  std::memcpy(&strOut[kIdentity + 8], &stamp.qwIndex, 8);
  uint32_t dwCrc = crcOf(strOut);
  if (!bRight) dwCrc = dwStored == dwCrc ? ~dwCrc : dwStored;
  std::memcpy(&strOut[strOut.size() - kCrc], &dwCrc, kCrc);
  return strOut;
}
