// paktool list PACK [DIR]: the files and directories of a pack directory,
// in the order of the pack's directory table, as a directory search of the
// pack returns them.
#include <cstdio>
#include <memory>
#include <set>

#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"

namespace paktool {

namespace {

struct CListOptions {
  std::string strPack;
  std::string strDir;
  bool bLong = false;
  bool bRecursive = false;
};

class CLister {
 public:
  CLister(CPackFile& pack, const CListOptions& options) : m_pack(pack), m_options(options) {}

  void ListDirectory(const std::string& strKey);
  void ListEntry(const std::string& strName);

 private:
  void PrintRecord(const PackDirRecord& record);

  CPackFile& m_pack;
  const CListOptions& m_options;
  std::set<std::string> m_setListed;  // a table listing a directory twice is walked once
};

// A tag as text; bytes that are not printable ASCII are shown as '?'.
std::string TagText(const PackEntry& entry) {
  std::string strTag = FieldString(entry.szTag, kPackTagSize);
  for (char& ch : strTag) {
    if (ch < 0x20 || ch > 0x7E) ch = '?';
  }
  return strTag.empty() ? "-" : strTag;
}

// --long: size, stored size, offset, tag, name; "-" where there is no value.
std::string LongLine(const PackEntry* pEntry, const std::string& strName) {
  char szColumns[96];
  if (pEntry) {
    std::snprintf(szColumns, sizeof(szColumns), "%10u %10u %10u  %-32s  ", static_cast<unsigned>(pEntry->dwOrigSize),
                  static_cast<unsigned>(pEntry->dwStoredSize), static_cast<unsigned>(pEntry->dwOffset),
                  TagText(*pEntry).c_str());
  } else {
    std::snprintf(szColumns, sizeof(szColumns), "%10s %10s %10s  %-32s  ", "-", "-", "-", "-");
  }
  return szColumns + strName;
}

void CLister::PrintRecord(const PackDirRecord& record) {
  const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
  if (record.nKind == kPackDirKindDir) {
    const std::string strShown = ShownName(strPath) + '/';
    PrintLine(m_options.bLong ? LongLine(nullptr, strShown) : strShown);
    return;
  }
  if (!m_options.bLong) {
    PrintLine(ShownName(strPath));
    return;
  }
  auto itEntry = m_pack.GetEntryMap()->find(strPath);
  PrintLine(LongLine(itEntry == m_pack.GetEntryMap()->end() ? nullptr : itEntry->second.get(), ShownName(strPath)));
}

void CLister::ListDirectory(const std::string& strKey) {
  auto itDir = m_pack.GetDirMap().find(strKey);
  if (itDir == m_pack.GetDirMap().end() || !m_setListed.insert(strKey).second) return;
  for (const PackDirRecord& record : itDir->second) {
    PrintRecord(record);
    if (m_options.bRecursive && record.nKind == kPackDirKindDir) {
      ListDirectory(FieldString(record.szFullPath, kPackNameSize));
    }
  }
}

void CLister::ListEntry(const std::string& strName) {
  PackDirRecord record = {};
  record.nKind = kPackDirKindFile;
  SetField(record.szFullPath, kPackNameSize, strName);
  PrintRecord(record);
}

int RunList(const CListOptions& options) {
  const CPackArg packArg = PackArg(options.strPack);
  std::unique_ptr<CPackFile> pPack = OpenPack(packArg);
  if (!pPack) return kExitFailure;
  const CPackItem item = FindPackItem(*pPack, options.strDir);
  CLister lister(*pPack, options);
  switch (item.kind) {
    case PackItemKind::kDirectory:
      lister.ListDirectory(item.strName);
      return kExitOk;
    case PackItemKind::kEntry:
      lister.ListEntry(item.strName);
      return kExitOk;
    case PackItemKind::kNone:
      break;
  }
  ReportFailure(packArg.strShown + ": " + ShownName(item.strName), "no such directory or entry in the pack");
  return kExitFailure;
}

}  // namespace

CCommand AddListCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CListOptions>();
  CLI::App* pSub = app.add_subcommand("list", "List the files and directories of a pack directory.");
  pSub->add_option("PACK", pOptions->strPack, "the pack")->required()->type_name("FILE");
  pSub->add_option("DIR", pOptions->strDir, "a directory (default: the root) or an entry of the pack")
      ->type_name("NAME");
  pSub->add_flag("-l,--long", pOptions->bLong, "show size, stored size, offset and tag before each name");
  pSub->add_flag("-r,--recursive", pOptions->bRecursive, "list the directories below as well");
  pSub->footer(
      "Lists the directory's children in the order of the pack's directory table,\n"
      "one full name a line; directories end with '/'. With --long the columns are\n"
      "size, stored size, offset, tag ('-' for none) and name.");
  return {pSub, [pOptions] { return RunList(*pOptions); }};
}

}  // namespace paktool
