// Writes the seed corpora of the fuzz targets: packs of every shape, update
// packs for the fixed client, Lzma86 streams and undo journals. Generated
// here rather than checked in.
//   make_fuzz_seeds DIR   writes DIR/<target>/seed-N
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_packs.h"
#include "fuzz/fuzz_sandbox.h"
#include "tools/filepacktools_lib/packjournal.h"
#include "tools/filepacktools_lib/scopedhandle.h"

namespace fs = std::filesystem;

namespace {

void WriteSeeds(const fs::path& dir, const std::vector<std::string>& vecSeeds) {
  fs::create_directories(dir);
  for (size_t i = 0; i < vecSeeds.size(); ++i) WriteBytes(dir / ("seed-" + std::to_string(i)), vecSeeds[i]);
}

std::string Text(size_t nSize) {
  std::string str;
  while (str.size() < nSize) str += "patchloom pack line " + std::to_string(str.size()) + "\n";
  return str.substr(0, nSize);
}

std::vector<std::string> Packs() {
  const std::vector<CFuzzEntry> vecEntries = {{"res\\a.txt", "top", "t1"},
                                              {"res\\ui\\b.txt", Text(200), "t2"},
                                              {"res\\ui\\deep\\c.bin", std::string(64, '\x90'), ""},
                                              {"res\\\xB5\xD8\xCD\xBC\\\xB3\xC7.map", Text(90), "t3"}};
  return {MakePack("res", vecEntries, false), MakePack("res", vecEntries, true),
          MakePack("res", vecEntries, false, 17), MakePack("res", {}, false),
          MakePack("r", {{"r\\x", "", ""}}, true)};
}

// Updates for the fixed client: changed entries that shrink, grow and keep
// their size, unchanged ones, new entries in and outside its tree.
std::vector<std::string> Updates() {
  const std::vector<CFuzzEntry> vecEntries = {{"res\\loose\\l.txt", "loose", "l1"},
                                              {"res\\maps\\m.map", "a longer map", "m2"},
                                              {"res\\ui\\a.txt", "short", "a2"},
                                              {"res\\ui\\b.txt", "bbbb", "b1"},
                                              {"res\\ui\\deep\\new.txt", Text(40), "n1"},
                                              {"res\\ui\\z.txt", Text(500), "z1"}};
  return {MakePack("res", vecEntries, false), MakePack("res", vecEntries, true),
          MakePack("res", {{"res\\ui\\b.txt", Text(3000), "b2"}}, true)};
}

std::vector<std::string> Streams() {
  return {Lzma86(""), Lzma86("a"), Lzma86(Text(1000)), Lzma86(std::string(5000, '\0')),
          Lzma86(std::string("\xE8\x00\x00\x00\x00\xE9\x10\x20\x30\x40", 10) + Text(100))};
}

// Journals as a merge writes them, for the fixed client.
std::vector<std::string> Journals(const fs::path& work) {
  std::vector<std::string> vecOut;
  const std::string strClient = FixedClient();
  const std::vector<std::vector<CWriteRange>> vecRangeSets = {
      {{0, 60}}, {{0, 60}, {60, 16}, {100, 2000}}, {{0, 60}, {uint64_t(strClient.size()) - 40, 1u << 20}}};
  for (const auto& vecRanges : vecRangeSets) {
    WriteBytes(work / "client.pak", strClient);
    const std::string strPath = (work / "client.pak").string();
    CScopedHandle hPack(CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    PackHeader newHeader;
    std::memcpy(&newHeader, strClient.data(), sizeof(newHeader));
    newHeader.dwIndexOffset += 100;
    if (!hPack || !WriteJournal(strPath, hPack.Get(), newHeader, vecRanges)) continue;
    vecOut.push_back(ReadBytes(work / "client.pak.journal"));
  }
  return vecOut;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);
  WriteSeeds(dir / "open_extract_stays_inside", Packs());
  WriteSeeds(dir / "merge_keeps_client_sound", Updates());
  WriteSeeds(dir / "lzma86_decode_is_bounded", Streams());
  fs::create_directories(dir / "scratch");
  WriteSeeds(dir / "journal_restore_is_safe", Journals(dir / "scratch"));
  fs::remove_all(dir / "scratch");
  return 0;
}
