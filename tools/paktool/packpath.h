// Packs and names inside them as the commands take them from the user.
#pragma once

#include <memory>
#include <string>

#include "tools/filepacktools_lib/crealizepack.h"

namespace paktool {

// A pack named on the command line: its path for the program and the
// argument as typed, for messages (both code page 936).
struct CPackArg {
  std::string strPath;
  std::string strShown;
};

CPackArg PackArg(const std::string& strArg);

// Opens a pack for reading; a read-only file will do, unless an interrupted
// merge left a journal that needs writing into it. Reports a failure and
// returns null.
std::unique_ptr<CPackFile> OpenPack(const CPackArg& pack);

enum class PackItemKind { kNone, kDirectory, kEntry };

struct CPackItem {
  PackItemKind kind = PackItemKind::kNone;
  std::string strName;  // the directory key or entry name
};

// What a name typed by the user stands for in the pack: '/' or '\' between
// components, with or without the root name in front ("res/ui" and "ui"
// both give res\ui), A-Z folded as the pack folds names. "" and "/" name
// the root. The name as given wins over the root-prefixed one.
CPackItem FindPackItem(CPackFile& pack, const std::string& strArg);

// A name of the pack as shown to the user: '/' between components.
std::string ShownName(const std::string& strName);

}  // namespace paktool
