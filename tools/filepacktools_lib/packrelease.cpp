// Releases and updates: how a build takes its files, two releases compared
// by content, and the update pack between them.
#include <cassert>
#include <cstring>

#include "tools/filepacktools_lib/contenttag.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packbuilder.h"
#include "tools/filepacktools_lib/packcontent.h"
#include "tools/filepacktools_lib/packplan.h"
#include "tools/filepacktools_lib/packtree.h"

// What a comparison knows of one release: the tag of every name, the tree
// a merge into a client of it would see, and where a tree's files lie.
struct CReleaseSide {
  ContentTagMap mapTags;
  const PackDirMap* pTree = nullptr;  // a pack's own tree, or mapBuiltTree
  PackDirMap mapBuiltTree;
  std::map<std::string, std::string> mapFiles;  // name -> file, for a tree
};

namespace {

CReleaseEntry MakeEntry(const std::string& strName, ReleaseChange eChange) {
  CReleaseEntry entry;
  entry.strName = strName;
  entry.eChange = eChange;
  return entry;
}

// Walks both name-ordered maps together.
void Compare(const CReleaseSide& oldSide, const CReleaseSide& newSide, CReleaseDiff& diff) {
  auto itOld = oldSide.mapTags.begin();
  auto itNew = newSide.mapTags.begin();
  while (itOld != oldSide.mapTags.end() || itNew != newSide.mapTags.end()) {
    const bool bOnlyOld =
        itNew == newSide.mapTags.end() || (itOld != oldSide.mapTags.end() && itOld->first < itNew->first);
    const bool bOnlyNew = !bOnlyOld && (itOld == oldSide.mapTags.end() || itNew->first < itOld->first);
    if (bOnlyOld) {
      CReleaseEntry entry = MakeEntry(itOld->first, ReleaseChange::kRemoved);
      entry.dwOldSize = itOld->second.dwSize;
      diff.vecEntries.push_back(std::move(entry));
      ++itOld;
      continue;
    }
    CReleaseEntry entry = MakeEntry(itNew->first, ReleaseChange::kAdded);
    if (!bOnlyNew) {
      auto itOldFile = oldSide.mapFiles.find(itNew->first);
      if (itOldFile != oldSide.mapFiles.end()) entry.strOldFile = itOldFile->second;
    }
    entry.dwNewSize = itNew->second.dwSize;
    auto itFile = newSide.mapFiles.find(itNew->first);
    if (itFile != newSide.mapFiles.end()) entry.strNewFile = itFile->second;
    if (bOnlyNew) {
      // As the merge's planner decides between joining the tree and a loose file.
      entry.bLoose = !BelongsToTree(*oldSide.pTree, entry.strName) && !LooseRelative(entry.strName).empty();
    } else {
      entry.dwOldSize = itOld->second.dwSize;
      const bool bSame = std::memcmp(itOld->second.szTag, itNew->second.szTag, kPackTagSize) == 0;
      entry.eChange = bSame ? ReleaseChange::kUnchanged : ReleaseChange::kChanged;
      ++itOld;
    }
    diff.vecEntries.push_back(std::move(entry));
    ++itNew;
  }
}

}  // namespace

size_t CReleaseDiff::Count(ReleaseChange eChange) const {
  size_t nCount = 0;
  for (const CReleaseEntry& entry : vecEntries) nCount += entry.eChange == eChange;
  return nCount;
}

uint64_t CReleaseDiff::Bytes(ReleaseChange eChange) const {
  uint64_t qwBytes = 0;
  for (const CReleaseEntry& entry : vecEntries) {
    if (entry.eChange == eChange) qwBytes += eChange == ReleaseChange::kRemoved ? entry.dwOldSize : entry.dwNewSize;
  }
  return qwBytes;
}

bool CReleaseDiff::HasUpdate() const { return Count(ReleaseChange::kChanged) + Count(ReleaseChange::kAdded) > 0; }

bool CReleaseDiff::HasChanges() const { return HasUpdate() || Count(ReleaseChange::kRemoved) > 0; }

bool CPackFile::IsOpenPack() const { return m_nMode == 2 && static_cast<bool>(m_hFileMapping); }

std::string CPackFile::ReleaseRoot() const {
  return IsOpenPack() ? FieldString(m_header.szRootName, kPackRootNameSize) : m_strPackName;
}

std::vector<CBuildFileName> CPackFile::NameBuildFiles() const {
  return ::NameBuildFiles(BuildSettings(false), m_vecFileList);
}

std::string CPackFile::WorkDirectory() const { return FieldString(m_szWorkDir, sizeof(m_szWorkDir)); }

bool CPackFile::TagRelease(bool bTrustTags, const std::set<std::string>& setRehash, CReleaseSide& side,
                           std::string& strFailed) const {
  std::vector<CContentSource> vecSources;
  if (IsOpenPack()) {
    for (const auto& item : m_mapEntry) {
      const PackEntry& entry = *item.second;
      if (bTrustTags && IsContentTag(entry.szTag) && setRehash.count(item.first) == 0) {
        CContentTag& tag = side.mapTags[item.first];
        std::memcpy(tag.szTag, entry.szTag, kPackTagSize);
        tag.dwSize = entry.dwOrigSize;
      } else {
        vecSources.push_back({item.first, &entry, std::string()});
      }
    }
    side.pTree = &m_mapDir;
  } else {
    const std::string strRoot = ReleaseRoot();
    side.pTree = &side.mapBuiltTree;
    side.mapBuiltTree[strRoot];
    for (const CBuildFileName& name : NameBuildFiles()) {
      if (name.eFate != BuildFileFate::kTaken) continue;
      vecSources.push_back({name.strName, nullptr, name.strFile});
      side.mapFiles[name.strName] = name.strFile;
      TreeAddBelowRoot(side.mapBuiltTree, strRoot, LooseRelative(name.strName));
    }
  }
  const CEntryReader reader = Reader();
  CContentPack pack;
  pack.pReader = &reader;
  CMappedView whole;
  if (IsOpenPack() && !m_byCompressed) {
    DWORD dwSizeHigh = 0;
    const DWORD dwSizeLow = GetFileSize(m_hPackFile.Get(), &dwSizeHigh);
    pack.qwWholeSize = (static_cast<uint64_t>(dwSizeHigh) << 32) | dwSizeLow;
    // Without the address space for it, entry by entry.
    pack.pbyWhole = whole.Map(m_hFileMapping.Get(), 0, pack.qwWholeSize, m_dwAllocGranularity);
  }
  return TagContent(vecSources, pack, m_nBuildWorkers, side.mapTags, strFailed);
}

bool CPackFile::ReleaseManifest(bool bTrustTags, ContentTagMap& mapRelease, std::string& strFailed,
                                const std::set<std::string>& setRehash) const {
  strFailed.clear();
  CReleaseSide side;
  const bool bOk = TagRelease(bTrustTags, setRehash, side, strFailed);
  mapRelease = std::move(side.mapTags);
  return bOk;
}

bool CPackFile::DiffRelease(const CPackFile& newer, bool bTrustTags, CReleaseDiff& diff, std::string& strFailed) const {
  diff = CReleaseDiff();
  strFailed.clear();
  if (ReleaseRoot() != newer.ReleaseRoot()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  CReleaseSide oldSide;
  CReleaseSide newSide;
  if (!TagRelease(bTrustTags, {}, oldSide, strFailed) || !newer.TagRelease(false, {}, newSide, strFailed)) {
    return false;
  }
  Compare(oldSide, newSide, diff);
  diff.mapOld = std::move(oldSide.mapTags);
  diff.mapNew = std::move(newSide.mapTags);
  return true;
}

bool CPackFile::CreateUpdatePack(const CPackFile& newer, const CReleaseDiff& diff, const char* chDesFilePath,
                                 bool bCompress, char* pszOutPath, const char* pszPackName) {
  assert(NULL != chDesFilePath);
  if (!chDesFilePath || !chDesFilePath[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!diff.HasChanges()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  CBuildSettings settings = newer.BuildSettings(bCompress);
  settings.strPackName = newer.ReleaseRoot();
  settings.bTags = true;
  settings.nWorkers = m_nBuildWorkers;
  CPackBuilder builder({m_header, m_mapEntry, m_mapDir, m_vecFreeBlock, m_hBuildFile, m_nAddedCount}, settings);
  std::vector<std::string> vecFiles;
  std::vector<CPackSourceEntry> vecEntries;
  for (const CReleaseEntry& entry : diff.vecEntries) {
    if (entry.eChange != ReleaseChange::kChanged && entry.eChange != ReleaseChange::kAdded) continue;
    if (!newer.IsOpenPack()) {
      vecFiles.push_back(entry.strNewFile);
      continue;
    }
    auto itEntry = newer.m_mapEntry.find(entry.strName);
    if (itEntry == newer.m_mapEntry.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);  // not the release the diff was made with
      return false;
    }
    vecEntries.push_back({entry.strName, itEntry->second.get()});
  }
  const CEntryReader reader = newer.Reader();
  const CBuildSource source = newer.IsOpenPack() ? CBuildSource(reader, vecEntries) : CBuildSource(vecFiles);
  return BuildInto(builder, source, settings.strPackName, chDesFilePath, pszOutPath, pszPackName, false);
}
