// A release as the command line names it: a pack, a directory tree whose
// directory is the root (as 'build DIR' takes it), or a build's file list.
#pragma once

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "tools/filepacktools_lib/crealizepack.h"

namespace paktool {

struct CRelease {
  std::string strShown;  // as typed
  std::string strPath;   // absolute
  enum class Kind { kPack, kDirectory, kList, kEmpty } eKind = Kind::kPack;
  std::string strRoot;
  std::unique_ptr<CPackFile> pRelease;   // an open pack, or a build's file list
  std::vector<CBuildFileName> vecNames;  // a tree or list: how a build takes its files

  bool IsPack() const { return eKind == Kind::kPack; }
  // The directory a tree's files lie below; "" for a pack or a list.
  std::string RootDir() const { return eKind == Kind::kDirectory ? strPath : std::string(); }
};

// Opens a pack, or walks a tree. A tree's files whose paths below the root
// match a pattern of vecExcludes (CPackFile::SetBuildExcludes) are left out
// of its release; a pack's entries are taken as they are. Reports a
// failure and returns false.
bool OpenRelease(const std::string& strArg, CRelease& release, const std::vector<std::string>& vecExcludes = {});

// Reads a build's file list (its first line names the root), leaving out
// the files vecExcludes names. Reports a failure and returns false.
bool OpenListRelease(const std::string& strArg, CRelease& release, const std::vector<std::string>& vecExcludes = {});

// A release without entries below strRoot: the old side of a full update.
void EmptyRelease(const std::string& strRoot, CRelease& release);

// {"path", "kind", "root"} of a release.
nlohmann::json ReleaseJson(const CRelease& release);

}  // namespace paktool
