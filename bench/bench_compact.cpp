// Compaction: rewriting the 1.1 GiB client pack after the merge benchmark's
// update, against copying the same file; and the churn of thirty updates
// on a 60 MiB client, the pack's size over its live bytes with and without
// the updater's compaction.
#include <filesystem>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "launcher/updatedriver.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packverify.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 5;
constexpr unsigned kChurnRounds = 30;

// Puts a file in place and on disk, so that no run pays for the writes of
// the step before it.
void Lay(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  FlushFile(to);
  SyncAll();
}

struct CPackSize {
  uint64_t qwSize = 0;
  uint64_t qwHoles = 0;
  uint64_t qwLive = 0;  // the size once compacted: the size without the holes and the free list
  double Ratio() const { return static_cast<double>(qwSize) / static_cast<double>(qwLive); }
};

CPackSize SizeOf(const fs::path& path) {
  CPackFile pack;
  if (!pack.Open(ProgramPath(path))) throw std::runtime_error("cannot open " + path.string());
  CPackSize size;
  size.qwSize = fs::file_size(path);
  size.qwHoles = pack.GetHoleBytes();
  size.qwLive = size.qwSize - size.qwHoles - pack.GetFreeBlocks().size() * kPackFreeBlockSize;
  return size;
}

void CheckSound(const fs::path& path) {
  std::vector<std::string> vecProblems;
  if (!VerifyPack(ProgramPath(path).c_str(), vecProblems) || !vecProblems.empty()) {
    throw std::runtime_error(path.string() + " does not verify" +
                             (vecProblems.empty() ? std::string() : ": " + vecProblems.front()));
  }
}

// A pack of the files of one tree, built in this process with content tags.
void BuildPack(const fs::path& root, const fs::path& outDir, const char* pszName, bool bCompress) {
  CPackFile build;
  build.SetContentTags(true);
  const std::string strRoot = ProgramPath(root);
  build.SetRootPath(strRoot.c_str());
  build.CollectFiles(strRoot.c_str());
  if (!build.CreatePack(strRoot.c_str(), ProgramPath(outDir).c_str(), bCompress, nullptr, pszName, false)) {
    throw std::runtime_error("cannot build " + std::string(pszName));
  }
}

void Merge(const fs::path& update, const fs::path& client) {
  CRealizePack realize;
  if (!realize.MergePack(ProgramPath(update).c_str(), ProgramPath(client).c_str())) {
    throw std::runtime_error("cannot merge into " + client.string() + ": " + realize.GetMergeRefusal());
  }
}

// The files of an update replace those of the same name in the tree.
void Apply(const CTree& update, CTree& tree) {
  for (const CFilePlan& plan : update.vecFiles) {
    for (CFilePlan& file : tree.vecFiles) {
      if (file.strRel == plan.strRel) file = plan;
    }
  }
}

}  // namespace

void RunCompactBench(const CContext& context, CTable& table) {
  const CMergeFiles files = PrepareMerge(context);
  const fs::path merged = context.work / "compact/merged.pak";
  const fs::path client = context.work / "compact/client.pak";
  const fs::path copy = context.work / "compact/copy.pak";
  fs::create_directories(context.work / "compact");
  if (!fs::exists(merged)) {
    Say("compact: merging the update into a copy of the client pack");
    Lay(files.pristine, client);
    RunChecked({context.strPaktool, "merge", files.update.string(), client.string()});
    fs::rename(client, merged);
  }
  const CPackSize before = SizeOf(merged);
  Say("compact: " + Mebibytes(static_cast<double>(before.qwSize)) + " pack, " +
      Mebibytes(static_cast<double>(before.qwHoles)) + " in holes");
  bool bVerified = false;
  const std::vector<CRun> vecBest =
      BestOf(kReps, {[&] {
                       Lay(merged, client);
                       CRun run = RunChecked({context.strPaktool, "compact", client.string()});
                       if (!bVerified) RunChecked({context.strPaktool, "verify", client.string()});
                       bVerified = true;
                       return run;
                     },
                     [&] {
                       // The compaction replaces the pack, and freeing the old
                       // one's blocks costs time; the copy replaces a file as
                       // large. Both flush what they write.
                       Lay(merged, copy);
                       return RunChecked({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", merged.string(), copy.string()});
                     }});
  if (SizeOf(client).qwSize != before.qwLive) throw std::runtime_error("the compacted pack has the wrong size");
  fs::remove(copy);
  fs::remove(client);
  table.Add({"compact the " + Mebibytes(static_cast<double>(before.qwSize)) + " pack after the update",
             Seconds(vecBest[0].dSeconds) + ", " + Mebibytes(vecBest[0].nMaxRssKiB * 1024.0) + " RSS",
             "cp " + Seconds(vecBest[1].dSeconds), vecBest[0].dSeconds / vecBest[1].dSeconds, Goal::kAtMost, 1.2,
             "paktool compact time (" + Mebibytes(static_cast<double>(before.qwHoles)) +
                 " of holes closed) / time to copy the pack over a copy of it (cp, then flushed)"});
}

// Thirty updates of a 60 MiB plain client, merged into one copy of the pack
// that is never compacted and into one that the updater's rule compacts
// (CompactClientPack: over a quarter in holes).
void RunChurnBench(const CContext& context, CTable& table) {
  const fs::path dir = context.work / "churn";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const CCodePool pool;
  CTree tree = PlanChurnClient();
  Say("churn: " + std::to_string(kChurnRounds) + " updates of a " + Mebibytes(static_cast<double>(tree.Bytes())) +
      " client");
  WriteTree(tree, dir / "client" / kRootName, pool, 0);
  BuildPack(dir / "client" / kRootName, dir, "plain", false);
  fs::copy_file(dir / "plain.pak", dir / "kept.pak");
  int nCompactions = 0;
  double dPeak = 0;
  size_t nChanged = 0;
  for (unsigned nRound = 1; nRound <= kChurnRounds; ++nRound) {
    const CTree update = PlanChurnUpdate(tree, nRound);
    nChanged += update.vecFiles.size();
    fs::remove_all(dir / "update");
    WriteTree(update, dir / "update" / kRootName, pool, nRound * uint64_t{1} << 20);
    BuildPack(dir / "update" / kRootName, dir, "update", true);
    Merge(dir / "update.pak", dir / "plain.pak");
    Merge(dir / "update.pak", dir / "kept.pak");
    if (CompactClientPack(ProgramPath(dir / "kept.pak").c_str())) ++nCompactions;
    dPeak = std::max(dPeak, SizeOf(dir / "kept.pak").Ratio());
    Apply(update, tree);
  }
  CheckSound(dir / "plain.pak");
  CheckSound(dir / "kept.pak");
  const CPackSize plain = SizeOf(dir / "plain.pak");
  const CPackSize kept = SizeOf(dir / "kept.pak");
  if (plain.qwLive != kept.qwLive) throw std::runtime_error("the two packs of the churn hold different entries");
  fs::remove_all(dir);

  const std::string strWhat = std::to_string(kChurnRounds) + " updates of 7% (" +
                              std::to_string(nChanged / kChurnRounds) + " files each)";
  table.Add({"churn, " + strWhat + ", no compaction",
             Mebibytes(static_cast<double>(plain.qwSize)) + ", " + Mebibytes(static_cast<double>(plain.qwHoles)) +
                 " holes",
             "live " + Mebibytes(static_cast<double>(plain.qwLive)), plain.Ratio(), Goal::kNone, 0,
             "pack size / live bytes (the size compacted) after the churn, merged with no compaction"});
  char szPeak[64];
  std::snprintf(szPeak, sizeof(szPeak), "%d compaction%s, peak %.2f", nCompactions, nCompactions == 1 ? "" : "s",
                dPeak);
  table.Add({"churn, the updater compacting over 25% holes",
             Mebibytes(static_cast<double>(kept.qwSize)) + ", " + szPeak,
             "live " + Mebibytes(static_cast<double>(kept.qwLive)), kept.Ratio(), Goal::kAtMost, 1.34,
             "pack size / live bytes after the churn, compacted after a merge whenever holes pass a quarter of "
             "the pack (at most 1/0.75 after any update)"});
}

}  // namespace bench
