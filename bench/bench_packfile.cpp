#include "bench/bench_packfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace bench {

CPackIndex ReadPackIndex(const fs::path& path) {
  CPackIndex index;
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(&index.header), sizeof(index.header))) {
    throw std::runtime_error("cannot read " + path.string());
  }
  index.vecEntries.resize(static_cast<size_t>(std::max(index.header.nEntryCount, 0)));
  in.seekg(index.header.dwIndexOffset);
  if (!in.read(reinterpret_cast<char*>(index.vecEntries.data()),
               static_cast<std::streamsize>(index.vecEntries.size() * sizeof(PackEntry)))) {
    throw std::runtime_error("cannot read the index of " + path.string());
  }
  return index;
}

std::string ProgramPath(const fs::path& path) {
  std::string str = fs::absolute(path).lexically_normal().string();
  for (char& ch : str) ch = ch == '/' ? '\\' : ch;
  return str;
}

void WriteManyEntryPack(const fs::path& path, size_t nEntries) {
  constexpr size_t kPerDir = 500;
  constexpr uint32_t kBlob = 16;
  const size_t nDirs = (nEntries + kPerDir - 1) / kPerDir;
  std::string strBytes(kPackHeaderSize, '\0');
  strBytes.append(nEntries * kBlob, 'x');

  auto dirName = [](size_t nDir) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), "res\\d%04zu", nDir);
    return std::string(sz);
  };
  auto fileName = [&](size_t i) {
    char sz[32];
    std::snprintf(sz, sizeof(sz), "\\f%07zu.dat", i);
    return dirName(i / kPerDir) + sz;
  };
  // Names ascend with i, so this is name order, as the index is written.
  for (size_t i = 0; i < nEntries; ++i) {
    PackEntry entry = {};
    SetField(entry.szName, kPackNameSize, fileName(i));
    entry.dwOrigSize = entry.dwStoredSize = kBlob;
    entry.dwOffset = static_cast<uint32_t>(kPackHeaderSize + i * kBlob);
    strBytes.append(reinterpret_cast<const char*>(&entry), sizeof(entry));
  }
  // The directory table: the root's children, then each directory's.
  auto addRecord = [&](int32_t nKind, const std::string& strPath) {
    PackDirRecord record = {};
    record.nKind = nKind;
    SetField(record.szFullPath, kPackNameSize, strPath);
    strBytes.append(reinterpret_cast<const char*>(&record), sizeof(record));
  };
  for (size_t nDir = 0; nDir < nDirs; ++nDir) addRecord(kPackDirKindDir, dirName(nDir));
  for (size_t i = 0; i < nEntries; ++i) addRecord(kPackDirKindFile, fileName(i));

  PackHeader header = {};
  std::memcpy(header.szMagic, kPackMagic, kPackMagicSize);
  std::memcpy(&header.fVersion, &kPackVersionBits, sizeof(header.fVersion));
  header.dwIndexOffset = static_cast<uint32_t>(kPackHeaderSize + nEntries * kBlob);
  header.nEntryCount = static_cast<int32_t>(nEntries);
  SetField(header.szRootName, kPackRootNameSize, "res");
  std::memcpy(&strBytes[0], &header, sizeof(header));

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()))) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

void FlushFile(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0 || fsync(fd) != 0) throw std::runtime_error("cannot flush " + path.string());
  close(fd);
}

}  // namespace bench
