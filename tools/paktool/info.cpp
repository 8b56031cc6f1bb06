// paktool info PACK: the header and the sizes of a pack's regions.
#include <cstdio>
#include <memory>

#include "tools/paktool/commands.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"

namespace paktool {

namespace {

struct CInfoOptions {
  std::string strPack;
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

std::string FileSizeText(const std::string& strPath) {
  uint64_t qwSize = 0;
  return FileSize(strPath, qwSize) ? Bytes(qwSize) : "?";
}

int RunInfo(const CInfoOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
  if (!pPack) return kExitFailure;
  const PackHeader& header = *pPack->GetHeader();

  uint64_t qwRecords = 0;
  for (const auto& item : pPack->GetDirMap()) qwRecords += item.second.size();
  uint64_t qwFreeBytes = 0;
  for (const PackFreeBlock& block : pPack->GetFreeBlocks()) qwFreeBytes += block.dwSize;
  uint64_t qwPlain = 0;
  uint64_t qwStored = 0;
  for (const auto& item : *pPack->GetEntryMap()) {
    qwPlain += item.second->dwOrigSize;
    qwStored += item.second->dwStoredSize;
  }
  char szVersion[32];
  std::snprintf(szVersion, sizeof(szVersion), "%g", static_cast<double>(header.fVersion));

  PrintLine(Field("pack:", packArg.strShown));
  PrintLine(Field("magic:", MagicText(header)));
  PrintLine(Field("version:", szVersion));
  PrintLine(Field("root name:", FieldString(header.szRootName, kPackRootNameSize)));
  PrintLine(Field("compressed:", header.byCompressed ? "yes (Lzma86)" : "no"));
  PrintLine(Field("entries:", std::to_string(header.nEntryCount)));
  // The root is a key of the tree but not a directory of its own.
  PrintLine(Field("directories:", std::to_string(pPack->GetDirMap().empty() ? 0 : pPack->GetDirMap().size() - 1)));
  PrintLine(Field("tree records:", std::to_string(qwRecords)));
  PrintLine(Field("free blocks:", std::to_string(header.nFreeBlockCount)));
  PrintLine(Field("free bytes:", Bytes(qwFreeBytes)));
  char szShare[32];
  std::snprintf(szShare, sizeof(szShare), " (%.1f%% of the file)", pPack->GetHoleShare() * 100);
  PrintLine(Field("holes:", Bytes(pPack->GetHoleBytes()) + szShare));
  PrintLine(Field("data area:", Bytes(header.dwIndexOffset - kPackHeaderSize) + " (offsets 60 to " +
                                    std::to_string(header.dwIndexOffset) + ")"));
  PrintLine(Field("content:", Bytes(qwPlain) + ", " + Bytes(qwStored) + " stored"));
  PrintLine(Field("file size:", FileSizeText(packArg.strPath)));
  return kExitOk;
}

}  // namespace

CCommand AddInfoCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CInfoOptions>();
  CLI::App* pSub = app.add_subcommand("info", "Show a pack's header, counts and sizes.");
  pSub->add_option("PACK", pOptions->strPack, "the pack")->required()->type_name("FILE");
  pSub->footer(
      "Shows the header fields (magic, version, root name, compression flag), the\n"
      "number of entries, directories, directory-table records and free blocks, the\n"
      "free bytes, the holes (bytes of the data area no entry covers; 'paktool\n"
      "compact' removes them), the data area, the entries' plain and stored sizes\n"
      "and the file size.");
  return {pSub, [pOptions] { return RunInfo(*pOptions); }};
}

}  // namespace paktool
