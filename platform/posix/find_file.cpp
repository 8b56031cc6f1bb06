// Directory search: FindFirstFileA, FindNextFileA, FindClose.
//
// FindFirstFileA takes a snapshot of the matching entries, sorted the way
// NTFS lists a directory ("." and ".." first, then NameLess order), so the
// order is the same on every machine whatever the file system returns.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/api_guard.h"
#include "platform/cp936.h"
#include "platform/posix/dir_stream.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_info.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/name_order.h"
#include "platform/posix/path_lookup.h"

namespace {

class CFindObject : public CHandleObject {
 public:
  static constexpr EHandleKind kKind = kHandleFind;

  explicit CFindObject(std::vector<WIN32_FIND_DATAA> vecEntries)
      : CHandleObject(kKind), m_vecEntries(std::move(vecEntries)) {}

  // Copies the next entry out; false at the end.
  bool Next(WIN32_FIND_DATAA& data) {
    if (m_nNext >= m_vecEntries.size()) return false;
    data = m_vecEntries[m_nNext++];
    return true;
  }

 private:
  std::vector<WIN32_FIND_DATAA> m_vecEntries;
  size_t m_nNext = 0;
};

struct CListedName {
  std::string m_strName;  // UTF-8, as on disk
  int m_nRank;            // 0 ".", 1 "..", 2 everything else
  std::u16string m_strKey;
};

bool ListedBefore(const CListedName& left, const CListedName& right) {
  if (left.m_nRank != right.m_nRank) return left.m_nRank < right.m_nRank;
  if (left.m_strKey != right.m_strKey) return left.m_strKey < right.m_strKey;
  return left.m_strName < right.m_strName;
}

// Names in strDir matching the pattern, in listing order. The root of the
// file system lists no "." and "..", like the root of a Windows drive.
std::vector<CListedName> ListMatches(CDirStream& dir, const std::string& strDir, const std::string& strPattern) {
  std::vector<CListedName> vecNames;
  while (const dirent* pEntry = dir.Next()) {
    std::string strName(pEntry->d_name);
    int nRank = strName == "." ? 0 : strName == ".." ? 1 : 2;
    if ((nRank < 2 && strDir == "/") || !MatchesWildcard(strPattern, strName)) continue;
    std::u16string strKey = nRank < 2 ? std::u16string() : NameSortKey(strName);
    vecNames.push_back({std::move(strName), nRank, std::move(strKey)});
  }
  std::sort(vecNames.begin(), vecNames.end(), ListedBefore);
  return vecNames;
}

// Fills data for one entry; false when it vanished or its code-page-936 name
// does not fit cFileName.
bool DescribeEntry(const std::string& strDir, const std::string& strName, WIN32_FIND_DATAA& data) {
  std::string strCp936;
  Utf8ToCp936(strName, strCp936);
  if (strCp936.size() >= sizeof(data.cFileName)) return false;
  std::string strPath = (strDir == "/" ? strDir : strDir + "/") + strName;
  struct stat st;
  if (stat(strPath.c_str(), &st) != 0 && lstat(strPath.c_str(), &st) != 0) return false;
  std::memset(&data, 0, sizeof(data));
  data.dwFileAttributes = AttributesFromStat(st);
  // POSIX keeps no creation time everywhere; the modification time stands in.
  data.ftCreationTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  data.ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  data.ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  if (!S_ISDIR(st.st_mode)) {
    uint64_t nSize = static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(nSize >> 32);
    data.nFileSizeLow = static_cast<DWORD>(nSize);
  }
  std::memcpy(data.cFileName, strCp936.c_str(), strCp936.size() + 1);
  return true;
}

// A pattern ending in a separator names a directory, not entries: Windows
// finds nothing for it.
bool EndsWithSeparator(LPCSTR pszFileName) {
  const char* pszEnd = Cp936StrChr(pszFileName, '\0');
  return pszEnd != pszFileName &&
         (Cp936StrRChr(pszFileName, '\\') == pszEnd - 1 || Cp936StrRChr(pszFileName, '/') == pszEnd - 1);
}

HANDLE FindFirstFileImpl(LPCSTR pszFileName, LPWIN32_FIND_DATAA pData) {
  if (pData == nullptr) return Fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
  CPathRules rules;
  rules.m_bWildcardLast = true;
  std::vector<std::string> vecComponents;
  DWORD dwError = ParseWin32Path(pszFileName, rules, vecComponents);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);
  if (vecComponents.empty() || EndsWithSeparator(pszFileName)) return Fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);

  CResolvedPath dirPath;
  dwError = ResolveComponents(vecComponents, vecComponents.size() - 1, dirPath);
  if (dwError != ERROR_SUCCESS) return Fail(INVALID_HANDLE_VALUE, dwError);
  if (!dirPath.Exists()) return Fail(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
  CDirStream dir(dirPath.m_strPath);
  if (!dir.IsOpen()) return Fail(INVALID_HANDLE_VALUE, errno == ENOTDIR ? ERROR_DIRECTORY : Win32ErrorFromErrno(errno));

  std::vector<WIN32_FIND_DATAA> vecEntries;
  for (const CListedName& name : ListMatches(dir, dirPath.m_strPath, vecComponents.back())) {
    vecEntries.emplace_back();
    if (!DescribeEntry(dirPath.m_strPath, name.m_strName, vecEntries.back())) vecEntries.pop_back();
  }
  if (vecEntries.empty()) return Fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
  auto spFind = std::make_shared<CFindObject>(std::move(vecEntries));
  spFind->Next(*pData);
  return RegisterHandle(std::move(spFind));
}

BOOL FindNextFileImpl(HANDLE hFindFile, LPWIN32_FIND_DATAA pData) {
  std::shared_ptr<CFindObject> spFind = LookupHandleAs<CFindObject>(hFindFile);
  if (!spFind) return FALSE;
  if (pData == nullptr) return Fail(FALSE, ERROR_INVALID_PARAMETER);
  if (!spFind->Next(*pData)) return Fail(FALSE, ERROR_NO_MORE_FILES);
  return TRUE;
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  return GuardWin32(INVALID_HANDLE_VALUE, [&] { return FindFirstFileImpl(lpFileName, lpFindFileData); });
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  return GuardWin32(FALSE, [&] { return FindNextFileImpl(hFindFile, lpFindFileData); });
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
  return GuardWin32(FALSE, [&] { return ReleaseHandle(hFindFile, kHandleFind) ? TRUE : FALSE; });
}
