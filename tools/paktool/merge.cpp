// paktool merge UPDATE TARGET: the library's in-place merge of an update
// pack into a client pack, without the updater's process handling; with
// --dry-run, the merge's plan shown and nothing written.
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packsign.h"
#include "tools/paktool/commands.h"
#include "tools/paktool/errors.h"
#include "tools/paktool/json.h"
#include "tools/paktool/output.h"
#include "tools/paktool/packpath.h"
#include "tools/paktool/paths.h"
#include "tools/paktool/progress.h"
#include "tools/paktool/signing.h"

namespace paktool {

namespace {

struct CMergeOptions {
  std::string strUpdate;
  std::string strTarget;
  std::string strDir;
  std::string strStatement;
  bool bDryRun = false;
  bool bJson = false;
};

// A release update's statement, read and held against the update it was
// made for.
struct CStatementArg {
  bool bGiven = false;
  PackStatement statement;
  CUpdateRemovals removals;
};

// Opens a pack once on its own, so that a pack that does not open is named
// in the report; the merge opens both again.
bool CanOpen(const CPackArg& pack) { return OpenPack(pack) != nullptr; }

std::string Bytes(uint64_t qwCount) { return std::to_string(qwCount) + (qwCount == 1 ? " byte" : " bytes"); }

// One step of the plan: what happens to the entry and where its bytes go.
std::string StepLine(const CMergePreviewStep& step, const std::string& strLooseDir) {
  const std::string strAt = " at " + std::to_string(step.dwOffset);
  std::string strWhat;
  std::string strWhere;
  switch (step.eAction) {
    case MergeAction::kInPlace:
      strWhat = "replace";
      strWhere = "in place" + strAt;
      break;
    case MergeAction::kMove:
      strWhat = "move";
      strWhere = step.ePlace == MergePlace::kEnd ? "appended" + strAt : "into a free block" + strAt;
      break;
    case MergeAction::kAdd:
      strWhat = "add";
      strWhere = step.ePlace == MergePlace::kEnd ? "appended" + strAt : "into a free block" + strAt;
      break;
    case MergeAction::kLoose:
      strWhat = "loose";
      strWhere = "as the file " + ShownName(JoinPath(strLooseDir, step.strLoosePath));
      break;
  }
  strWhat.resize(8, ' ');
  const std::string strSize = step.eAction == MergeAction::kLoose ? Bytes(step.dwPlainSize) : Bytes(step.dwSize);
  return strWhat + ShownName(step.strName) + ": " + strSize + ", " + strWhere;
}

void PrintRemovals(const CMergePreview& preview, const std::string& strLooseDir) {
  for (const std::string& strName : preview.vecRemoved) PrintLine("remove  " + ShownName(strName));
  for (const std::string& strName : preview.vecLooseRemoved) {
    PrintLine("remove  " + ShownName(strName) + ": the loose file " +
              ShownName(JoinPath(strLooseDir, LooseRelative(strName))));
  }
}

// The plan's steps counted by action (kInPlace, kMove, kAdd, kLoose), and
// the appended ones of each.
class CPlanCounts {
 public:
  explicit CPlanCounts(const CMergePreview& preview) {
    for (const CMergePreviewStep& step : preview.vecSteps) {
      const size_t nAction = static_cast<size_t>(step.eAction);
      ++m_nCounts[nAction];
      m_nAppended[nAction] += step.ePlace == MergePlace::kEnd;
    }
  }
  size_t Count(MergeAction eAction) const { return m_nCounts[static_cast<size_t>(eAction)]; }
  size_t Appended(MergeAction eAction) const { return m_nAppended[static_cast<size_t>(eAction)]; }

 private:
  size_t m_nCounts[4] = {};
  size_t m_nAppended[4] = {};
};

void PrintPreview(const CMergePreview& preview, const CPackArg& update, const CPackArg& target,
                  const std::string& strLooseDir) {
  const CPlanCounts counts(preview);
  PrintRemovals(preview, strLooseDir);
  for (const CMergePreviewStep& step : preview.vecSteps) PrintLine(StepLine(step, strLooseDir));
  const size_t nEntries = preview.nUpdateEntries;
  const size_t nRemoved = preview.vecRemoved.size() + preview.vecLooseRemoved.size();
  auto count = [&counts](MergeAction eAction) { return std::to_string(counts.Count(eAction)); };
  auto appended = [&counts](MergeAction eAction) { return std::to_string(counts.Appended(eAction)); };
  PrintLine(update.strShown + ": " + std::to_string(nEntries) + (nEntries == 1 ? " entry: " : " entries: ") +
            count(MergeAction::kInPlace) + " replaced in place, " + count(MergeAction::kMove) + " moved (" +
            appended(MergeAction::kMove) + " appended), " + count(MergeAction::kAdd) + " added to the pack (" +
            appended(MergeAction::kAdd) + " appended), " + count(MergeAction::kLoose) + " written as loose files, " +
            std::to_string(nEntries - preview.vecSteps.size()) + " unchanged" +
            (nRemoved > 0 ? "; " + std::to_string(nRemoved) + " removed" : std::string()));
  PrintLine(target.strShown + ": " + Bytes(preview.qwSizeBefore) + " now, " + Bytes(preview.qwSizeAfter) +
            " after the merge (" + Bytes(preview.dwFreeBytesAfter) + " in free blocks)");
}

const char* ActionCode(MergeAction eAction) {
  switch (eAction) {
    case MergeAction::kInPlace:
      return "replace";
    case MergeAction::kMove:
      return "move";
    case MergeAction::kAdd:
      return "add";
    case MergeAction::kLoose:
      break;
  }
  return "loose";
}

const char* PlaceCode(MergePlace ePlace) {
  switch (ePlace) {
    case MergePlace::kSlot:
      return "slot";
    case MergePlace::kFreeBlock:
      return "free_block";
    case MergePlace::kEnd:
      return "end";
    case MergePlace::kNone:
      break;
  }
  return "none";
}

// The dry run's plan as one JSON document, the same facts as its lines.
nlohmann::json PreviewJson(const CMergePreview& preview, const CPackArg& update, const CPackArg& target,
                           const std::string& strLooseDir) {
  nlohmann::json steps = nlohmann::json::array();
  for (const CMergePreviewStep& step : preview.vecSteps) {
    nlohmann::json item = {
        {"name", JsonName(step.strName)}, {"action", ActionCode(step.eAction)}, {"plain_size", step.dwPlainSize}};
    if (step.eAction == MergeAction::kLoose) {
      item["file"] = JsonText(ShownName(JoinPath(strLooseDir, step.strLoosePath)));
    } else {
      item["place"] = PlaceCode(step.ePlace);
      item["offset"] = step.dwOffset;
      item["size"] = step.dwSize;
    }
    steps.push_back(std::move(item));
  }
  nlohmann::json removed = nlohmann::json::array();
  for (const std::string& strName : preview.vecRemoved) removed.push_back({{"name", JsonName(strName)}});
  for (const std::string& strName : preview.vecLooseRemoved) {
    removed.push_back(
        {{"name", JsonName(strName)}, {"file", JsonText(ShownName(JoinPath(strLooseDir, LooseRelative(strName))))}});
  }
  const CPlanCounts counts(preview);
  return {{"update", JsonText(update.strShown)},
          {"target", JsonText(target.strShown)},
          {"steps", std::move(steps)},
          {"removed", std::move(removed)},
          {"counts",
           {{"entries", preview.nUpdateEntries},
            {"replaced", counts.Count(MergeAction::kInPlace)},
            {"moved", counts.Count(MergeAction::kMove)},
            {"moved_appended", counts.Appended(MergeAction::kMove)},
            {"added", counts.Count(MergeAction::kAdd)},
            {"added_appended", counts.Appended(MergeAction::kAdd)},
            {"loose", counts.Count(MergeAction::kLoose)},
            {"unchanged", preview.nUpdateEntries - preview.vecSteps.size()},
            {"removed", preview.vecRemoved.size() + preview.vecLooseRemoved.size()}}},
          {"size_before", preview.qwSizeBefore},
          {"size_after", preview.qwSizeAfter},
          {"free_bytes_after", preview.dwFreeBytesAfter}};
}

// After a merge: the loose files it wrote, each by its path, below the
// directory they went to. A merged name the client pack lacks was written
// as a loose file.
void ReportLooseFiles(const CRealizePack& realizePack, const CPackArg& target, const std::string& strLooseDir) {
  CPackFile pack;
  if (!pack.OpenForReading(target.strPath)) return;  // merged all the same; 'verify' will tell
  std::vector<std::string> vecLoose;
  for (const std::string& strName : realizePack.GetMergedNames()) {
    if (pack.GetEntryMap()->count(strName) == 0) vecLoose.push_back(LooseRelative(strName));
  }
  if (vecLoose.empty()) return;
  PrintLine("wrote " + std::to_string(vecLoose.size()) + (vecLoose.size() == 1 ? " loose file" : " loose files") +
            " below " + ShownName(strLooseDir) + " (new entries outside the client pack's directories):");
  for (const std::string& strPath : vecLoose) PrintLine("  " + ShownName(strPath));
}

// Reads the statement and checks that it was made for the update.
bool ReadStatement(const CMergeOptions& options, const CPackArg& update, CStatementArg& arg) {
  arg.bGiven = !options.strStatement.empty();
  if (!arg.bGiven) return true;
  std::string strWhy;
  if (!ReadStatementFile(ArgPath(options.strStatement), arg.statement, strWhy)) {
    ReportFailure(options.strStatement, strWhy.empty() ? ErrorText(GetLastError()) : "not a statement: " + strWhy);
    return false;
  }
  PackDigest digest;
  if (!DigestPackFile(update.strPath, digest)) {
    ReportError(update.strShown, GetLastError());
    return false;
  }
  if (digest.qwSize != arg.statement.digest.qwSize ||
      std::memcmp(digest.byHash, arg.statement.digest.byHash, kPackDigestSize) != 0) {
    ReportFailure(update.strShown, "not the update " + options.strStatement + " was made for");
    return false;
  }
  arg.removals.vecNames = arg.statement.vecRemove;
  arg.removals.bAllOthers = arg.statement.IsWholeRelease();
  return true;
}

// Whether the client holds a release the statement names; reports and
// returns false when it does not or cannot be read.
bool CheckRelease(const CPackArg& target, const std::string& strLooseDir, const std::string& strDigest,
                  const std::set<std::string>& setRehash, const std::string& strWhat) {
  bool bHolds = false;
  std::string strFailed;
  if (!CheckClientRelease(target.strPath, strLooseDir, strDigest, setRehash, bHolds, strFailed)) {
    ReportFailure(strFailed.empty() ? target.strShown : ShownName(strFailed), ErrorText(GetLastError()));
    return false;
  }
  if (!bHolds) ReportFailure(target.strShown, "does not hold " + strWhat);
  return bHolds;
}

int RunMerge(const CMergeOptions& options) {
  CPackArg update = PackArg(options.strUpdate);
  CPackArg target = PackArg(options.strTarget);
  // Loose files land below the current directory: resolve the packs first.
  update.strPath = AbsolutePath(update.strPath);
  target.strPath = AbsolutePath(target.strPath);
  CStatementArg statement;
  const bool bDelta = IsDeltaFile(update.strPath);
  if (bDelta && (options.strStatement.empty() || options.bDryRun)) {
    return UsageError("merge",
                      "a delta update is merged with its statement (--statement), and not as a dry run: "
                      "'paktool apply-delta' rebuilds the update it was made from");
  }
  if ((!bDelta && !CanOpen(update)) || !CanOpen(target) || !ReadStatement(options, update, statement)) {
    return kExitFailure;
  }
  std::string strDelta;
  if (bDelta && !ReadWholeFile(update.strPath.c_str(), strDelta)) {
    ReportError(update.strShown, GetLastError());
    return kExitFailure;
  }

  CWorkingDirGuard guard;
  if (!options.strDir.empty() && !SetCurrentDirectoryA(ArgPath(options.strDir).c_str())) {
    ReportError(options.strDir, GetLastError());
    return kExitFailure;
  }
  const std::string strLooseDir = CurrentDirectory();
  const PackStatement& said = statement.statement;
  if (statement.bGiven && !said.strBaseRelease.empty() &&
      !CheckRelease(target, strLooseDir, said.strBaseRelease, {},
                    "the release the update applies to (version " + said.strBase + ")")) {
    return kExitFailure;
  }
  int nMerged = 0;
  DWORD dwError = ERROR_SUCCESS;
  std::string strRefusal;
  CMergePreview preview;
  CRealizePack realizePack;
  CDeltaOutcome outcome;
  {
    CSpinner spinner((options.bDryRun ? "planning " : "merging ") + ShortName(update.strShown, 30) + " into " +
                     ShortName(target.strShown, 30));
    const CUpdateRemovals* pRemovals = statement.bGiven ? &statement.removals : nullptr;
    if (options.bDryRun) {
      nMerged = realizePack.PreviewMerge(update.strPath.c_str(), target.strPath.c_str(), preview, pRemovals);
    } else if (bDelta) {
      nMerged = realizePack.MergeDeltaUpdate(reinterpret_cast<const unsigned char*>(strDelta.data()), strDelta.size(),
                                             target.strPath.c_str(), *pRemovals, outcome);
    } else if (pRemovals) {
      nMerged = realizePack.MergeUpdate(update.strPath.c_str(), target.strPath.c_str(), *pRemovals);
    } else {
      nMerged = realizePack.MergePack(update.strPath.c_str(), target.strPath.c_str());
    }
    dwError = GetLastError();
    strRefusal = realizePack.GetMergeRefusal();
  }
  if (nMerged != 1 && outcome.eFault == DeltaFault::kBase) {
    strRefusal = "its entry \"" + outcome.strName + "\" is not the one the delta was made against";
  } else if (nMerged != 1 && outcome.eFault == DeltaFault::kDamaged) {
    strRefusal = outcome.strName.empty() ? "a damaged delta: " + outcome.strWhy
                                         : "a damaged delta: entry \"" + outcome.strName + "\" does not give its bytes";
  }
  if (nMerged != 1) {
    // The refusal names the entry and the rule; the error code alone cannot.
    ReportFailure("cannot merge " + update.strShown + " into " + target.strShown,
                  strRefusal.empty() ? ErrorText(dwError) : ShownName(strRefusal) + " (" + ErrorText(dwError) + ")");
    return kExitFailure;
  }
  if (options.bDryRun) {
    const std::string strShownDir = options.strDir.empty() ? std::string(".") : ArgPath(options.strDir);
    if (options.bJson) {
      PrintJson(PreviewJson(preview, update, target, strShownDir));
    } else {
      PrintPreview(preview, update, target, strShownDir);
    }
    return kExitOk;
  }
  PrintLine("merged " + update.strShown + " into " + target.strShown);
  ReportLooseFiles(realizePack, target, strLooseDir);
  if (statement.bGiven && !said.strRelease.empty()) {
    if (!CheckRelease(target, strLooseDir, said.strRelease, realizePack.GetMergedNames(),
                      "the release the update makes (version " + said.strVersion + ")")) {
      return kExitFailure;
    }
    PrintLine(target.strShown + ": holds release " + said.strRelease + " (version " + said.strVersion + ")");
  }
  return kExitOk;
}

}  // namespace

CCommand AddMergeCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CMergeOptions>();
  CLI::App* pSub = app.add_subcommand("merge", "Merge an update pack into a client pack in place.");
  pSub->add_option("UPDATE", pOptions->strUpdate, "the update pack")->required()->type_name("FILE");
  pSub->add_option("TARGET", pOptions->strTarget, "the client pack, changed in place")->required()->type_name("FILE");
  pSub->add_option("-C,--directory", pOptions->strDir, "write loose files below DIR (default: the current directory)")
      ->type_name("DIR");
  CLI::Option* pDryRun = pSub->add_flag("-n,--dry-run", pOptions->bDryRun,
                                        "show what the merge would do, step by step, and write nothing");
  pSub->add_flag("--json", pOptions->bJson, "with --dry-run: write the plan as one JSON document to standard output")
      ->needs(pDryRun);
  pSub->add_option("--statement", pOptions->strStatement,
                   "apply UPDATE as the release update this statement (UPDATE.statement) describes")
      ->type_name("FILE");
  pSub->footer(
      "TARGET takes over every entry of UPDATE whose tag differs from its own entry\n"
      "of that name, or that it lacks. New entries whose first directory is not in\n"
      "TARGET are written as loose files below DIR, at their path without the root\n"
      "name; the merge names DIR and each loose file it wrote there. Nothing is\n"
      "written when either pack fails the merge's checks. Run 'paktool verify\n"
      "TARGET' afterwards to check the result. --dry-run prints the merge's own\n"
      "plan: each entry replaced in place, moved (into a free block or appended),\n"
      "added to the pack, or written as a loose file, with its size and offset, and\n"
      "TARGET's size before and after (--json: as one JSON document); a merge that\n"
      "would be refused is refused in the same words. With --statement (as 'paktool\n"
      "diff --from --to' writes it), TARGET must hold the release the update\n"
      "applies to (its entries and the loose files below DIR its record lists), the\n"
      "merge removes the entries the statement lists and records the loose files,\n"
      "and TARGET must then hold the release the update makes: as the updater\n"
      "applies it, without keys. A delta update ('paktool diff --delta') is merged\n"
      "only so: rebuilt against TARGET first, every entry checked against the MD5\n"
      "the delta records.");
  return {pSub, [pOptions] { return RunMerge(*pOptions); }};
}

}  // namespace paktool
