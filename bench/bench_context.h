// What every benchmark needs: where the data lies, which programs to run.
#pragma once

#include <filesystem>
#include <string>

#include "bench/bench_data.h"
#include "bench/bench_table.h"

namespace bench {

// The root directory of every generated tree and the root name of its
// packs; it must not occur in the work directory's path, where entry names
// would start.
constexpr char kRootName[] = "gamedata";

struct CContext {
  std::filesystem::path work;  // the benchmark's directory (below build/)
  std::string strPaktool;
  std::string strSelf;         // this program, for the floor of the merge
  std::filesystem::path otherBuild;  // a second build of the programs, for the delta of a real rebuild
  CTree client;                // work/client/gamedata
  CTree update;                // work/update/gamedata
  CTree buildTree;             // work/buildtree/gamedata, and work/buildtree.bin

  // work/<strTree>/gamedata: where a tree's files lie.
  std::filesystem::path Root(const char* pszTree) const { return work / pszTree / kRootName; }
};

// xz's options for the raw streams a compressed pack's entries hold: the
// x86 filter, then LZMA1 at preset 5 with an 8 MiB dictionary.
inline const char* XzFilterX86() { return "--x86"; }
inline const char* XzFilterLzma() { return "--lzma1=preset=5,dict=8MiB,lc=3,lp=0,pb=2"; }

// The packs of the merge benchmark, below work/merge, built on first use.
struct CMergeFiles {
  std::filesystem::path pristine;     // the client pack as built
  std::filesystem::path client;       // a copy each run changes, put back after it
  std::filesystem::path large;        // the larger client as made
  std::filesystem::path largeClient;  // its copy each run changes
  std::filesystem::path update;
  std::filesystem::path treePristine;  // the build tree as a plain pack without tags
  std::filesystem::path treeClient;
  std::filesystem::path treeUpdate;  // the build tree compressed, with tags
};
CMergeFiles PrepareMerge(const CContext& context);

// The benchmarks; each adds its rows.
void RunBuildBench(const CContext& context, CTable& table);
void RunMergeBench(const CContext& context, CTable& table);
void RunExtractBench(const CContext& context, CTable& table);
void RunOpenBench(const CContext& context, CTable& table);
void RunDiffBench(const CContext& context, CTable& table);
void RunCompactBench(const CContext& context, CTable& table);
void RunChurnBench(const CContext& context, CTable& table);
void RunDeltaBench(const CContext& context, CTable& table);

// The merge's floor, run as a child: decodes every entry of the update on
// every core and writes its bytes into the client pack where the merge
// would, between the two flushes a journaled merge needs. Returns the exit
// status.
int RunMergeFloor(const std::string& strUpdate, const std::string& strClient);

// What the keyed updater does before its merge, run as a child: the update
// held, copied into a private copy (made in strDir when not in memory) and
// digested. Returns the exit status.
int RunSecureCopy(const std::string& strUpdate, const std::string& strDir);

// The diff's reference, run as a child: the MD5 of every entry of a plain
// pack and of every file of a tree, on one thread per core.
int RunHashBoth(const std::string& strPack, const std::string& strTree);

// Progress, on standard error.
void Say(const std::string& strText);

}  // namespace bench
