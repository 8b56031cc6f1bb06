// The files a build leaves out, told before it starts: a build never drops
// a file without a word. Files excluded on purpose (--exclude) are counted
// apart; a file that both releases of a diff leave out is told once.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/filepacktools_lib/packbuildnames.h"

namespace CLI {
class App;
}

namespace paktool {

// --exclude PATTERN, repeatable, for a command that reads directories or
// lists: their files whose paths below the root match a pattern are left
// out on purpose (CPackFile::SetBuildExcludes).
void AddExcludeOption(CLI::App& command, std::vector<std::string>& vecExcludes);

// A source file as messages show it: below strBaseDir (the directory the
// user ran the command in) as a relative path, else whole, with '/'
// between components.
std::string ShownFile(const std::string& strPath, const std::string& strBaseDir);

// The files of the releases a command reads (one, or OLD and NEW of a
// diff) that their builds do not take.
class CLeftOutFiles {
 public:
  // strBaseDir: where the user ran the command, for ShownFile.
  explicit CLeftOutFiles(std::string strBaseDir) : m_strBaseDir(std::move(strBaseDir)) {}

  // Adds a release's files as the library named them. strRootDir is its
  // root directory ("" for a file list): a file with the same path below it
  // as one an earlier release left out for the same reason is the same file
  // and is told once, naming both. vecNames must outlive this object.
  void Add(const std::vector<CBuildFileName>& vecNames, const std::string& strRootDir);

  // Tells on standard error every file left out and why (its entry name is
  // another file's, both named; it cannot be opened; it has no entry name;
  // its path is too long), then how many files were excluded. Returns how
  // many files were left out, excluded ones not counted.
  size_t Report() const;

  size_t ExcludedCount() const;

  // The files left out as JSON: one object per file, with "file", "reason"
  // ("folded", "cannot_open", "no_name", "path_too_long"), "entry" and
  // "taken_by" for a folded one, and "also" (the other release's file) for
  // one both releases leave out.
  nlohmann::json LeftOutJson() const;
  // The excluded files: "file", "entry", and "also" as above.
  nlohmann::json ExcludedJson() const;

 private:
  struct CItem {
    const std::vector<CBuildFileName>* pNames;
    size_t nIndex;
    std::string strAlsoFile;  // the same file of a later release
    const CBuildFileName& Name() const { return (*pNames)[nIndex]; }
  };

  std::string Shown(const std::string& strFile) const { return ShownFile(strFile, m_strBaseDir); }
  std::string Told(const CItem& item) const;

  std::string m_strBaseDir;
  std::vector<CItem> m_vecItems;
  // The fate, the path below the root and the entry name of each item.
  std::unordered_map<std::string, size_t> m_mapKeys;
};

}  // namespace paktool
