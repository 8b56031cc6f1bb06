// Leaving files out of a build on purpose (CPackFile::SetBuildExcludes,
// paktool --exclude): globs on a file's path below the build's root, which
// is its entry name without the root name ("net\xt_mark.h" of the entry
// "res\net\xt_mark.h"), so a file is matched after folding, as its entry
// name is.
//
// A pattern is code page 936 text with '/' or '\' between components,
// folded as entry names are (A-Z to a-z), and matched by characters (a
// double-byte character is one, its trail byte never a separator):
//   *    any run of characters within one component, none included
//   ?    any one character within a component
//   **   as a whole component: any run of components, none included
// A pattern without a separator matches a name in any directory ("*.bak",
// "CVS"); one with a separator is anchored at the root ("ui/*.tmp",
// "/config.h"). A pattern that matches a directory leaves out everything
// below it ("net/netfilter").
#pragma once

#include <string>
#include <vector>

class CBuildExcludes {
 public:
  CBuildExcludes() = default;
  // Patterns that are empty or only separators are ignored.
  explicit CBuildExcludes(const std::vector<std::string>& vecPatterns);

  bool Empty() const { return m_vecPatterns.empty(); }

  // True when the entry strEntryName (root name first, folded, backslashes)
  // lies under one of the patterns. An entry name without a component below
  // the root is never excluded.
  bool Excludes(const std::string& strEntryName) const;

 private:
  // Each pattern's components, folded; one without a separator starts with
  // "**".
  std::vector<std::vector<std::string>> m_vecPatterns;
};
