// paktool manifest SOURCE: the release a pack, a directory tree or a build
// list holds (packmanifest.h): every entry's MD5, size and name, and the
// release digest that statements name.
#include <nlohmann/json.hpp>

#include "tools/filepacktools_lib/packclient.h"
#include "tools/filepacktools_lib/packmanifest.h"
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

struct CManifestOptions {
  std::string strSource;
  std::vector<std::string> vecExcludes;
  bool bList = false;
  bool bClient = false;
  bool bTrustTags = false;
  bool bJson = false;
};

// The manifest of the opened source; reports and returns false on a failure.
bool ReadManifest(const CManifestOptions& options, CRelease& release, ContentTagMap& mapRelease) {
  std::string strFailed;
  bool bRead = false;
  DWORD dwError = ERROR_SUCCESS;
  {
    CSpinner spinner("reading " + ShortName(release.strShown, 40));
    if (options.bClient) {
      release.pRelease->Close();  // the client is read as the updater reads it
      bRead = ReadClientRelease(release.strPath, ParentPath(release.strPath), {}, mapRelease, strFailed);
    } else {
      bRead = release.pRelease->ReleaseManifest(options.bTrustTags, mapRelease, strFailed);
    }
    dwError = GetLastError();
  }
  if (!bRead) ReportFailure(strFailed.empty() ? release.strShown : ShownName(strFailed), ErrorText(dwError));
  return bRead;
}

int RunManifest(const CManifestOptions& options) {
  CRelease release;
  if (!(options.bList ? OpenListRelease(options.strSource, release, options.vecExcludes)
                      : OpenRelease(options.strSource, release, options.vecExcludes))) {
    return kExitFailure;
  }
  if (options.bClient && !release.IsPack()) return UsageError("manifest", "--client reads a client pack");
  ContentTagMap mapRelease;
  if (!ReadManifest(options, release, mapRelease)) return kExitFailure;
  std::string strDigest;
  if (!ReleaseDigest(mapRelease, strDigest)) {
    ReportError(release.strShown, GetLastError());
    return kExitFailure;
  }
  CLeftOutFiles leftOut(CurrentDirectory());
  leftOut.Add(release.vecNames, release.RootDir());
  const size_t nLeftOut = leftOut.Report();
  uint64_t qwBytes = 0;
  nlohmann::json entries = nlohmann::json::array();
  for (const auto& item : mapRelease) {
    const std::string strMd5(item.second.szTag, kPackTagSize);
    qwBytes += item.second.dwSize;
    if (options.bJson) {
      entries.push_back({{"name", JsonName(item.first)}, {"size", item.second.dwSize}, {"md5", strMd5}});
    } else {
      std::string strSize = std::to_string(item.second.dwSize);
      if (strSize.size() < 10) strSize.insert(0, 10 - strSize.size(), ' ');
      PrintLine(strMd5 + "  " + strSize + "  " + ShownName(item.first));
    }
  }
  const size_t nEntries = mapRelease.size();
  if (options.bJson) {
    PrintJson({{"source", ReleaseJson(release)},
               {"entries", std::move(entries)},
               {"count", nEntries},
               {"bytes", qwBytes},
               {"release", strDigest}});
  } else {
    PrintLine(release.strRoot + ": " + std::to_string(nEntries) + (nEntries == 1 ? " entry, " : " entries, ") +
              std::to_string(qwBytes) + " bytes, release " + strDigest);
  }
  if (nLeftOut == 0) return kExitOk;
  ReportFailure(release.strShown, std::to_string(nLeftOut) + (nLeftOut == 1 ? " file" : " files") +
                                      " of the source left out (see above)");
  return kExitFailure;
}

}  // namespace

CCommand AddManifestCommand(CLI::App& app) {
  auto pOptions = std::make_shared<CManifestOptions>();
  CLI::App* pSub = app.add_subcommand("manifest", "Print the release a pack, a directory or a file list holds.");
  pSub->add_option("SOURCE", pOptions->strSource,
                   "a pack, a directory (the root, as 'build DIR' takes it) or with "
                   "--list a file list")
      ->required()
      ->type_name("PACK|DIR|FILE");
  pSub->add_flag("--list", pOptions->bList, "SOURCE is a file list, as 'build --list' reads it");
  AddExcludeOption(*pSub, pOptions->vecExcludes);
  pSub->add_flag("--client", pOptions->bClient,
                 "SOURCE is a client pack: count the loose files its record lists (below the pack's directory) "
                 "and take content tags as the updater does");
  pSub->add_flag("--trust-tags", pOptions->bTrustTags,
                 "take stored tags that look like content tags as the MD5 of their entries instead of reading them");
  pSub->add_flag("--json", pOptions->bJson, "write the manifest as one JSON document to standard output");
  pSub->footer(
      "A release is the set of its entries: name, plain size and the MD5 of the plain\n"
      "bytes (compressed entries decoded). Prints a line 'MD5  SIZE  NAME' per entry in\n"
      "name order, then 'ROOT: N entries, B bytes, release DIGEST'. The digest is the\n"
      "SHA-256 of the release's canonical text; statements name releases by it, and\n"
      "a pack, the directory it was built from and a client that reached it through\n"
      "updates give the same. With --json: source, entries (name, size, md5), count,\n"
      "bytes and release. --exclude leaves files of a directory or a list out of its\n"
      "release, as 'build' does. Exit status 1 also when a file of a directory is left\n"
      "out otherwise.");
  return {pSub, [pOptions] { return RunManifest(*pOptions); }};
}

}  // namespace paktool
