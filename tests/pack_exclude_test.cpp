// Files left out of a build on purpose: which paths a pattern takes, and
// that a build, its naming and the release of a file list all leave out
// exactly those, before opening them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text_case.h"
#include "tests/support/release_tree.h"
#include "tests/support/temp_dir.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packexclude.h"

namespace fs = std::filesystem;

namespace {

// An entry name as the pack has it: code page 936, backslashes, folded.
std::string FoldedEntryName(const std::string& strUtf8) {
  std::string strName = LowerCopy(Gbk(strUtf8));
  std::replace(strName.begin(), strName.end(), '/', '\\');
  return strName;
}

struct CExcludeCase {
  const char* pszPattern;
  const char* pszEntry;  // UTF-8, '/' between components, root name first
  bool bExcluded;
};

TEST(BuildExcludesTest, PatternsTakeWhatTheySay) {
  const CExcludeCase kCases[] = {
      {"*.bak", "res/a.bak", true},                            // a name pattern, at the top
      {"*.bak", "res/ui/deep/b.BAK", true},                    // in any directory, any case
      {"*.bak", "res/ui/a.bak.txt", false},                    // the whole name
      {"ui/*.tmp", "res/ui/x.tmp", true},                      // anchored at the root
      {"ui/*.tmp", "res/other/ui/x.tmp", false},               // not below another directory
      {"/config.h", "res/config.h", true},                     // a leading separator anchors a name
      {"/config.h", "res/sub/config.h", false},                //
      {"net/netfilter", "res/net/netfilter/xt_MARK.h", true},  // a directory takes what is below it
      {"net/netfilter", "res/net/netfilter.h", false},         //
      {"NET\\XT_mark.h", "res/net/xt_mark.h", true},           // '\' and any case
      {"**/cvs", "res/a/b/CVS/entries", true},                 // any directories, a directory below them
      {"**/cvs", "res/cvs/entries", true},                     // none included
      {"ui/**/*.png", "res/ui/icons/big/a.png", true},         //
      {"ui/**/*.png", "res/ui/a.png", true},                   //
      {"ui/**/*.png", "res/uix/a.png", false},                 //
      {"?.txt", "res/a.txt", true},                            // one character
      {"?.txt", "res/ab.txt", false},                          //
      {"?.txt", "res/地.txt", true},                           // a double-byte character is one
      {"地图/*", "res/地图/城镇.map", true},                   //
      {"*", "res", false},                                     // never the root itself
      {"a*b*c", "res/aXXbYYc", true},                          // backtracking over stars
      {"a*b*c", "res/aXXbYYcd", false},                        //
  };
  for (const CExcludeCase& test : kCases) {
    SCOPED_TRACE(std::string(test.pszPattern) + " on " + test.pszEntry);
    const CBuildExcludes excludes({Gbk(test.pszPattern)});
    EXPECT_EQ(test.bExcluded, excludes.Excludes(FoldedEntryName(test.pszEntry)));
  }
  EXPECT_TRUE(CBuildExcludes({"/", ""}).Empty());
  EXPECT_FALSE(CBuildExcludes().Excludes("res\\a.bak"));
}

class ExcludeBuildTest : public ::testing::Test {
 protected:
  void Write(const std::string& strRel, const std::string& strBytes) {
    fs::create_directories((m_dir.Path() / Utf8Path(strRel)).parent_path());
    WriteFileBytes(m_dir.Path() / Utf8Path(strRel), strBytes);
  }
  CTempDir m_dir;
};

// Excluded files are never opened (a dangling link, a path too long for a
// build), take no name from another file, and are in no release.
TEST_F(ExcludeBuildTest, ABuildAndItsReleaseLeaveOutExactlyTheExcludedFiles) {
  Write("client/ui/a.txt", "a");
  Write("client/ui/a.bak", "backup");
  Write("client/tmp/x.txt", "scratch");
  const std::string strRoot = m_dir.ProgramPath("client");
  CPackFile tree;
  tree.SetBuildExcludes({"*.bak", "tmp", "ui/missing.txt", "long*"});
  tree.SetRootPath(strRoot.c_str());
  tree.CollectFiles(strRoot.c_str());
  tree.AddFile(m_dir.ProgramPath("client/ui/missing.txt").c_str());
  tree.AddFile((strRoot + "\\long" + std::string(MAX_PATH, 'x')).c_str());

  size_t nExcluded = 0;
  for (const CBuildFileName& name : tree.NameBuildFiles()) {
    const bool bExcluded = name.eFate == BuildFileFate::kExcluded;
    nExcluded += bExcluded;
    EXPECT_TRUE(bExcluded || name.strName == "client\\ui\\a.txt") << name.strFile;
  }
  EXPECT_EQ(4u, nExcluded);
  ContentTagMap mapRelease;
  std::string strFailed;
  ASSERT_TRUE(tree.ReleaseManifest(false, mapRelease, strFailed));
  ASSERT_EQ(1u, mapRelease.size());
  EXPECT_EQ("client\\ui\\a.txt", mapRelease.begin()->first);

  ASSERT_TRUE(tree.CreatePack(strRoot.c_str(), m_dir.ProgramPath().c_str(), false, nullptr, "p", false));
  EXPECT_EQ((ReleaseFiles{{"ui/a.txt", "a"}}), PackContent(m_dir.Path() / "p.pak"));
}

}  // namespace
