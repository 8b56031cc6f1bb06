// paktool list PACK [DIR]: the files and directories of a pack directory,
// in the order of the pack's directory table, as a directory search of the
// pack returns them. --json: the same records as one JSON document.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"

namespace paktool {

namespace {

struct CListOptions {
  std::string strPack;
  std::string strDir;
  bool bLong = false;
  bool bRecursive = false;
  bool bJson = false;
};

class CLister {
 public:
  CLister(CPackFile& pack, const CListOptions& options) : m_pack(pack), m_options(options) {}

  void ListDirectory(const std::string& strKey);
  void ListEntry(const std::string& strName);

  // --json: the records listed so far.
  const nlohmann::json& Items() const { return m_jsonItems; }

 private:
  void PrintRecord(const PackDirRecord& record);
  const PackEntry* FindEntry(const std::string& strName) const;

  CPackFile& m_pack;
  const CListOptions& m_options;
  std::set<std::string> m_setListed;  // a table listing a directory twice is walked once
  nlohmann::json m_jsonItems = nlohmann::json::array();
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

// A record as JSON: a directory's name and kind; a file's also with its
// entry's sizes, offset and tag (null for none), unless the index lacks it.
nlohmann::json ItemJson(const PackDirRecord& record, const PackEntry* pEntry) {
  const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
  const bool bDir = record.nKind == kPackDirKindDir;
  nlohmann::json item = {{"name", JsonName(strPath)}, {"kind", bDir ? "directory" : "file"}};
  if (bDir || !pEntry) return item;
  const std::string strTag = TagText(*pEntry);
  item["size"] = pEntry->dwOrigSize;
  item["stored_size"] = pEntry->dwStoredSize;
  item["offset"] = pEntry->dwOffset;
  item["tag"] = strTag == "-" ? nlohmann::json(nullptr) : nlohmann::json(strTag);
  return item;
}

const PackEntry* CLister::FindEntry(const std::string& strName) const {
  auto itEntry = m_pack.GetEntryMap()->find(strName);
  return itEntry == m_pack.GetEntryMap()->end() ? nullptr : itEntry->second.get();
}

void CLister::PrintRecord(const PackDirRecord& record) {
  const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
  if (m_options.bJson) {
    m_jsonItems.push_back(ItemJson(record, record.nKind == kPackDirKindDir ? nullptr : FindEntry(strPath)));
    return;
  }
  if (record.nKind == kPackDirKindDir) {
    const std::string strShown = ShownName(strPath) + '/';
    PrintLine(m_options.bLong ? LongLine(nullptr, strShown) : strShown);
    return;
  }
  if (!m_options.bLong) {
    PrintLine(ShownName(strPath));
    return;
  }
  PrintLine(LongLine(FindEntry(strPath), ShownName(strPath)));
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
      break;
    case PackItemKind::kEntry:
      lister.ListEntry(item.strName);
      break;
    case PackItemKind::kNone:
      ReportFailure(packArg.strShown + ": " + ShownName(item.strName), "no such directory or entry in the pack");
      return kExitFailure;
  }
  if (options.bJson) {
    PrintJson({{"pack", JsonText(packArg.strShown)},
               {"listed", JsonName(item.strName)},
               {"kind", item.kind == PackItemKind::kDirectory ? "directory" : "file"},
               {"items", lister.Items()}});
  }
  return kExitOk;
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
  pSub->add_flag("--json", pOptions->bJson, "write the listing as one JSON document to standard output");
  pSub->footer(
      "Lists the directory's children in the order of the pack's directory table,\n"
      "one full name a line; directories end with '/'. With --long the columns are\n"
      "size, stored size, offset, tag ('-' for none) and name. With --json, standard\n"
      "output is one JSON document: pack, listed (the directory or entry), kind, and\n"
      "items, each with name and kind ('directory' or 'file'); a file also with\n"
      "size, stored_size, offset and tag (null for none) whether or not --long is\n"
      "given, unless the index lacks it.");
  return {pSub, [pOptions] { return RunList(*pOptions); }};
}

}  // namespace paktool
