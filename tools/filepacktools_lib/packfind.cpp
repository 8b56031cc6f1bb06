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

// The enumeration state of one pack object, by reference.
struct CFindState {
  PackDirRecord& result;
  char (&szFilter)[32];
  int32_t& nMode;
  std::vector<PackDirRecord>& vecList;
  std::vector<PackDirRecord>::const_iterator& itFind;
  PackDirMap& mapByExtension;

  // Ends the enumeration: nothing runs any more.
  void Reset() {
    std::memset(&result, 0, sizeof(result));
    std::memset(szFilter, 0, sizeof(szFilter));
    nMode = 0;
    vecList.clear();
    itFind = vecList.cend();
    mapByExtension.clear();
  }
};

namespace {

class CPackFinder {
 public:
  enum class Visit { kSkip, kMatch, kEnd };

  explicit CPackFinder(CFindState state) : m_state(state) {}

  // Walks from the cursor until a match (the cursor stays on it) or the
  // end. False when mode 4 ended the enumeration.
  bool Walk(bool bFirst);

  // Mode 4 of FindFirst: files every file of the listed directory under
  // its extension, then moves onto the list of the filter's extension.
  void StartExtensionWalk();

  // Hands out the result for the record under the cursor and moves past
  // it, or null at the end.
  PackDirRecord* Advance();

 private:
  // Looks at a record by the running mode; on a match it is the result.
  Visit VisitRecord(const PackDirRecord& record, bool bFirst);
  Visit VisitByExtension(const PackDirRecord& record, bool bFirst);
  void SetResultName(const PackDirRecord& record, const std::string& strName);

  CFindState m_state;
};


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

void CPackFinder::SetResultName(const PackDirRecord& record, const std::string& strName) {
  m_state.result.nKind = record.nKind;
  SetField(m_state.result.szFullPath, kPackNameSize, strName);
}

CPackFinder::Visit CPackFinder::VisitRecord(const PackDirRecord& record, bool bFirst) {
  std::string strName;
  switch (m_state.nMode) {
    case 1:
      if (record.nKind == kPackDirKindDir || !NameOf(record, strName)) return Visit::kSkip;
      SetResultName(record, strName);
      return Visit::kMatch;
    case 2:
      m_state.result = record;
      return Visit::kMatch;
    case 3:
      if (record.nKind == kPackDirKindFile) return Visit::kSkip;
      m_state.result = record;
      return Visit::kMatch;
    case 4:
      return VisitByExtension(record, bFirst);
    default:
      return Visit::kSkip;
  }
}

// FindFirst files each file under its last-dot extension and never stops;
// FindNext matches the text from the first dot against the filter and ends
// the enumeration at a file without a dot.
CPackFinder::Visit CPackFinder::VisitByExtension(const PackDirRecord& record, bool bFirst) {
  if (record.nKind == kPackDirKindDir) return Visit::kSkip;
  std::string strName;
  const bool bHasName = NameOf(record, strName);
  const size_t nDot = bHasName ? (bFirst ? strName.rfind('.') : strName.find('.')) : std::string::npos;
  if (nDot == std::string::npos) return bFirst ? Visit::kSkip : Visit::kEnd;
  if (bFirst) {
    m_state.mapByExtension[strName.substr(nDot)].push_back(record);
    return Visit::kSkip;
  }
  const std::string strFilter = FieldString(m_state.szFilter, sizeof(m_state.szFilter));
  if (strName.compare(nDot, std::string::npos, strFilter) != 0) return Visit::kSkip;
  SetResultName(record, strName);
  return Visit::kMatch;
}

bool CPackFinder::Walk(bool bFirst) {
  for (; m_state.itFind != m_state.vecList.cend(); ++m_state.itFind) {
    switch (VisitRecord(*m_state.itFind, bFirst)) {
      case Visit::kMatch:
        return true;
      case Visit::kEnd:
        m_state.Reset();
        return false;
      case Visit::kSkip:
        break;
    }
  }
  return true;
}

void CPackFinder::StartExtensionWalk() {
  const std::string strFilter = FieldString(m_state.szFilter, sizeof(m_state.szFilter));
  auto itExt = m_state.mapByExtension.find(strFilter);
  if (itExt == m_state.mapByExtension.end()) return;  // m_itFind stays at the end
  m_state.vecList = itExt->second;
  // Every record of the list carries the filter as its last-dot extension,
  // so the first one is the match.
  m_state.itFind = m_state.vecList.cbegin();
  std::string strName;
  if (m_state.itFind != m_state.vecList.cend() && NameOf(*m_state.itFind, strName)) {
    SetResultName(*m_state.itFind, strName);
  }
}

PackDirRecord* CPackFinder::Advance() {
  if (m_state.itFind == m_state.vecList.cend()) return nullptr;
  ++m_state.itFind;
  return &m_state.result;
}

}  // namespace

CFindState CPackFile::FindState() {
  return CFindState{m_findResult, m_szFindFilter, m_nFindMode, m_vecFindList, m_itFind, m_mapFindDir};
}

void CPackFile::ResetFindState() { FindState().Reset(); }

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
  CPackFinder finder(FindState());
  finder.Walk(true);
  if (m_nFindMode == 4) {
    SetField(m_szFindFilter, sizeof(m_szFindFilter), pszFindType + 1);
    finder.StartExtensionWalk();
  } else {
    SetField(m_szFindFilter, sizeof(m_szFindFilter), pszFindType);
  }
  return finder.Advance();
}

PackDirRecord* CPackFile::FindNext() {
  if (m_szFindFilter[0] == '\0') return nullptr;
  CPackFinder finder(FindState());
  if (!finder.Walk(false)) return nullptr;
  return finder.Advance();
}
