#include "tests/support/pack_writer.h"

#include <cstring>
#include <map>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/packcodec.h"

CTestPack::CTestPack(const std::string& strRoot, bool bCompressed) {
  std::memset(&header, 0, sizeof(header));
  std::memcpy(header.szMagic, kPackMagic, kPackMagicSize);
  std::memcpy(&header.fVersion, &kPackVersionBits, sizeof(float));
  SetField(header.szRootName, kPackRootNameSize, strRoot);
  header.byCompressed = bCompressed ? 1 : 0;
}

PackEntry& CTestPack::AddEntry(const std::string& strName, const std::string& strStored, const std::string& strTag,
                               uint32_t dwOrigSize) {
  PackEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  SetField(entry.szName, kPackNameSize, strName);
  entry.dwStoredSize = static_cast<uint32_t>(strStored.size());
  entry.dwOrigSize = dwOrigSize == UINT32_MAX ? entry.dwStoredSize : dwOrigSize;
  entry.dwOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
  SetField(entry.szTag, kPackTagSize, strTag);
  strData += strStored;
  vecEntries.push_back(entry);
  return vecEntries.back();
}

void CTestPack::AddHole(uint32_t dwSize) {
  vecFree.push_back({kPackHeaderSize + static_cast<uint32_t>(strData.size()), dwSize});
  strData.append(dwSize, '\xEE');
}

void CTestPack::AddDir(int32_t nKind, const std::string& strFullPath) {
  PackDirRecord record;
  record.nKind = nKind;
  SetField(record.szFullPath, kPackNameSize, strFullPath);
  vecDirs.push_back(record);
}

void CTestPack::AddTreeForEntries() {
  const std::string strRoot = RootOf(header);
  std::map<std::string, std::vector<std::pair<int32_t, std::string>>> mapTree;
  mapTree[strRoot];
  for (const PackEntry& entry : vecEntries) {
    std::string strName = FieldString(entry.szName, kPackNameSize);
    if (strName.compare(0, strRoot.size() + 1, strRoot + "\\") != 0) continue;
    std::string strRest = strName.substr(strRoot.size() + 1);
    std::string strKey = strRoot;
    for (size_t nSep; (nSep = strRest.find('\\')) != std::string::npos;) {
      std::string strChild = strKey + "\\" + strRest.substr(0, nSep);
      strRest.erase(0, nSep + 1);
      if (!mapTree.count(strChild)) {
        mapTree[strKey].push_back({kPackDirKindDir, strChild});
        mapTree[strChild];
      }
      strKey = strChild;
    }
    mapTree[strKey].push_back({kPackDirKindFile, strKey + "\\" + strRest});
  }
  for (const auto& [strKey, vecChildren] : mapTree) {
    for (const auto& [nKind, strPath] : vecChildren) AddDir(nKind, strPath);
  }
}

std::string CTestPack::Bytes() const {
  PackHeader out = header;
  if (!bKeepHeader) {
    out.dwIndexOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
    out.nEntryCount = static_cast<int32_t>(vecEntries.size());
    out.nFreeBlockCount = static_cast<int32_t>(vecFree.size());
  }
  std::string strBytes(reinterpret_cast<const char*>(&out), sizeof(out));
  strBytes += strData;
  for (const PackEntry& entry : vecEntries) strBytes.append(reinterpret_cast<const char*>(&entry), sizeof(entry));
  for (const PackDirRecord& record : vecDirs) strBytes.append(reinterpret_cast<const char*>(&record), sizeof(record));
  strBytes += strAfterDirs;
  for (const PackFreeBlock& block : vecFree) strBytes.append(reinterpret_cast<const char*>(&block), sizeof(block));
  return strBytes;
}

void CTestPack::WriteTo(const std::filesystem::path& path) const {
  WriteFileBytes(path, Bytes());
}

CTestPack CTestPack::Parse(const std::string& strBytes) {
  CTestPack pack;
  pack.bKeepHeader = true;
  if (strBytes.size() < kPackHeaderSize) throw std::runtime_error("shorter than a pack header");
  std::memcpy(&pack.header, strBytes.data(), sizeof(PackHeader));
  const uint64_t qwSize = strBytes.size();
  const uint64_t qwIndex = pack.header.dwIndexOffset;
  const uint64_t qwEntries = pack.header.nEntryCount > 0 ? pack.header.nEntryCount : 0;
  const uint64_t qwFree = pack.header.nFreeBlockCount > 0 ? pack.header.nFreeBlockCount : 0;
  const uint64_t qwDirStart = qwIndex + qwEntries * kPackEntrySize;
  if (qwIndex < kPackHeaderSize || qwDirStart + qwFree * kPackFreeBlockSize > qwSize) {
    throw std::runtime_error("regions do not fit the file");
  }
  pack.strData = strBytes.substr(kPackHeaderSize, qwIndex - kPackHeaderSize);
  for (uint64_t i = 0; i < qwEntries; ++i) {
    PackEntry entry;
    std::memcpy(&entry, strBytes.data() + qwIndex + i * kPackEntrySize, sizeof(entry));
    pack.vecEntries.push_back(entry);
  }
  const uint64_t qwFreeStart = qwSize - qwFree * kPackFreeBlockSize;
  const uint64_t qwDirCount = (qwFreeStart - qwDirStart) / kPackDirRecordSize;
  for (uint64_t i = 0; i < qwDirCount; ++i) {
    PackDirRecord record;
    std::memcpy(&record, strBytes.data() + qwDirStart + i * kPackDirRecordSize, sizeof(record));
    pack.vecDirs.push_back(record);
  }
  const uint64_t qwDirEnd = qwDirStart + qwDirCount * kPackDirRecordSize;
  pack.strAfterDirs = strBytes.substr(qwDirEnd, qwFreeStart - qwDirEnd);
  for (uint64_t i = 0; i < qwFree; ++i) {
    PackFreeBlock block;
    std::memcpy(&block, strBytes.data() + qwFreeStart + i * kPackFreeBlockSize, sizeof(block));
    pack.vecFree.push_back(block);
  }
  return pack;
}

CTestPack CTestPack::ReadFrom(const std::filesystem::path& path) {
  return Parse(ReadFileBytes(path));
}

std::string CTestPack::StoredBytes(const PackEntry& entry) const {
  if (entry.dwOffset < kPackHeaderSize ||
      static_cast<uint64_t>(entry.dwOffset) + entry.dwStoredSize > kPackHeaderSize + strData.size()) {
    throw std::runtime_error("entry lies outside the data area");
  }
  return strData.substr(entry.dwOffset - kPackHeaderSize, entry.dwStoredSize);
}

const PackEntry* CTestPack::FindEntry(const std::string& strName) const {
  for (const PackEntry& entry : vecEntries) {
    if (FieldString(entry.szName, kPackNameSize) == strName) return &entry;
  }
  return nullptr;
}

std::string RootOf(const PackHeader& header) {
  return FieldString(header.szRootName, kPackRootNameSize);
}

std::string Lzma86Encode(const std::string& strPlain) {
  std::string strOut(Lzma86CompressBound(static_cast<uint32_t>(strPlain.size())), '\0');
  uint32_t dwLen = static_cast<uint32_t>(strOut.size());
  EXPECT_EQ(kLzmaOk, LzmaCompress(reinterpret_cast<const unsigned char*>(strPlain.data()),
                                  static_cast<uint32_t>(strPlain.size()), reinterpret_cast<unsigned char*>(&strOut[0]),
                                  &dwLen, -1));
  strOut.resize(dwLen);
  return strOut;
}

std::string Lzma86Decode(const std::string& strStream, uint32_t dwOrigSize) {
  std::string strOut(size_t{dwOrigSize} + kLzma86DecodeSlack, '\0');
  uint32_t dwLen = dwOrigSize;
  EXPECT_EQ(kLzmaOk, LzmaUncompress(reinterpret_cast<const unsigned char*>(strStream.data()),
                                    static_cast<uint32_t>(strStream.size()),
                                    reinterpret_cast<unsigned char*>(&strOut[0]), &dwLen));
  strOut.resize(dwLen);
  return strOut;
}
