// Directory enumeration over the pack's tree, in the manner of a file-system
// search: one record per call, from a copy of the directory's list.
//
// Modes: 1 "*.*" files (name alone), 2 "*" everything (full path), 3 "."
// directories (full path), 4 any other pattern "?ext" files whose extension
// is the pattern without its first character (name alone).
//
// Mode 4 keeps a difference callers depend on: FindFirst files a name under
// the extension from its last dot, FindNext compares the text from its
// first dot, so a.b.txt under *.txt is found only as the first .txt file.
#include <cassert>
#include <cstring>

#include "tools/filepacktools_lib/crealizepack.h"

class CPackFinder {
 public:
  enum class Visit { kSkip, kMatch, kEnd };

  // Looks at the record under m_itFind by the running mode; on a match it
  // is in m_findResult.
  static Visit VisitRecord(CPackFile& pack, const PackDirRecord& record, bool bFirst);
  static Visit VisitByExtension(CPackFile& pack, const PackDirRecord& record, bool bFirst);

  // Walks from m_itFind until a match (m_itFind stays on it) or the end.
  // False when mode 4 ended the enumeration.
  static bool Walk(CPackFile& pack, bool bFirst);

  // Mode 4 of FindFirst: files every file of the listed directory under
  // its extension, then moves onto the list of the filter's extension.
  static void StartExtensionWalk(CPackFile& pack);

  // Hands out m_findResult for the record under m_itFind and moves past it,
  // or null at the end.
  static PackDirRecord* Advance(CPackFile& pack);

  static void SetResultName(CPackFile& pack, const PackDirRecord& record, const std::string& strName);
};

namespace {

int ModeOf(const char* pszFindType) {
  if (std::strcmp(pszFindType, "*.*") == 0) return 1;
  if (std::strcmp(pszFindType, "*") == 0) return 2;
  if (std::strcmp(pszFindType, ".") == 0) return 3;
  return 4;
}

// The file name of a record, or false when its path has no backslash.
bool NameOf(const PackDirRecord& record, std::string& strName) {
  const std::string strPath = FieldString(record.szFullPath, kPackNameSize);
  const size_t nSep = strPath.rfind('\\');
  if (nSep == std::string::npos) return false;
  strName = strPath.substr(nSep + 1);
  return true;
}

}  // namespace

void CPackFinder::SetResultName(CPackFile& pack, const PackDirRecord& record, const std::string& strName) {
  pack.m_findResult.nKind = record.nKind;
  SetField(pack.m_findResult.szFullPath, kPackNameSize, strName);
}

CPackFinder::Visit CPackFinder::VisitRecord(CPackFile& pack, const PackDirRecord& record, bool bFirst) {
  std::string strName;
  switch (pack.m_nFindMode) {
    case 1:
      if (record.nKind == kPackDirKindDir || !NameOf(record, strName)) return Visit::kSkip;
      SetResultName(pack, record, strName);
      return Visit::kMatch;
    case 2:
      pack.m_findResult = record;
      return Visit::kMatch;
    case 3:
      if (record.nKind == kPackDirKindFile) return Visit::kSkip;
      pack.m_findResult = record;
      return Visit::kMatch;
    case 4:
      return VisitByExtension(pack, record, bFirst);
    default:
      return Visit::kSkip;
  }
}

// FindFirst files each file under its last-dot extension and never stops;
// FindNext matches the text from the first dot against the filter and ends
// the enumeration at a file without a dot.
CPackFinder::Visit CPackFinder::VisitByExtension(CPackFile& pack, const PackDirRecord& record, bool bFirst) {
  if (record.nKind == kPackDirKindDir) return Visit::kSkip;
  std::string strName;
  const bool bHasName = NameOf(record, strName);
  const size_t nDot = bHasName ? (bFirst ? strName.rfind('.') : strName.find('.')) : std::string::npos;
  if (nDot == std::string::npos) return bFirst ? Visit::kSkip : Visit::kEnd;
  if (bFirst) {
    pack.m_mapFindDir[strName.substr(nDot)].push_back(record);
    return Visit::kSkip;
  }
  const std::string strFilter = FieldString(pack.m_szFindFilter, sizeof(pack.m_szFindFilter));
  if (strName.compare(nDot, std::string::npos, strFilter) != 0) return Visit::kSkip;
  SetResultName(pack, record, strName);
  return Visit::kMatch;
}

bool CPackFinder::Walk(CPackFile& pack, bool bFirst) {
  for (; pack.m_itFind != pack.m_vecFindList.cend(); ++pack.m_itFind) {
    switch (VisitRecord(pack, *pack.m_itFind, bFirst)) {
      case Visit::kMatch:
        return true;
      case Visit::kEnd:
        pack.ResetFindState();
        return false;
      case Visit::kSkip:
        break;
    }
  }
  return true;
}

void CPackFinder::StartExtensionWalk(CPackFile& pack) {
  const std::string strFilter = FieldString(pack.m_szFindFilter, sizeof(pack.m_szFindFilter));
  auto itExt = pack.m_mapFindDir.find(strFilter);
  if (itExt == pack.m_mapFindDir.end()) return;  // m_itFind stays at the end
  pack.m_vecFindList = itExt->second;
  // Every record of the list carries the filter as its last-dot extension,
  // so the first one is the match.
  pack.m_itFind = pack.m_vecFindList.cbegin();
  std::string strName;
  if (pack.m_itFind != pack.m_vecFindList.cend() && NameOf(*pack.m_itFind, strName)) {
    SetResultName(pack, *pack.m_itFind, strName);
  }
}

PackDirRecord* CPackFinder::Advance(CPackFile& pack) {
  if (pack.m_itFind == pack.m_vecFindList.cend()) return nullptr;
  ++pack.m_itFind;
  return &pack.m_findResult;
}

PackDirRecord* CPackFile::FindFirst(const char* pszFindPath, const char* pszFindType) {
  assert(NULL != pszFindPath);
  assert('\0' != *pszFindPath);
  assert(NULL != pszFindType);
  assert('\0' != *pszFindType);
  if (!pszFindPath || !pszFindPath[0] || !pszFindType || !pszFindType[0]) return nullptr;
  // The filter holds 32 bytes and keys are pack names: longer input names
  // nothing, and a running enumeration is left alone.
  if (strnlen(pszFindType, sizeof(m_szFindFilter) + 1) > sizeof(m_szFindFilter) ||
      strnlen(pszFindPath, MAX_PATH) >= MAX_PATH) {
    return nullptr;
  }
  auto itDir = m_mapDir.find(FieldString(m_header.szRootName, kPackRootNameSize) + '\\' + pszFindPath);
  if (itDir == m_mapDir.end()) return nullptr;

  m_nFindMode = ModeOf(pszFindType);
  m_vecFindList = itDir->second;
  m_mapFindDir.clear();
  m_itFind = m_vecFindList.cbegin();
  CPackFinder::Walk(*this, true);
  if (m_nFindMode == 4) {
    SetField(m_szFindFilter, sizeof(m_szFindFilter), pszFindType + 1);
    CPackFinder::StartExtensionWalk(*this);
  } else {
    SetField(m_szFindFilter, sizeof(m_szFindFilter), pszFindType);
  }
  return CPackFinder::Advance(*this);
}

PackDirRecord* CPackFile::FindNext() {
  if (m_szFindFilter[0] == '\0') return nullptr;
  if (!CPackFinder::Walk(*this, false)) return nullptr;
  return CPackFinder::Advance(*this);
}
