// Building packs: a compressed build against xz compressing the same bytes
// on one thread, and a plain build against copying the tree.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kCompressedReps = 2;
constexpr int kPlainReps = 3;

void RunCompressedBuild(const CContext& context, CTable& table) {
  const fs::path pack = context.work / "build.pak";
  const fs::path stream = context.work / "build.xz";
  const double dBytes = static_cast<double>(context.buildTree.Bytes());
  Say("build: compressed, " + std::to_string(context.buildTree.vecFiles.size()) + " files, " + Mebibytes(dBytes));
  const std::vector<CRun> vecBest = BestOf(
      kCompressedReps,
      {[&] {
         fs::remove(pack);
         SyncAll();
         return RunChecked(
             {context.strPaktool, "build", context.Root("buildtree").string(), "-z", "--tags", "-o", pack});
       },
       [&] {
         SyncAll();
         return RunChecked({"xz", "--format=raw", XzFilterX86(), XzFilterLzma(), "-T1", "-c",
                            (context.work / "buildtree.bin").string()},
                           stream.string());
       }});
  RunChecked({context.strPaktool, "verify", pack.string()});
  table.Add({"build, compressed (" + std::to_string(context.buildTree.vecFiles.size()) + " files)",
             Seconds(vecBest[0].dSeconds) + ", " + Rate(dBytes, vecBest[0].dSeconds),
             "xz -T1 " + Seconds(vecBest[1].dSeconds) + ", " + Rate(dBytes, vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kAtLeast, 1.8,
             "throughput over xz's on one thread (xz time / build time); paktool build -z --tags"});
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The same compressed build in this process with one worker and with one
// per core: what the pipeline itself gains, and a check that both packs
// are the same bytes.
void RunWorkerSpeedup(const CContext& context, CTable& table) {
  Say("build: compressed, one worker against one per core");
  const std::string strRoot = ProgramPath(context.Root("buildtree"));
  const std::string strOut = ProgramPath(context.work);
  const fs::path cwd = fs::current_path();
  auto build = [&](int nWorkers) {
    const std::string strName = "workers" + std::to_string(nWorkers);
    fs::remove(context.work / (strName + ".pak"));
    SyncAll();
    CPackFile pack;
    pack.SetContentTags(true);
    pack.SetBuildWorkers(nWorkers);
    CRun run = TimeHere([&] {
      pack.SetRootPath(strRoot.c_str());
      pack.CollectFiles(strRoot.c_str());
      if (!pack.CreatePack(strRoot.c_str(), strOut.c_str(), true, nullptr, strName.c_str(), false)) {
        throw std::runtime_error("the build with " + std::to_string(nWorkers) + " workers failed");
      }
    });
    fs::current_path(cwd);  // the directory walk leaves it changed
    return run;
  };
  const long nCores = sysconf(_SC_NPROCESSORS_ONLN);
  const std::vector<CRun> vecBest = BestOf(kCompressedReps, {[&] { return build(0); }, [&] { return build(1); }});
  if (FileBytes(context.work / "workers0.pak") != FileBytes(context.work / "workers1.pak")) {
    throw std::runtime_error("the builds with one worker and with one per core differ");
  }
  fs::remove(context.work / "workers0.pak");
  fs::remove(context.work / "workers1.pak");
  table.Add({"build, compressed, " + std::to_string(nCores) + " workers vs 1", Seconds(vecBest[0].dSeconds),
             "1 worker " + Seconds(vecBest[1].dSeconds), vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kNone, 0,
             "time with one worker / time with one per core (CreatePack in process; the packs are identical)"});
}

void RunPlainBuild(const CContext& context, CTable& table) {
  const fs::path pack = context.work / "client-plain.pak";
  const fs::path copy = context.work / "copy";
  const double dBytes = static_cast<double>(context.client.Bytes());
  Say("build: plain, " + std::to_string(context.client.vecFiles.size()) + " files, " + Mebibytes(dBytes));
  const std::vector<CRun> vecBest = BestOf(
      kPlainReps,
      {[&] {
         fs::remove(pack);
         SyncAll();
         return RunChecked({context.strPaktool, "build", context.Root("client").string(), "-o", pack});
       },
       [&] {
         fs::remove_all(copy);
         fs::create_directories(copy);
         SyncAll();
         return RunChecked({"cp", "-r", context.Root("client").string(), (copy / kRootName).string()});
       }});
  fs::remove_all(copy);
  table.Add({"build, plain (" + std::to_string(context.client.vecFiles.size()) + " files)",
             Seconds(vecBest[0].dSeconds) + ", " + Rate(dBytes, vecBest[0].dSeconds),
             "cp -r " + Seconds(vecBest[1].dSeconds) + ", " + Rate(dBytes, vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kNone, 0,
             "cp -r time / build time; paktool build (no tags)"});
}

}  // namespace

void RunBuildBench(const CContext& context, CTable& table) {
  RunCompressedBuild(context, table);
  RunWorkerSpeedup(context, table);
  RunPlainBuild(context, table);
}

}  // namespace bench
