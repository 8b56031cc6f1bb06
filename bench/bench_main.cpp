// patchloom_bench: generates its data below a work directory, then times
// building, merging, extracting, streaming, opening and compacting packs
// against reference programs on the same bytes, and prints one table.
//
//   patchloom_bench [--work DIR] [--paktool PATH]
//   patchloom_bench floor UPDATE CLIENT     (the merge's floor, as a child)
//   patchloom_bench hashboth PACK TREE      (the diff's reference, as a child)
//   patchloom_bench securecopy UPDATE DIR   (the keyed updater's copy and digest, as a child)
//   patchloom_bench spawn STDOUT DIR PROGRAM ARGS...   (times a child)
//
// Exit status: 0 when every target was met, 1 when one was missed, 2 when
// a benchmark could not run.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_process.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

std::string SelfPath() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("cannot find this program's path");
  return path.string();
}

// Bumped whenever the way data is generated changes, so stale trees are
// made again.
constexpr char kDataVersion[] = "patchloom bench data 2";

std::string StampText(const CTree& tree) {
  return std::string(kDataVersion) + " " + std::to_string(tree.vecFiles.size()) + " " + std::to_string(tree.Bytes());
}

// A tree is kept from an earlier run when its stamp describes it.
bool IsCurrent(const fs::path& dir, const CTree& tree) {
  std::ifstream in(dir.string() + ".stamp");
  std::string strStamp;
  return std::getline(in, strStamp) && strStamp == StampText(tree);
}

void MakeTree(const fs::path& dir, const CTree& tree, const CCodePool& pool, uint64_t qwCodeFrom) {
  fs::remove(dir.string() + ".stamp");
  fs::remove_all(dir);
  WriteTree(tree, dir / kRootName, pool, qwCodeFrom);
  std::ofstream(dir.string() + ".stamp") << StampText(tree) << "\n";
}

void PrepareData(CContext& context) {
  context.client = PlanClientTree();
  context.update = PlanUpdate(context.client);
  context.buildTree = PlanBuildTree();
  const bool bBuildTree = IsCurrent(context.work / "buildtree", context.buildTree);
  const bool bClient = IsCurrent(context.work / "client", context.client);
  const bool bUpdate = IsCurrent(context.work / "update", context.update);
  if (bBuildTree && bClient && bUpdate) return;

  Say("generating the data in " + context.work.string());
  fs::create_directories(context.work);
  fs::remove_all(context.work / "merge");  // its packs are built from the trees
  const CCodePool pool;
  // The build tree takes the start of the code pool, unshared, so that xz
  // finds no repeats in it that the per-entry streams could not.
  if (!bBuildTree) {
    MakeTree(context.work / "buildtree", context.buildTree, pool, 0);
    WriteConcatenation(context.buildTree, context.Root("buildtree"), context.work / "buildtree.bin");
  }
  if (!bClient) MakeTree(context.work / "client", context.client, pool, context.buildTree.Bytes());
  if (!bUpdate) MakeTree(context.work / "update", context.update, pool, pool.Size() / 2);
}

std::string Describe(const CContext& context) {
  char szText[512];
  std::snprintf(szText, sizeof(szText),
                "data: client tree %zu files, %.1f MiB (largest %.1f MiB); update %zu files, %.1f MiB; "
                "build tree %zu files, %.1f MiB\nmachine: %ld cores; figures are the best of several runs",
                context.client.vecFiles.size(), context.client.Bytes() / 1048576.0,
                context.client.Largest() / 1048576.0, context.update.vecFiles.size(),
                context.update.Bytes() / 1048576.0, context.buildTree.vecFiles.size(),
                context.buildTree.Bytes() / 1048576.0, sysconf(_SC_NPROCESSORS_ONLN));
  return szText;
}

int Run(int argc, char** argv) {
  CContext context;
  context.work = fs::current_path() / "bench-work";
  context.strPaktool = PAKTOOL_EXE;
  context.strSelf = SelfPath();
  const char* const pszUsage =
      "usage: patchloom_bench [--work DIR] [--paktool FILE] [--other-build DIR] "
      "[--only build|merge|extract|open|diff|compact|churn|delta]";
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << pszUsage << "\n";
    return 0;
  }
  if (argc % 2 == 0) throw std::invalid_argument(pszUsage);
  std::string strOnly;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string strOption = argv[i];
    if (strOption == "--only") {
      strOnly = argv[i + 1];
    } else if (strOption == "--work") {
      context.work = fs::absolute(argv[i + 1]);
    } else if (strOption == "--other-build") {
      context.otherBuild = fs::absolute(argv[i + 1]);
    } else if (strOption == "--paktool") {
      context.strPaktool = fs::absolute(argv[i + 1]).string();
    } else {
      throw std::invalid_argument("unknown option " + strOption);
    }
  }
  const std::pair<const char*, void (*)(const CContext&, CTable&)> benches[] = {
      {"build", RunBuildBench}, {"merge", RunMergeBench},     {"extract", RunExtractBench}, {"open", RunOpenBench},
      {"diff", RunDiffBench},   {"compact", RunCompactBench}, {"churn", RunChurnBench},
      {"delta", RunDeltaBench}};
  if (!strOnly.empty() &&
      std::none_of(std::begin(benches), std::end(benches), [&](const auto& bench) { return strOnly == bench.first; })) {
    throw std::invalid_argument(pszUsage);
  }
  PrepareData(context);
  CTable table;
  for (const auto& [pszName, fnRun] : benches) {
    if (strOnly.empty() || strOnly == pszName) fnRun(context, table);
  }
  std::cout << Describe(context) << "\n\n" << table.Text();
  return table.Missed() == 0 ? 0 : 1;
}

}  // namespace

void Say(const std::string& strText) { std::cerr << "bench: " << strText << std::endl; }

}  // namespace bench

int main(int argc, char** argv) {
  try {
    if (argc >= 2 && std::string(argv[1]) == "spawn") return bench::RunSpawner(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "floor") return bench::RunMergeFloor(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "hashboth") return bench::RunHashBoth(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "securecopy") return bench::RunSecureCopy(argv[2], argv[3]);
    return bench::Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "bench: " << error.what() << std::endl;
    return 2;
  }
}
