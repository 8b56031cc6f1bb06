#include "tools/filepacktools_lib/updatestatement.h"

#include "tools/filepacktools_lib/packmanifest.h"

bool MakeUpdateStatement(const CReleaseDiff& diff, const std::string& strUpdatePath, const std::string& strProduct,
                         const std::string& strBase, const std::string& strVersion, PackStatement& statement) {
  statement = PackStatement();
  statement.strProduct = strProduct;
  statement.strVersion = strVersion;
  statement.strBase = strBase;
  if (!DigestPackFile(strUpdatePath, statement.digest) || !ReleaseDigest(diff.mapNew, statement.strRelease)) {
    return false;
  }
  if (strBase == kAnyBase) return true;
  if (!ReleaseDigest(diff.mapOld, statement.strBaseRelease)) return false;
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.eChange == ReleaseChange::kRemoved) statement.vecRemove.push_back(entry.strName);
  }
  return true;
}
