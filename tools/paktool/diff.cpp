// paktool diff OLD NEW -o UPDATE: the update pack between two releases,
// each a pack or a directory tree, compared by content; with --from and
// --to, also the update's statement (UPDATE.statement), which binds it to
// its base release and lists the entries it removes, for 'paktool sign'.
// diff --full NEW: the full update, for a client of any release.
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/dir_sync.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packmanifest.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/filepacktools_lib/packversion.h"
#include "tools/filepacktools_lib/updatestatement.h"
#include "tools/paktool/build.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/leftout.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"
#include "tools/paktool/release.h"

namespace paktool {

namespace {

struct CDiffOptions {
  std::vector<std::string> vecReleases;  // OLD NEW, or NEW alone with --full
  std::vector<std::string> vecExcludes;
  std::string strOutput;
  std::string strFrom;
  std::string strTo;
  std::string strProduct = kPackProduct;
  bool bFull = false;
  bool bDelta = false;
  bool bCompress = false;
  bool bJson = false;
  bool bTrustTags = false;

  bool HasStatement() const { return !strTo.empty(); }
};

const char kVersionRule[] = "a release version: dotted decimal numbers, at most 8 of at most 9 digits (1.02)";

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

// The command line's versions: none, --from and --to, or --full and --to.
// Returns "" or what is wrong.
std::string VersionProblem(const CDiffOptions& options) {
  if (!IsStatementText(options.strProduct)) return "--product: 1 to 64 printable ASCII characters without spaces";
  if (options.bFull) {
    if (options.vecReleases.size() != 1) return "--full takes NEW alone";
    if (!options.strFrom.empty()) return "--full makes an update for any release: no --from";
    if (options.strTo.empty()) return "--full needs --to, the version the update brings";
  } else if (options.vecReleases.size() != 2) {
    return "give OLD and NEW (or --full NEW)";
  } else if (options.strFrom.empty() != options.strTo.empty()) {
    return "--from and --to go together";
  }
  if (options.bDelta && (options.bFull || !options.HasStatement())) {
    return "--delta makes an update for one base: it needs --from and --to";
  }
  if (!options.HasStatement()) return std::string();
  if (!IsReleaseVersion(options.strTo)) return std::string("--to: ") + kVersionRule;
  if (options.bFull) return std::string();
  if (!IsReleaseVersion(options.strFrom)) return std::string("--from: ") + kVersionRule;
  if (CompareVersions(options.strTo, options.strFrom) != VersionOrder::kNewer) return "--to must be newer than --from";
  return std::string();
}

// The report on standard error: counts, loose files, removed entries.
void ReportDiff(const CReleaseDiff& diff, const CDiffOptions& options) {
  PrintErrorLine(CountText(diff, ReleaseChange::kChanged) + ", " + CountText(diff, ReleaseChange::kAdded) + ", " +
                 CountText(diff, ReleaseChange::kUnchanged) + ", " + CountText(diff, ReleaseChange::kRemoved));
  if (options.bFull) {
    PrintErrorLine("a full update: a client of any release takes every entry of NEW it lacks or holds otherwise,");
    PrintErrorLine("and every entry NEW lacks is removed from it");
    return;
  }
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
      PrintErrorLine(options.HasStatement()
                         ? "in OLD but not in NEW: the update removes these (its statement lists them):"
                         : "in OLD but not in NEW: only a release update (--from and --to) removes entries, so "
                           "clients of this update keep these:");
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

std::string BytesText(uint64_t qwBytes) { return std::to_string(qwBytes) + (qwBytes == 1 ? " byte" : " bytes"); }

std::string EntriesText(size_t nEntries) { return std::to_string(nEntries) + (nEntries == 1 ? " entry" : " entries"); }

// Writes the delta update; reports and returns false on a failure.
bool WriteDelta(const CRelease& old, const CRelease& newer, const CReleaseDiff& diff, const CDiffOptions& options,
                const CBuildTarget& target, std::string& strPath, nlohmann::json& update) {
  strPath = TargetPath(target, newer.strRoot);
  CDeltaReport report;
  bool bWritten = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("writing " + ShortName(target.strShown, 40));
    bWritten = old.pRelease->CreateDeltaUpdate(*newer.pRelease, diff, strPath, options.bCompress, report);
    dwError = GetLastError();
  }
  if (!bWritten) {
    ReportError(report.strFailed.empty() ? target.strShown : ShownName(report.strFailed), dwError);
    return false;
  }
  uint64_t qwSize = 0;
  FileSize(strPath, qwSize);
  PrintErrorLine("patches: " + EntriesText(report.nPatches) + ", " + BytesText(report.qwPatchBytes) + " instead of " +
                 BytesText(report.qwPatchedWholeBytes) + " whole (" +
                 BytesText(report.qwPatchedWholeBytes - report.qwPatchBytes) + " saved)");
  PrintErrorLine("whole: " + EntriesText(report.nChangedWhole) + " changed (a patch would not save a quarter), " +
                 BytesText(report.qwChangedWholeBytes) + "; " + EntriesText(report.nAddedWhole) + " added, " +
                 BytesText(report.qwAddedWholeBytes));
  PrintErrorLine("wrote " + target.strShown + ": a delta update of " +
                 EntriesText(report.nPatches + report.nChangedWhole + report.nAddedWhole) + ", " +
                 (options.bCompress ? "whole entries compressed, " : "whole entries plain, ") + std::to_string(qwSize) +
                 " bytes");
  update = {
      {"path", JsonText(target.strShown)},
      {"entries", report.nPatches + report.nChangedWhole + report.nAddedWhole},
      {"compressed", options.bCompress},
      {"bytes", qwSize},
      {"delta",
       {{"patches",
         {{"count", report.nPatches}, {"bytes", report.qwPatchBytes}, {"whole_bytes", report.qwPatchedWholeBytes}}},
        {"changed_whole", {{"count", report.nChangedWhole}, {"bytes", report.qwChangedWholeBytes}}},
        {"added_whole", {{"count", report.nAddedWhole}, {"bytes", report.qwAddedWholeBytes}}}}}};
  return true;
}

// Writes the update; reports and returns false on a failure.
bool WriteUpdate(const CRelease& newer, const CReleaseDiff& diff, const CDiffOptions& options,
                 const CBuildTarget& target, std::string& strPath, nlohmann::json& update) {
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
  strPath = szOutPath;
  uint64_t qwSize = 0;
  FileSize(strPath, qwSize);
  const size_t nEntries = diff.Count(ReleaseChange::kChanged) + diff.Count(ReleaseChange::kAdded);
  PrintErrorLine("wrote " + target.strShown + ": " + std::to_string(nEntries) +
                 (nEntries == 1 ? " entry, " : " entries, ") + (options.bCompress ? "compressed, " : "plain, ") +
                 std::to_string(qwSize) + " bytes");
  update = {
      {"path", JsonText(target.strShown)}, {"entries", nEntries}, {"compressed", options.bCompress}, {"bytes", qwSize}};
  return true;
}

// Writes UPDATE.statement; reports and returns false on a failure.
bool WriteStatement(const CReleaseDiff& diff, const CDiffOptions& options, const CBuildTarget& target,
                    const std::string& strPath, nlohmann::json& json) {
  const std::string strShown = PackStatementPath(target.strShown);
  PackStatement statement;
  std::string strField;
  if (!MakeUpdateStatement(diff, strPath, options.strProduct, options.bFull ? kAnyBase : options.strFrom, options.strTo,
                           statement)) {
    ReportError(strShown, GetLastError());
    return false;
  }
  statement.bDelta = options.bDelta;
  if (CheckStatement(statement, strField) == SigFileFault::kTooLong) {
    ReportFailure(strShown, "the update removes too many entries for one statement: make a full update (--full)");
    return false;
  }
  if (!WritePackStatement(strPath, statement)) {
    ReportError(strShown, GetLastError());
    return false;
  }
  const size_t nRemoved = statement.vecRemove.size();
  PrintErrorLine("wrote " + strShown + ": version " + statement.strVersion +
                 (options.bFull ? ", a full update for any release"
                                : " for clients of " + statement.strBase + ", removes " + std::to_string(nRemoved) +
                                      (nRemoved == 1 ? " entry" : " entries")) +
                 "; sign it with 'paktool sign " + target.strShown + " --key KEY'");
  nlohmann::json removed = nlohmann::json::array();
  for (const std::string& strName : statement.vecRemove) removed.push_back(JsonName(strName));
  json = {{"path", JsonText(strShown)},
          {"version", statement.strVersion},
          {"base", statement.strBase},
          {"base_release",
           statement.strBaseRelease.empty() ? nlohmann::json(nullptr) : nlohmann::json(statement.strBaseRelease)},
          {"release", statement.strRelease},
          {"remove", std::move(removed)}};
  return true;
}

// A statement an earlier diff left beside UPDATE would not match the new
// pack: it goes when UPDATE is written without one.
void RemoveOlderStatement(const std::string& strPath, const CBuildTarget& target) {
  if (DeleteFileA(PackStatementPath(strPath).c_str())) {
    PrintErrorLine("removed " + PackStatementPath(target.strShown) + ", which an earlier diff wrote");
  }
}

// With nothing to update, an update an earlier run left at UPDATE, and its
// statement and signature, would pass for this diff's: they go, durably,
// and each is named. Reports and returns false when one cannot be removed.
bool RemoveStaleUpdate(const std::string& strPath, const CBuildTarget& target, nlohmann::json& removed) {
  const std::pair<std::string, std::string> files[] = {
      {strPath, target.strShown},
      {PackStatementPath(strPath), PackStatementPath(target.strShown)},
      {PackSignaturePath(strPath), PackSignaturePath(target.strShown)}};
  for (const auto& file : files) {
    if (!DeleteFileA(file.first.c_str())) {
      const DWORD dwError = GetLastError();
      if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) continue;
      ReportFailure(file.second, "an earlier run left it, and it cannot be removed: " + ErrorText(dwError));
      return false;
    }
    PrintErrorLine("removed " + file.second + ", which an earlier run left: it is not an update of these releases");
    removed.push_back(JsonText(file.second));
    if (!FlushDirectoryOf(file.first.c_str())) {
      ReportFailure(file.second, "its removal cannot be made durable: " + ErrorText(GetLastError()));
      return false;
    }
  }
  return true;
}

int RunDiff(const CDiffOptions& options) {
  const std::string strProblem = VersionProblem(options);
  if (!strProblem.empty()) return UsageError("diff", strProblem);
  CBuildTarget target;
  if (!MakeBuildTarget(options.strOutput, target)) return UsageError("diff", "-o needs a file name before .pak");
  CRelease old;
  CRelease newer;
  if (options.bFull) {
    if (!OpenRelease(options.vecReleases[0], newer, options.vecExcludes)) return kExitFailure;
    EmptyRelease(newer.strRoot, old);
  } else if (!OpenRelease(options.vecReleases[0], old, options.vecExcludes) ||
             !OpenRelease(options.vecReleases[1], newer, options.vecExcludes)) {
    return kExitFailure;
  }
  if (old.strRoot != newer.strRoot) {
    return UsageError("diff", "the root names differ: OLD " + old.strShown + " has \"" + old.strRoot + "\", NEW " +
                                  newer.strShown + " has \"" + newer.strRoot + "\"");
  }
  const std::string strUpdatePath = ComparablePath(TargetPath(target, newer.strRoot), CurrentDirectory());
  for (const CRelease* pRelease : {&old, &newer}) {
    if (pRelease->IsPack() && ComparablePath(pRelease->strPath, CurrentDirectory()) == strUpdatePath) {
      return UsageError("diff", "-o names " + pRelease->strShown + ", which is being compared");
    }
  }
  CLeftOutFiles leftOut(CurrentDirectory());
  leftOut.Add(old.vecNames, old.RootDir());
  leftOut.Add(newer.vecNames, newer.RootDir());
  const size_t nLeftOut = leftOut.Report();

  CReleaseDiff diff;
  std::string strFailed;
  bool bCompared = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("comparing " + (options.bFull ? std::string("with nothing") : ShortName(old.strShown, 30)) +
                     " with " + ShortName(newer.strShown, 30));
    bCompared = old.pRelease->DiffRelease(*newer.pRelease, options.bTrustTags, diff, strFailed);
    dwError = GetLastError();
  }
  if (!bCompared) {
    ReportFailure(
        strFailed.empty() ? "cannot compare " + old.strShown + " with " + newer.strShown : ShownName(strFailed),
        ErrorText(dwError));
    return kExitFailure;
  }
  ReportDiff(diff, options);
  nlohmann::json update = nullptr;
  nlohmann::json statement = nullptr;
  nlohmann::json removed = nlohmann::json::array();
  std::string strPath;
  const bool bNothing = !(options.HasStatement() ? diff.HasChanges() : diff.HasUpdate());
  if (bNothing) {
    PrintErrorLine(options.HasStatement() ? "nothing to update: NEW holds the same entries as OLD; no pack written"
                                          : "nothing to update: NEW holds no changed or added entry; no pack written");
    if (!RemoveStaleUpdate(TargetPath(target, newer.strRoot), target, removed)) return kExitFailure;
  } else if (options.bDelta ? !WriteDelta(old, newer, diff, options, target, strPath, update)
                            : !WriteUpdate(newer, diff, options, target, strPath, update)) {
    return kExitFailure;
  } else if (!options.HasStatement()) {
    RemoveOlderStatement(strPath, target);
  } else if (!WriteStatement(diff, options, target, strPath, statement)) {
    return kExitFailure;
  }
  if (options.bJson) {
    nlohmann::json document = DiffJson(diff);
    document["old"] = ReleaseJson(old);
    document["new"] = ReleaseJson(newer);
    std::string strOldDigest;
    std::string strNewDigest;
    if (ReleaseDigest(diff.mapOld, strOldDigest) && ReleaseDigest(diff.mapNew, strNewDigest)) {
      document["old_release"] = options.bFull ? nlohmann::json(nullptr) : nlohmann::json(strOldDigest);
      document["new_release"] = strNewDigest;
    }
    document["left_out"] = leftOut.LeftOutJson();
    document["excluded"] = leftOut.ExcludedJson();
    document["update"] = std::move(update);
    document["statement"] = std::move(statement);
    document["removed_files"] = std::move(removed);
    PrintJson(document);
  }
  if (nLeftOut == 0) return bNothing ? kExitNothingToUpdate : kExitOk;
  ReportFailure(newer.strShown, std::to_string(nLeftOut) + (nLeftOut == 1 ? " file" : " files") +
                                    " of the releases left out (see above)");
  return kExitFailure;
}

}  // namespace

CCommand AddDiffCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CDiffOptions>();
  CLI::App* pSub = app.add_subcommand("diff", "Write the update pack between two releases.");
  pSub->add_option("RELEASES", pOptions->vecReleases,
                   "OLD, the previous release (its client pack or its directory), and NEW, the new release (a "
                   "directory or a pack); NEW alone with --full")
      ->required()
      ->expected(1, 2)
      ->type_name("[OLD] NEW");
  pSub->add_option("-o,--output", pOptions->strOutput, "the update pack to write")->required()->type_name("FILE");
  AddExcludeOption(*pSub, pOptions->vecExcludes);
  pSub->add_option("--from", pOptions->strFrom, "the version of OLD: the update applies to clients of it")
      ->type_name("B");
  pSub->add_option("--to", pOptions->strTo, "the version of NEW: the version the update brings")->type_name("V");
  pSub->add_flag("--full", pOptions->bFull,
                 "a full update of NEW for a client of any release: every entry of NEW; every entry NEW lacks "
                 "is removed");
  pSub->add_flag("--delta", pOptions->bDelta,
                 "write a delta update: each changed entry as a binary patch against OLD's entry when that is a "
                 "quarter smaller or more than the entry whole (needs --from and --to)");
  pSub->add_option("--product", pOptions->strProduct, "the product the statement names")
      ->type_name("NAME")
      ->capture_default_str();
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
      "lacks. With --from B --to V, UPDATE.statement is written beside UPDATE: the\n"
      "update brings version V to clients of version B that hold exactly OLD, and\n"
      "removes the entries NEW lacks; 'paktool sign UPDATE --key KEY' signs it. With\n"
      "--full NEW --to V the update holds every entry of NEW and applies to a client\n"
      "of any release. With --delta the update is a delta: a changed entry goes as\n"
      "a patch against OLD's entry when the patch is smaller than three quarters of\n"
      "the entry whole (compressed with -z), and the updater (or 'paktool\n"
      "apply-delta') rebuilds the full update against the client first. Nothing to\n"
      "update: no pack is written, an update an earlier run left at UPDATE is\n"
      "removed with its statement and signature (each named), and the exit status\n"
      "is 3, so that 'diff && sign' signs nothing. Exit status 1 also when a file\n"
      "of a directory is left out (named above).");
  return {pSub, [pOptions] { return RunDiff(*pOptions); }};
}

}  // namespace paktool
