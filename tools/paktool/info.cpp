// paktool info PACK [--json]: the header and the sizes of a pack's regions.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>

#include "tools/paktool/commands.h"
#include "tools/paktool/json.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"

namespace paktool {

namespace {

struct CInfoOptions {
  std::string strPack;
  bool bJson = false;
};

std::string Field(const char* pszLabel, const std::string& strValue) {
  char szLabel[32];
  std::snprintf(szLabel, sizeof(szLabel), "%-14s", pszLabel);
  return szLabel + strValue;
}

std::string Bytes(uint64_t qwCount) { return std::to_string(qwCount) + (qwCount == 1 ? " byte" : " bytes"); }

// The magic as text, bytes that are not printable ASCII shown as '?'.
std::string MagicText(const PackHeader& header) {
  std::string strMagic = FieldString(header.szMagic, kPackMagicSize);
  for (char& ch : strMagic) {
    if (ch < 0x20 || ch > 0x7E) ch = '?';
  }
  return strMagic;
}

// What info shows, gathered once for both forms of output.
struct CInfoFacts {
  uint64_t qwRecords = 0;
  uint64_t qwDirectories = 0;
  uint64_t qwFreeBytes = 0;
  uint64_t qwHoleBytes = 0;
  double dHoleShare = 0;  // of the file, 0 to 1
  uint64_t qwPlain = 0;
  uint64_t qwStored = 0;
  bool bHaveFileSize = false;
  uint64_t qwFileSize = 0;
  std::string strVersion;  // the header's version as %g shows it
};

CInfoFacts GatherInfo(CPackFile& pack, const CPackArg& packArg) {
  CInfoFacts facts;
  for (const auto& item : pack.GetDirMap()) facts.qwRecords += item.second.size();
  // The root is a key of the tree but not a directory of its own.
  facts.qwDirectories = pack.GetDirMap().empty() ? 0 : pack.GetDirMap().size() - 1;
  for (const PackFreeBlock& block : pack.GetFreeBlocks()) facts.qwFreeBytes += block.dwSize;
  facts.qwHoleBytes = pack.GetHoleBytes();
  facts.dHoleShare = pack.GetHoleShare();
  for (const auto& item : *pack.GetEntryMap()) {
    facts.qwPlain += item.second->dwOrigSize;
    facts.qwStored += item.second->dwStoredSize;
  }
  facts.bHaveFileSize = FileSize(packArg.strPath, facts.qwFileSize);
  char szVersion[32];
  std::snprintf(szVersion, sizeof(szVersion), "%g", static_cast<double>(pack.GetHeader()->fVersion));
  facts.strVersion = szVersion;
  return facts;
}

void PrintInfo(const PackHeader& header, const CPackArg& packArg, const CInfoFacts& facts) {
  PrintLine(Field("pack:", packArg.strShown));
  PrintLine(Field("magic:", MagicText(header)));
  PrintLine(Field("version:", facts.strVersion));
  PrintLine(Field("root name:", FieldString(header.szRootName, kPackRootNameSize)));
  PrintLine(Field("compressed:", header.byCompressed ? "yes (Lzma86)" : "no"));
  PrintLine(Field("entries:", std::to_string(header.nEntryCount)));
  PrintLine(Field("directories:", std::to_string(facts.qwDirectories)));
  PrintLine(Field("tree records:", std::to_string(facts.qwRecords)));
  PrintLine(Field("free blocks:", std::to_string(header.nFreeBlockCount)));
  PrintLine(Field("free bytes:", Bytes(facts.qwFreeBytes)));
  char szShare[32];
  std::snprintf(szShare, sizeof(szShare), " (%.1f%% of the file)", facts.dHoleShare * 100);
  PrintLine(Field("holes:", Bytes(facts.qwHoleBytes) + szShare));
  PrintLine(Field("data area:", Bytes(header.dwIndexOffset - kPackHeaderSize) + " (offsets 60 to " +
                                    std::to_string(header.dwIndexOffset) + ")"));
  PrintLine(Field("content:", Bytes(facts.qwPlain) + ", " + Bytes(facts.qwStored) + " stored"));
  PrintLine(Field("file size:", facts.bHaveFileSize ? Bytes(facts.qwFileSize) : "?"));
}

// The same fields as one JSON document; sizes are numbers of bytes.
void PrintInfoJson(const PackHeader& header, const CPackArg& packArg, const CInfoFacts& facts) {
  nlohmann::json document = {
      {"pack", JsonText(packArg.strShown)},
      {"magic", MagicText(header)},
      {"version", std::strtod(facts.strVersion.c_str(), nullptr)},
      {"root", JsonText(FieldString(header.szRootName, kPackRootNameSize))},
      {"compressed", header.byCompressed != 0},
      {"entries", header.nEntryCount},
      {"directories", facts.qwDirectories},
      {"tree_records", facts.qwRecords},
      {"free_blocks", header.nFreeBlockCount},
      {"free_bytes", facts.qwFreeBytes},
      {"holes", {{"bytes", facts.qwHoleBytes}, {"share", facts.dHoleShare}}},
      {"data_area",
       {{"bytes", header.dwIndexOffset - kPackHeaderSize}, {"start", kPackHeaderSize}, {"end", header.dwIndexOffset}}},
      {"content", {{"bytes", facts.qwPlain}, {"stored_bytes", facts.qwStored}}},
      {"file_size", facts.bHaveFileSize ? nlohmann::json(facts.qwFileSize) : nlohmann::json(nullptr)}};
  PrintJson(document);
}

int RunInfo(const CInfoOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
  if (!pPack) return kExitFailure;
  const CInfoFacts facts = GatherInfo(*pPack, packArg);
  if (options.bJson) {
    PrintInfoJson(*pPack->GetHeader(), packArg, facts);
  } else {
    PrintInfo(*pPack->GetHeader(), packArg, facts);
  }
  return kExitOk;
}

}  // namespace

CCommand AddInfoCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CInfoOptions>();
  CLI::App* pSub = app.add_subcommand("info", "Show a pack's header, counts and sizes.");
  pSub->add_option("PACK", pOptions->strPack, "the pack")->required()->type_name("FILE");
  pSub->add_flag("--json", pOptions->bJson, "write the fields as one JSON document to standard output");
  pSub->footer(
      "Shows the header fields (magic, version, root name, compression flag), the\n"
      "number of entries, directories, directory-table records and free blocks, the\n"
      "free bytes, the holes (bytes of the data area no entry covers; 'paktool\n"
      "compact' removes them), the data area, the entries' plain and stored sizes\n"
      "and the file size. With --json the same fields, sizes as numbers of bytes:\n"
      "pack, magic, version, root, compressed, entries, directories, tree_records,\n"
      "free_blocks, free_bytes, holes (bytes, share: of the file, 0 to 1), data_area\n"
      "(bytes, start, end), content (bytes, stored_bytes), file_size.");
  return {pSub, [pOptions] { return RunInfo(*pOptions); }};
}

}  // namespace paktool
