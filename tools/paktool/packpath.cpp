#include "tools/paktool/packpath.h"

#include "platform/cp936.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/paths.h"

namespace paktool {

namespace {

PackItemKind KindOf(CPackFile& pack, const std::string& strName) {
  if (pack.GetDirMap().count(strName)) return PackItemKind::kDirectory;
  if (pack.GetEntryMap()->count(strName)) return PackItemKind::kEntry;
  return PackItemKind::kNone;
}

}  // namespace

CPackArg PackArg(const std::string& strArg) { return {ArgPath(strArg), strArg}; }

std::unique_ptr<CPackFile> OpenPack(const CPackArg& pack) {
  auto pPack = std::make_unique<CPackFile>();
  if (pPack->OpenForReading(pack.strPath)) return pPack;
  ReportError(pack.strShown, GetLastError());
  return nullptr;
}

CPackItem FindPackItem(CPackFile& pack, const std::string& strArg) {
  const std::string strRoot = FieldString(pack.GetRootName(), kPackRootNameSize);
  std::string strJoined;
  for (const std::string& strPart : SplitPath(ArgPath(strArg))) {
    if (strPart == ".") continue;
    if (!strJoined.empty()) strJoined += '\\';
    strJoined += strPart;
  }
  // Names are folded byte by byte, trail bytes included: fold the same way.
  if (!strJoined.empty()) CPackFile::MakeLower(&strJoined[0]);

  CPackItem item;
  if (strJoined.empty()) {
    item.strName = strRoot;
    item.kind = KindOf(pack, strRoot);
    return item;
  }
  for (const std::string& strName : {strJoined, strRoot + '\\' + strJoined}) {
    item.kind = KindOf(pack, strName);
    if (item.kind != PackItemKind::kNone) {
      item.strName = strName;
      return item;
    }
  }
  item.strName = strJoined;
  return item;
}

std::string ShownName(const std::string& strName) {
  std::string strShown;
  strShown.reserve(strName.size());
  for (size_t i = 0; i < strName.size(); ++i) {
    const unsigned char by = static_cast<unsigned char>(strName[i]);
    if (Cp936IsLeadByte(by) && i + 1 < strName.size()) {
      strShown.append(strName, i, 2);
      ++i;
    } else {
      strShown += by == '\\' ? '/' : strName[i];
    }
  }
  return strShown;
}

}  // namespace paktool
