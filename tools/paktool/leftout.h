// The files a build leaves out, told before it starts: a build never drops
// a file without a word.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/packbuildnames.h"

namespace paktool {

// A source file as messages show it: below strBaseDir (the directory the
// user ran the command in) as a relative path, else whole, with '/'
// between components.
std::string ShownFile(const std::string& strPath, const std::string& strBaseDir);

// Reports on standard error every file the naming leaves out, and why:
// its entry name is another file's (both named), it cannot be opened, it
// has no entry name, its path is too long. Returns how many.
size_t ReportLeftOut(const std::vector<CBuildFileName>& vecNames, const std::string& strBaseDir);

// The same files as JSON: one object per file, with "file", "reason"
// ("folded", "cannot_open", "no_name", "path_too_long"), and "entry" and
// "taken_by" for a folded one.
nlohmann::json LeftOutJson(const std::vector<CBuildFileName>& vecNames, const std::string& strBaseDir);

}  // namespace paktool
