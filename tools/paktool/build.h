// paktool build: shared parts of its three sources of files.
#pragma once

#include <string>
#include <vector>

namespace paktool {

struct CBuildOptions {
  std::vector<std::string> vecExcludes;
  std::string strSource;     // a directory
  std::string strConfigDir;  // or a work directory holding ConfigDir.txt
  std::string strList;       // or a file list
  std::string strName;
  std::string strOutput;
  bool bCompress = false;
  bool bTags = false;
};

// Where the pack goes, in CreatePack's terms.
struct CBuildTarget {
  bool bGiven = false;      // -o was given
  std::string strDir;       // destination directory, absolute
  std::string strFileName;  // file name without ".pak"; "" for the pack name
  std::string strShown;     // the pack as the user named it, for messages
};

// The target -o names: ".pak" is taken off the file name (CreatePack puts
// it back) and added when missing. Without -o: the pack name in the current
// directory. False when the file name is ".pak" alone.
bool MakeBuildTarget(const std::string& strOutput, CBuildTarget& target);

// The path of the pack as a target names it, once its pack name is known.
std::string TargetPath(const CBuildTarget& target, const std::string& strPackName);

// Opens the pack a build wrote and prints a line about it; a pack without a
// root name is a failure, and so is a build that left nLeftOut files out
// (reported before it ran; files excluded on purpose do not count).
int ReportBuilt(const std::string& strPath, const std::string& strShown, size_t nLeftOut);

int BuildFromConfigDir(const CBuildOptions& options, const CBuildTarget& target);

}  // namespace paktool
