// paktool diff OLD NEW -o UPDATE: the update pack between two releases,
// each a pack or a directory tree, compared by content.
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/text_case.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/paktool/build.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/leftout.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"

namespace paktool {

namespace {

struct CDiffOptions {
  std::string strOld;
  std::string strNew;
  std::string strOutput;
  bool bCompress = false;
  bool bJson = false;
  bool bTrustTags = false;
};

// One release as the command line names it.
struct CRelease {
  std::string strShown;  // as typed
  std::string strPath;   // absolute
  bool bTree = false;
  std::string strRoot;
  std::unique_ptr<CPackFile> pRelease;   // an open pack, or a build's file list
  std::vector<CBuildFileName> vecNames;  // a tree: how a build takes its files
};

// Opens a pack, or walks a tree whose directory is the root (as 'build
// DIR' would). Reports a failure and returns false.
bool OpenRelease(const std::string& strArg, CRelease& release) {
  release.strShown = strArg;
  release.strPath = AbsolutePath(ArgPath(strArg));
  release.bTree = IsDirectory(release.strPath);
  if (!release.bTree) {
    release.pRelease = OpenPack({release.strPath, strArg});
    if (!release.pRelease) return false;
    release.strRoot = FieldString(release.pRelease->GetRootName(), kPackRootNameSize);
    return true;
  }
  release.strRoot = LowerCopy(LastComponent(release.strPath));
  if (release.strRoot.empty()) {
    ReportFailure(strArg, "a release tree needs a directory with a name as its root");
    return false;
  }
  release.pRelease = std::make_unique<CPackFile>();
  CWorkingDirGuard guard;  // the walk leaves the current directory changed
  release.pRelease->SetRootPath(release.strPath.c_str());
  release.pRelease->CollectFiles(release.strPath.c_str());
  release.vecNames = release.pRelease->NameBuildFiles();
  return true;
}

nlohmann::json ReleaseJson(const CRelease& release) {
  return {{"path", JsonText(release.strShown)},
          {"kind", release.bTree ? "directory" : "pack"},
          {"root", JsonText(release.strRoot)}};
}

const char* ChangeCode(ReleaseChange eChange) {
  switch (eChange) {
    case ReleaseChange::kChanged:
      return "changed";
    case ReleaseChange::kAdded:
      return "added";
    case ReleaseChange::kRemoved:
      return "removed";
    case ReleaseChange::kUnchanged:
      break;
  }
  return "unchanged";
}

std::string CountText(const CReleaseDiff& diff, ReleaseChange eChange) {
  const uint64_t qwBytes = diff.Bytes(eChange);
  return std::to_string(diff.Count(eChange)) + " " + ChangeCode(eChange) + " (" + std::to_string(qwBytes) +
         (qwBytes == 1 ? " byte)" : " bytes)");
}

// The report on standard error: counts, loose files, removed entries.
void ReportDiff(const CReleaseDiff& diff) {
  PrintErrorLine(CountText(diff, ReleaseChange::kChanged) + ", " + CountText(diff, ReleaseChange::kAdded) + ", " +
                 CountText(diff, ReleaseChange::kUnchanged) + ", " + CountText(diff, ReleaseChange::kRemoved));
  bool bLooseTold = false;
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (!entry.bLoose) continue;
    if (!bLooseTold) {
      PrintErrorLine("added outside OLD's directories: a merge into a client of OLD writes these as loose files");
      PrintErrorLine("beside the client pack, not into it:");
      bLooseTold = true;
    }
    PrintErrorLine("  " + ShownName(entry.strName));
  }
  bool bRemovedTold = false;
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.eChange != ReleaseChange::kRemoved) continue;
    if (!bRemovedTold) {
      PrintErrorLine("in OLD but not in NEW: an update pack cannot delete entries, so clients keep these:");
      bRemovedTold = true;
    }
    PrintErrorLine("  " + ShownName(entry.strName));
  }
}

nlohmann::json DiffJson(const CReleaseDiff& diff) {
  nlohmann::json document;
  for (ReleaseChange eChange :
       {ReleaseChange::kChanged, ReleaseChange::kAdded, ReleaseChange::kUnchanged, ReleaseChange::kRemoved}) {
    document[ChangeCode(eChange)] = {{"count", diff.Count(eChange)}, {"bytes", diff.Bytes(eChange)}};
  }
  nlohmann::json entries = nlohmann::json::array();
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.eChange == ReleaseChange::kUnchanged) continue;
    nlohmann::json item = {{"name", JsonName(entry.strName)}, {"change", ChangeCode(entry.eChange)}};
    if (entry.eChange != ReleaseChange::kAdded) item["old_size"] = entry.dwOldSize;
    if (entry.eChange != ReleaseChange::kRemoved) item["new_size"] = entry.dwNewSize;
    if (entry.eChange == ReleaseChange::kAdded) item["loose"] = entry.bLoose;
    entries.push_back(std::move(item));
  }
  document["entries"] = std::move(entries);
  return document;
}

// Writes the update; reports and returns false on a failure.
bool WriteUpdate(const CRelease& newer, const CReleaseDiff& diff, const CDiffOptions& options,
                 const CBuildTarget& target, nlohmann::json& update) {
  CPackFile pack;
  char szOutPath[MAX_PATH] = {};
  bool bWritten = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("writing " + ShortName(target.strShown, 40));
    bWritten = pack.CreateUpdatePack(*newer.pRelease, diff, target.strDir.c_str(), options.bCompress, szOutPath,
                                     target.strFileName.c_str());
    dwError = GetLastError();
  }
  if (!bWritten) {
    ReportError(target.strShown, dwError);
    return false;
  }
  uint64_t qwSize = 0;
  FileSize(szOutPath, qwSize);
  const size_t nEntries = diff.Count(ReleaseChange::kChanged) + diff.Count(ReleaseChange::kAdded);
  PrintErrorLine("wrote " + target.strShown + ": " + std::to_string(nEntries) +
                 (nEntries == 1 ? " entry, " : " entries, ") + (options.bCompress ? "compressed, " : "plain, ") +
                 std::to_string(qwSize) + " bytes");
  update = {{"path", JsonText(target.strShown)},
            {"entries", nEntries},
            {"compressed", options.bCompress},
            {"bytes", qwSize}};
  return true;
}

int RunDiff(const CDiffOptions& options) {
  CBuildTarget target;
  if (!MakeBuildTarget(options.strOutput, target)) return UsageError("diff", "-o needs a file name before .pak");
  CRelease old;
  CRelease newer;
  if (!OpenRelease(options.strOld, old) || !OpenRelease(options.strNew, newer)) return kExitFailure;
  if (old.strRoot != newer.strRoot) {
    return UsageError("diff", "the root names differ: OLD " + old.strShown + " has \"" + old.strRoot + "\", NEW " +
                                  newer.strShown + " has \"" + newer.strRoot + "\"");
  }
  const std::string strUpdatePath = ComparablePath(TargetPath(target, newer.strRoot), CurrentDirectory());
  for (const CRelease* pRelease : {&old, &newer}) {
    if (!pRelease->bTree && ComparablePath(pRelease->strPath, CurrentDirectory()) == strUpdatePath) {
      return UsageError("diff", "-o names " + pRelease->strShown + ", which is being compared");
    }
  }
  const std::string strBaseDir = CurrentDirectory();
  const size_t nLeftOut = ReportLeftOut(old.vecNames, strBaseDir) + ReportLeftOut(newer.vecNames, strBaseDir);

  CReleaseDiff diff;
  std::string strFailed;
  bool bCompared = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("comparing " + ShortName(old.strShown, 30) + " with " + ShortName(newer.strShown, 30));
    bCompared = old.pRelease->DiffRelease(*newer.pRelease, options.bTrustTags, diff, strFailed);
    dwError = GetLastError();
  }
  if (!bCompared) {
    ReportFailure(strFailed.empty() ? "cannot compare " + old.strShown + " with " + newer.strShown
                                    : ShownName(strFailed),
                  ErrorText(dwError));
    return kExitFailure;
  }
  ReportDiff(diff);
  nlohmann::json update = nullptr;
  if (!diff.HasUpdate()) {
    PrintErrorLine("nothing to update: NEW holds no changed or added entry; no pack written");
  } else if (!WriteUpdate(newer, diff, options, target, update)) {
    return kExitFailure;
  }
  if (options.bJson) {
    nlohmann::json document = DiffJson(diff);
    document["old"] = ReleaseJson(old);
    document["new"] = ReleaseJson(newer);
    nlohmann::json leftOut = LeftOutJson(old.vecNames, strBaseDir);
    for (auto& file : LeftOutJson(newer.vecNames, strBaseDir)) leftOut.push_back(std::move(file));
    document["left_out"] = std::move(leftOut);
    document["update"] = std::move(update);
    PrintJson(document);
  }
  if (nLeftOut == 0) return kExitOk;
  ReportFailure(newer.strShown, std::to_string(nLeftOut) + (nLeftOut == 1 ? " file" : " files") +
                                    " of the releases left out (see above)");
  return kExitFailure;
}

}  // namespace

CCommand AddDiffCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CDiffOptions>();
  CLI::App* pSub = app.add_subcommand("diff", "Write the update pack between two releases.");
  pSub->add_option("OLD", pOptions->strOld, "the previous release: its client pack or its directory")
      ->required()
      ->type_name("PACK|DIR");
  pSub->add_option("NEW", pOptions->strNew, "the new release: a directory or a pack")->required()->type_name("DIR|PACK");
  pSub->add_option("-o,--output", pOptions->strOutput, "the update pack to write")->required()->type_name("FILE");
  pSub->add_flag("-z,--compress", pOptions->bCompress, "store the update's entries as LZMA (Lzma86) streams");
  pSub->add_flag("--json", pOptions->bJson, "also write the report as one JSON document to standard output");
  pSub->add_flag("--trust-tags", pOptions->bTrustTags,
                 "take OLD's stored tags that look like content tags (32 lower-case hex digits) as the MD5 of "
                 "their entries instead of reading them");
  pSub->footer(
      "Compares the entries of OLD and NEW by the MD5 of their plain bytes (decoding\n"
      "compressed packs) and writes a pack of exactly the entries of NEW that are\n"
      "new or differ from OLD's entry of that name, with NEW's names, content-tagged\n"
      "as 'build --tags' tags, in name order: the same bytes whether OLD and NEW are\n"
      "packs or directories. A directory is the root, as in 'build DIR'; both roots\n"
      "must have the same name. The pack is written beside UPDATE and moved into\n"
      "place when complete. The report on standard error counts changed, added,\n"
      "unchanged and removed entries and names the added entries a merge will write\n"
      "as loose files (their first directory is not in OLD) and the entries NEW\n"
      "lacks (an update cannot delete them). Nothing to update: no pack is written.\n"
      "Exit status 1 also when a file of a directory is left out (named above).");
  return {pSub, [pOptions] { return RunDiff(*pOptions); }};
}

}  // namespace paktool
