// Delta updates: the size of a delta against the full compressed update, on
// a release whose changed entries are edits of their previous versions and
// on two real builds of this project's programs; the time to make both;
// the time to apply a delta (its statement's checks, the rebuild against
// the client, the merge) against merging the full update; and the
// rebuild's peak memory.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bench/bench_context.h"
#include "bench/bench_mergeclient.h"
#include "bench/bench_process.h"
#include "tools/filepacktools_lib/packbuilder.h"
#include "tools/filepacktools_lib/orderedpipeline.h"
#include "tools/filepacktools_lib/zstdpatch.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kReps = 3;
constexpr uint64_t kMiB = 1024 * 1024;
// Edits per MiB of an entry, and the bytes each replaces or inserts: a few
// KiB per MiB, in several places.
constexpr int kEditsPerMiB = 4;
constexpr size_t kEditBytes = 1024;

std::string Kibibytes(double dBytes) {
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.1f KiB", dBytes / 1024.0);
  return szText;
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& strBytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
}

// The entry as a new release edits it: bytes replaced and inserted in a few
// places per MiB, new bytes of the entry's own kind taken from elsewhere in
// it (a recompiled function, a redone region, edited lines), so that they
// compress as the entry does.
std::string Edited(const std::string& strOld, uint64_t qwSeed) {
  std::string strNew = strOld;
  const uint64_t qwEdits = std::max<uint64_t>(1, kEditsPerMiB * strOld.size() / kMiB);
  uint64_t qwState = qwSeed;
  auto next = [&qwState] {
    qwState = qwState * 6364136223846793005ull + 1442695040888963407ull;
    return qwState >> 17;
  };
  for (uint64_t i = 0; i < qwEdits && strOld.size() > 2 * kEditBytes; ++i) {
    const size_t nAt = next() % (strNew.size() - kEditBytes);
    std::string strBlock = strOld.substr(next() % (strOld.size() - kEditBytes), kEditBytes);
    for (char& ch : strBlock) ch = static_cast<char>(ch ^ (next() & 0x03));
    if (i % 2 == 0) {
      strNew.replace(nAt, kEditBytes, strBlock);
    } else {
      strNew.insert(nAt, strBlock);
    }
  }
  return strNew;
}

struct CDeltaFiles {
  fs::path dir;
  fs::path client;   // a copy of the merge benchmark's client, put back after each merge
  fs::path edited;   // the client's tree with the edited files in place
  size_t nEdited = 0;
};

// The edited release: the client's tree as hard links, the update's names
// edited from their client version.
CDeltaFiles PrepareDelta(const CContext& context) {
  const fs::path dir = context.work / "delta";
  CDeltaFiles files{dir, dir / "client.pak", dir / "edited" / kRootName};
  fs::remove_all(dir);
  Say("delta: an edited release of " + std::to_string(context.update.vecFiles.size()) + " files");
  for (const CFilePlan& plan : context.client.vecFiles) {
    fs::create_directories((files.edited / plan.strRel).parent_path());
    fs::create_hard_link(context.Root("client") / plan.strRel, files.edited / plan.strRel);
  }
  for (const CFilePlan& plan : context.update.vecFiles) {
    const fs::path file = files.edited / plan.strRel;
    if (!fs::exists(file)) continue;  // a new file of the update: no previous version to edit
    ++files.nEdited;
    const std::string strOld = FileBytes(file);
    fs::remove(file);
    WriteBytes(file, Edited(strOld, plan.qwSeed));
  }
  return files;
}

std::vector<std::string> Diff(const CContext& context, const std::string& strOld, const std::string& strNew,
                              const fs::path& out, bool bDelta) {
  std::vector<std::string> vecArgs = {context.strPaktool, "diff",  strOld,    strNew, "--trust-tags", "--from",
                                      "1.0",              "--to",  "1.1",     "-z",   "-o",           out.string()};
  if (bDelta) vecArgs.push_back("--delta");
  return vecArgs;
}

// Delta against full on the edited release: sizes, making, applying, memory.
void RunEditedRelease(const CContext& context, const CMergeFiles& merge, CTable& table) {
  const CDeltaFiles files = PrepareDelta(context);
  const fs::path full = files.dir / "full.pak";
  const fs::path delta = files.dir / "delta.pak";
  const std::vector<CRun> vecMake =
      BestOf(kReps, {[&] { return RunChecked(Diff(context, merge.pristine.string(), files.edited.string(), full, false)); },
                     [&] { return RunChecked(Diff(context, merge.pristine.string(), files.edited.string(), delta, true)); }});
  const double dFull = static_cast<double>(fs::file_size(full));
  const double dDelta = static_cast<double>(fs::file_size(delta));
  const std::string strWhat = std::to_string(files.nEdited) + " edited entries";
  table.Add({"delta size, " + strWhat, Kibibytes(dDelta), "full -z " + Mebibytes(dFull), dDelta / dFull,
             Goal::kAtMost, 0.05,
             "delta update's size / the full compressed update's, the changed entries edited (4 KiB per MiB in "
             "several places) from their previous versions"});
  table.Add({"making the delta (diff --delta -z)", Seconds(vecMake[1].dSeconds),
             "full -z " + Seconds(vecMake[0].dSeconds), vecMake[1].dSeconds / vecMake[0].dSeconds, Goal::kNone, 0,
             "paktool diff --delta -z / paktool diff -z, both from the client pack to the edited tree"});

  // Applying: the statement's checks, the rebuild and the merge, against
  // the merge of the full update with its checks.
  fs::copy_file(merge.pristine, files.client, fs::copy_options::overwrite_existing);
  SyncAll();
  auto apply = [&](const fs::path& update) {
    const CRun run = RunChecked({context.strPaktool, "merge", update.string(), files.client.string(), "-C",
                                 files.dir.string(), "--statement", update.string() + ".statement"});
    RestoreTouched(merge.pristine, files.client, full);
    SyncAll();
    return run;
  };
  const std::vector<CRun> vecApply = BestOf(kReps, {[&] { return apply(full); }, [&] { return apply(delta); }});
  table.Add({"applying the delta (check, rebuild, merge)", Seconds(vecApply[1].dSeconds),
             "full " + Seconds(vecApply[0].dSeconds), vecApply[1].dSeconds / vecApply[0].dSeconds, Goal::kAtMost, 1.5,
             "paktool merge --statement of the delta (rebuilt against the client, every entry checked) / of the "
             "full compressed update"});

  const fs::path rebuilt = files.dir / "rebuilt.pak";
  const CRun rebuild = RunChecked(
      {context.strPaktool, "apply-delta", delta.string(), "--client", merge.pristine.string(), "-o", rebuilt.string()});
  const uint64_t qwLargest = context.update.Largest();
  const uint32_t dwLargest = static_cast<uint32_t>(qwLargest);
  const double dWindow = static_cast<double>(uint64_t{1} << PatchWindowLog(dwLargest, dwLargest));
  const double dWorkers = static_cast<double>(PipelineWorkerCount(0));
  const double dAllowed = 2.0 * static_cast<double>(qwLargest) + dWorkers * dWindow;
  table.Add({"rebuild peak memory", Mebibytes(rebuild.nMaxRssKiB * 1024.0) + " RSS",
             "2 x " + Mebibytes(static_cast<double>(qwLargest)) + " + " + std::to_string(PipelineWorkerCount(0)) +
                 " x window " + Mebibytes(dWindow),
             rebuild.nMaxRssKiB * 1024.0 / dAllowed, Goal::kAtMost, 1.0,
             "paktool apply-delta's peak RSS / (2 x the largest entry + a patch window per worker)"});
}

// Two builds of this project's programs and libraries as two releases: a
// real rebuild, whose changes are those of a compiler's output.
void RunRealBuilds(const CContext& context, CTable& table) {
  if (context.otherBuild.empty()) return;
  const fs::path dir = context.work / "delta";
  const char* const kFiles[] = {"tools/paktool/paktool", "launcher/Patchloom",
                                "tools/filepacktools_lib/libfilepacktools.a", "platform/libpatchloom_platform.a",
                                "tools/paktool/libpaktool_cli.a", "launcher/libpatchloom_launcher.a"};
  const fs::path builds[] = {fs::path(context.strPaktool).parent_path().parent_path().parent_path(), context.otherBuild};
  for (int i = 0; i < 2; ++i) {
    const fs::path root = dir / ("build" + std::to_string(i)) / kRootName;
    fs::remove_all(root.parent_path());
    for (const char* pszFile : kFiles) WriteBytes(root / "bin" / fs::path(pszFile).filename(), FileBytes(builds[i] / pszFile));
  }
  const fs::path full = dir / "builds-full.pak";
  const fs::path delta = dir / "builds-delta.pak";
  const std::string strOld = (dir / "build0" / kRootName).string();
  const std::string strNew = (dir / "build1" / kRootName).string();
  RunChecked(Diff(context, strOld, strNew, full, false));
  RunChecked(Diff(context, strOld, strNew, delta, true));
  const double dFull = static_cast<double>(fs::file_size(full));
  const double dDelta = static_cast<double>(fs::file_size(delta));
  table.Add({"delta size, two builds of our programs", Kibibytes(dDelta), "full -z " + Mebibytes(dFull),
             dDelta / dFull, Goal::kNone, 0,
             "delta update's size / the full compressed update's, from the benchmark's build of paktool, Patchloom "
             "and the libraries to the same built with other optimisations"});
}

}  // namespace

void RunDeltaBench(const CContext& context, CTable& table) {
  const CMergeFiles merge = PrepareMerge(context);
  RunEditedRelease(context, merge, table);
  RunRealBuilds(context, table);
}

}  // namespace bench
