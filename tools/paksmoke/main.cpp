// A small end-to-end run of the pack library until the updater exists:
// writes a client pack and an update pack into a directory, merges the
// update into the client in place, and prints both before and after.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/fileio.h"

namespace {

struct SampleFile {
  const char* pszName;
  std::string strContent;
  const char* pszTag;
};

// Writes a plain pack: header, blobs, index in name order, directory table.
bool WritePack(const std::string& strPath, const char* pszRoot, std::vector<SampleFile> vecFiles,
               const std::vector<std::pair<int32_t, const char*>>& vecDirs) {
  std::sort(vecFiles.begin(), vecFiles.end(),
            [](const SampleFile& a, const SampleFile& b) { return std::strcmp(a.pszName, b.pszName) < 0; });
  PackHeader header = {};
  std::memcpy(header.szMagic, kPackMagic, kPackMagicSize);
  std::memcpy(&header.fVersion, &kPackVersionBits, sizeof(float));
  SetField(header.szRootName, kPackRootNameSize, pszRoot);
  header.nEntryCount = static_cast<int32_t>(vecFiles.size());
  std::string strData;
  std::string strIndex;
  for (const SampleFile& file : vecFiles) {
    PackEntry entry = {};
    SetField(entry.szName, kPackNameSize, file.pszName);
    entry.dwOrigSize = entry.dwStoredSize = static_cast<uint32_t>(file.strContent.size());
    entry.dwOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
    SetField(entry.szTag, kPackTagSize, file.pszTag);
    strData += file.strContent;
    strIndex.append(reinterpret_cast<const char*>(&entry), sizeof(entry));
  }
  for (const auto& dir : vecDirs) {
    PackDirRecord record = {};
    record.nKind = dir.first;
    SetField(record.szFullPath, kPackNameSize, dir.second);
    strIndex.append(reinterpret_cast<const char*>(&record), sizeof(record));
  }
  header.dwIndexOffset = kPackHeaderSize + static_cast<uint32_t>(strData.size());
  CScopedHandle hFile(CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  return hFile && WriteAll(hFile.Get(), &header, sizeof(header)) &&
         WriteAll(hFile.Get(), strData.data(), strData.size()) && WriteAll(hFile.Get(), strIndex.data(), strIndex.size());
}

void PrintPack(const char* pszTitle, const std::string& strPath) {
  CPackFile pack;
  if (!pack.Open(strPath)) {
    std::printf("%s: cannot open %s (error %u)\n", pszTitle, strPath.c_str(), static_cast<unsigned>(GetLastError()));
    return;
  }
  const PackHeader& header = *pack.GetHeader();
  std::printf("%s: root \"%s\", %d entries, %d free blocks, data area %u bytes\n", pszTitle, pack.GetRootName(),
              header.nEntryCount, header.nFreeBlockCount, header.dwIndexOffset - kPackHeaderSize);
  for (const auto& item : *pack.GetEntryMap()) {
    std::printf("  %-24s %6u bytes at %6u  tag %.32s\n", item.first.c_str(), item.second->dwOrigSize,
                item.second->dwOffset, item.second->szTag);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: paksmoke DIRECTORY\n");
    return 2;
  }
  const std::string strDir = argv[1];
  const std::string strClient = strDir + "\\clientres.pak";
  const std::string strUpdate = strDir + "\\update.pak";
  if (!WritePack(strClient, "res",
                 {{"res\\ui\\title.txt", "Welcome, traveller", "v1-title"},
                  {"res\\ui\\icon.bin", std::string(64, '\x11'), "v1-icon"},
                  {"res\\maps\\town.map", std::string(256, 'T'), "v1-town"}},
                 {{1, "res\\ui"}, {1, "res\\maps"}, {0, "res\\maps\\town.map"}, {0, "res\\ui\\title.txt"},
                  {0, "res\\ui\\icon.bin"}}) ||
      !WritePack(strUpdate, "res",
                 {{"res\\ui\\title.txt", "Welcome back", "v2-title"},
                  {"res\\ui\\icon.bin", std::string(64, '\x11'), "v1-icon"},
                  {"res\\maps\\town.map", std::string(300, 'N'), "v2-town"},
                  {"res\\maps\\cave.map", std::string(40, 'C'), "v2-cave"}},
                 {})) {
    std::fprintf(stderr, "paksmoke: cannot write the sample packs in %s (error %u)\n", strDir.c_str(),
                 static_cast<unsigned>(GetLastError()));
    return 1;
  }
  PrintPack("client before", strClient);
  PrintPack("update", strUpdate);
  int nMerged = g_realizePack.MergePack(strUpdate.c_str(), strClient.c_str());
  std::printf("MergePack returned %d\n", nMerged);
  PrintPack("client after", strClient);
  return nMerged == 1 ? 0 : 1;
}
