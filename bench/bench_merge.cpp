// The merge: an update changing 1% of a client pack of over 1 GiB (plain
// client, compressed update, content tags) against its floor, the same
// update into a client about 3.5 times larger, what the keyed updater adds
// before it (the update copied where no other process can change it, and
// digested) and the merge's peak memory; then the merge's workers on a
// compressed update of many entries.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_mergeclient.h"
#include "bench/bench_packfile.h"
#include "bench/bench_process.h"
#include "platform/private_copy.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packmanifest.h"
#include "tools/filepacktools_lib/packmergewrite.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 5;
constexpr int kWorkerReps = 3;
// Peak memory of the merge: at most this many times its largest entry plus
// the pipeline's window.
constexpr double kMemoryTarget = 4.0;
// The keyed updater's copy and digest of the update: a small share of the
// merge it precedes.
constexpr double kCopyTimeTarget = 0.25;

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CopyFlushed(const fs::path& from, const fs::path& to, bool bSparse) {
  RunChecked({"cp", bSparse ? "--sparse=always" : "--sparse=auto", from.string(), to.string()});
  FlushFile(to);
}

CRun MergeChild(const CContext& context, const fs::path& update, const fs::path& client) {
  return RunChecked({context.strPaktool, "merge", update.string(), client.string()});
}

// The keyed updater's checks of a release update, in this process, against
// the merge: the client's release read before the merge (every entry by
// its content tag, from the index alone) and after it (the update's
// entries read back and hashed).
void RunReleaseChecks(const CContext& context, const CMergeFiles& files, double dMergeSeconds, CTable& table) {
  std::set<std::string> setUpdated;
  for (const PackEntry& entry : ReadPackIndex(files.update).vecEntries) {
    setUpdated.insert(FieldString(entry.szName, kPackNameSize));
  }
  auto check = [&](const std::set<std::string>& setRehash) {
    return TimeHere([&] {
      ContentTagMap mapRelease;
      std::string strFailed;
      std::string strDigest;
      if (!ReadClientRelease(ProgramPath(files.client), ProgramPath(files.client.parent_path()), setRehash,
                             mapRelease, strFailed) ||
          !ReleaseDigest(mapRelease, strDigest) || mapRelease.size() != context.client.vecFiles.size()) {
        throw std::runtime_error("cannot read the client's release");
      }
    });
  };
  const std::vector<CRun> vecBest =
      BestOf(kReps, {[&] { return check(std::set<std::string>()); }, [&] { return check(setUpdated); }});
  const std::string strEntries = std::to_string(context.client.vecFiles.size()) + " entries";
  table.Add({"base check before the merge (" + strEntries + ")", Seconds(vecBest[0].dSeconds),
             "merge " + Seconds(dMergeSeconds), vecBest[0].dSeconds / dMergeSeconds, Goal::kAtMost, 0.1,
             "time to read the client's release from its index (content tags) and digest it / merge time"});
  table.Add({"result check after the merge (" + std::to_string(setUpdated.size()) + " entries read)",
             Seconds(vecBest[1].dSeconds), "merge " + Seconds(dMergeSeconds), vecBest[1].dSeconds / dMergeSeconds,
             Goal::kNone, 0,
             "time to read the release again, the update's entries hashed from the client, and digest it / merge "
             "time"});
}

// The merge of the 1% update, its floor and the merge into the larger
// client, each on a client put back as built before it.
void RunUpdateMerge(const CContext& context, const CMergeFiles& files, CTable& table) {
  const double dPackBytes = static_cast<double>(fs::file_size(files.pristine));
  const double dLargeBytes = static_cast<double>(fs::file_size(files.large));
  const double dChanged = static_cast<double>(context.update.Bytes());
  Say("merge: " + std::to_string(context.update.vecFiles.size()) + " entries, " + Mebibytes(dChanged) + " into " +
      Mebibytes(dPackBytes) + " and into " + Mebibytes(dLargeBytes));
  auto restored = [&](const fs::path& pristine, const fs::path& client, const std::function<CRun()>& fnRun) {
    const CRun run = fnRun();
    RestoreTouched(pristine, client, files.update);
    SyncAll();
    return run;
  };
  // The first merge is checked, and so is the restore after it.
  RunChecked({context.strPaktool, "merge", files.update.string(), files.client.string()});
  RunChecked({context.strPaktool, "verify", files.client.string()});
  RestoreTouched(files.pristine, files.client, files.update);
  if (FileBytes(files.client) != FileBytes(files.pristine)) throw std::runtime_error("the client was not put back");
  // A run stopped part way may have left the larger client merged, and a
  // merge into it would then change nothing.
  RestoreTouched(files.large, files.largeClient, files.update);
  SyncAll();
  const std::vector<CRun> vecBest = BestOf(
      kReps,
      {[&] {
         return restored(files.pristine, files.client, [&] { return MergeChild(context, files.update, files.client); });
       },
       [&] {
         return restored(files.pristine, files.client, [&] {
           return RunChecked({context.strSelf, "floor", files.update.string(), files.client.string()});
         });
       },
       [&] {
         return restored(files.large, files.largeClient,
                         [&] { return MergeChild(context, files.update, files.largeClient); });
       },
       [&] {
         return RunChecked({context.strSelf, "securecopy", files.update.string(), files.client.parent_path().string()});
       }});
  const CRun& merge = vecBest[0];
  const std::string strWhat = std::to_string(context.update.vecFiles.size()) + " entries, " + Mebibytes(dChanged);
  table.Add({"merge 1% (" + strWhat + ") vs floor", Seconds(merge.dSeconds), "floor " + Seconds(vecBest[1].dSeconds),
             merge.dSeconds / vecBest[1].dSeconds, Goal::kAtMost, 1.2,
             "merge time / time to decode the update's entries on every core and write their bytes into the pack, "
             "with a flush before and after"});
  RunReleaseChecks(context, files, merge.dSeconds, table);
  table.Add({"merge 1% into a " + Mebibytes(dLargeBytes) + " client", Seconds(vecBest[2].dSeconds),
             "into " + Mebibytes(dPackBytes) + " " + Seconds(merge.dSeconds), vecBest[2].dSeconds / merge.dSeconds,
             Goal::kAtMost, 1.15,
             "merge time into the larger client (the same entries and " + Mebibytes(dLargeBytes - dPackBytes) +
                 " more in three sparse entries) / merge time into the client"});
  const CRun& copy = vecBest[3];
  const double dUpdateBytes = static_cast<double>(fs::file_size(files.update));
  table.Add({"signed update: private copy + digest of the " + Mebibytes(dUpdateBytes) + " update",
             Seconds(copy.dSeconds), "merge " + Seconds(merge.dSeconds), copy.dSeconds / merge.dSeconds, Goal::kAtMost,
             kCopyTimeTarget,
             "time to hold the update, copy it where no other process can change it and digest it (what the keyed "
             "updater adds; a child process) / merge time"});
  // The copy lives in memory (a memfd: its pages are not the process's
  // RSS) up to kPrivateCopyMemoryLimit, so it is added to the RSS.
  const double dCopyInMemory = dUpdateBytes <= static_cast<double>(kPrivateCopyMemoryLimit) ? dUpdateBytes : 0;
  const double dCopyMemory = copy.nMaxRssKiB * 1024.0 + dCopyInMemory;
  table.Add({"signed update: private copy peak memory",
             Mebibytes(copy.nMaxRssKiB * 1024.0) + " RSS + " + Mebibytes(dCopyInMemory) + " copy",
             "merge " + Mebibytes(merge.nMaxRssKiB * 1024.0), dCopyMemory / (merge.nMaxRssKiB * 1024.0), Goal::kAtMost,
             1.0,
             "(peak RSS of the copy and digest + the copy, held in memory outside the RSS) / paktool merge's peak "
             "RSS"});
  const double dLargest = static_cast<double>(context.client.Largest());
  const double dWindow = static_cast<double>(CMergeWriter::kWindowBytes);
  const double dAllowed = kMemoryTarget * dLargest + dWindow;
  table.Add({"merge peak memory (window " + Mebibytes(dWindow) + ")", Mebibytes(merge.nMaxRssKiB * 1024.0) + " RSS",
             "4 x " + Mebibytes(dLargest) + " + window " + Mebibytes(dAllowed), merge.nMaxRssKiB * 1024.0 / dAllowed,
             Goal::kAtMost, 1.0,
             "paktool merge's peak RSS / (4 x the largest entry + the pipeline's window of decoded entries)"});
}

// The merge in this process with one worker per core and with one: every
// entry of a compressed update of the build tree replaces its untagged
// entry in a plain client; both merges must give the same pack.
void RunMergeWorkers(const CContext& context, const CMergeFiles& files, CTable& table) {
  const size_t nEntries = context.buildTree.vecFiles.size();
  Say("merge: " + std::to_string(nEntries) + " compressed entries, one worker against one per core");
  std::string strMerged[2];
  auto merge = [&](int nWorkers) {
    CopyFlushed(files.treePristine, files.treeClient, false);
    SyncAll();
    CRealizePack realize;
    realize.SetMergeWorkers(nWorkers);
    CRun run = TimeHere([&] {
      if (realize.MergePack(ProgramPath(files.treeUpdate).c_str(), ProgramPath(files.treeClient).c_str()) != 1) {
        throw std::runtime_error("the merge with " + std::to_string(nWorkers) + " workers failed");
      }
    });
    if (strMerged[nWorkers].empty()) strMerged[nWorkers] = FileBytes(files.treeClient);
    return run;
  };
  const std::vector<CRun> vecBest = BestOf(kWorkerReps, {[&] { return merge(0); }, [&] { return merge(1); }});
  if (strMerged[0] != strMerged[1]) throw std::runtime_error("the merges with one worker and with one per core differ");
  const long nCores = sysconf(_SC_NPROCESSORS_ONLN);
  table.Add({"merge, " + std::to_string(nEntries) + " compressed entries, " + std::to_string(nCores) + " workers vs 1",
             Seconds(vecBest[0].dSeconds), "1 worker " + Seconds(vecBest[1].dSeconds),
             vecBest[1].dSeconds / vecBest[0].dSeconds, Goal::kNone, 0,
             "time with one worker / time with one per core (MergePack in process; the packs are identical)"});
}

}  // namespace

CMergeFiles PrepareMerge(const CContext& context) {
  const fs::path dir = context.work / "merge";
  CMergeFiles files{
      dir / "client.pristine.pak", dir / "client.pak",        dir / "large.pristine.pak", dir / "large.pak",
      dir / "update.pak",          dir / "tree.pristine.pak", dir / "tree.pak",           dir / "tree-update.pak"};
  fs::create_directories(dir);
  if (!fs::exists(files.pristine) || !fs::exists(files.update)) {
    Say("merge: building the client pack (plain, tags) and the update (compressed, tags)");
    RunChecked({context.strPaktool, "build", context.Root("client").string(), "--tags", "-o", files.pristine.string()});
    RunChecked(
        {context.strPaktool, "build", context.Root("update").string(), "-z", "--tags", "-o", files.update.string()});
    fs::remove(files.client);
    fs::remove(files.large);
  }
  if (!fs::exists(files.client)) CopyFlushed(files.pristine, files.client, false);
  if (!fs::exists(files.large)) {
    Say("merge: making the larger client (sparse)");
    MakeLargeClient(files.pristine, files.large);
    RunChecked({context.strPaktool, "verify", files.large.string()});
    fs::remove(files.largeClient);
  }
  if (!fs::exists(files.largeClient)) CopyFlushed(files.large, files.largeClient, true);
  if (!fs::exists(files.treePristine) || !fs::exists(files.treeUpdate)) {
    Say("merge: building the tree of " + std::to_string(context.buildTree.vecFiles.size()) + " files as a client " +
        "and as a compressed update");
    RunChecked({context.strPaktool, "build", context.Root("buildtree").string(), "-o", files.treePristine.string()});
    RunChecked({context.strPaktool, "build", context.Root("buildtree").string(), "-z", "--tags", "-o",
                files.treeUpdate.string()});
  }
  SyncAll();
  return files;
}

void RunMergeBench(const CContext& context, CTable& table) {
  const CMergeFiles files = PrepareMerge(context);
  RunUpdateMerge(context, files, table);
  RunMergeWorkers(context, files, table);
}

}  // namespace bench
