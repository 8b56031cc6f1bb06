// Extraction: entries of an opened pack written back to disk, one file or a
// whole pack directory as a tree.
//
// A pack is untrusted input. Every file and directory that a directory
// extraction makes is named by one safe component of a record (never "",
// ".", "..", a drive or device name, ...) below a directory it made or
// started in, so nothing lands outside the starting directory; an unsafe
// record is skipped with everything below it. Paths are built whole and
// bounded by MAX_PATH, so no write depends on a directory change having
// worked.
#include <cassert>
#include <cstring>
#include <set>

#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/entrybytes.h"
#include "tools/filepacktools_lib/fileio.h"
#include "tools/filepacktools_lib/packcheck.h"

class CPackExtractor {
 public:
  // Pack directories already written by one extraction: a hostile table
  // that lists a directory many times costs one walk of it, not a walk
  // per listing at every level.
  using CWalked = std::set<std::string>;

  // Writes the children of the pack directory strKey into the existing
  // disk directory strDiskDir, recursing into sub-directories.
  static void WriteDirectory(CPackFile& pack, const std::string& strKey, const std::string& strDiskDir,
                             CWalked& walked);

  // Writes one child record of strKey into strDiskDir.
  static void WriteChild(CPackFile& pack, const std::string& strKey, const PackDirRecord& child,
                         const std::string& strDiskDir, CWalked& walked);

  static bool IsDirectory(const std::string& strPath);

  // Creates strPath unless it exists; true when it is a directory now.
  static bool MakeDirectory(const std::string& strPath);

  // The pack directory a path names (folded, from the first occurrence of
  // the root name), or false when the root name is not in it.
  static bool PackPathOf(const CPackFile& pack, const char* pchPackPath, std::string& strPackPath);

  // Directory mode of ExtractPath: the pack directory strPackPath into a
  // directory named after its last component, below the current directory.
  static int ExtractTree(CPackFile& pack, const std::string& strPackPath);

  // One write of the whole content; a failed or short write leaves no file.
  static bool WriteNewFile(const char* pszOutFile, const unsigned char* pbyData, uint32_t dwSize);
};

namespace {

std::string LastComponent(const std::string& strPath) {
  const size_t nSep = strPath.rfind('\\');
  return nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
}

bool FitsPathBuffer(const std::string& strPath) {
  return strPath.size() < MAX_PATH;
}

}  // namespace

bool CPackExtractor::IsDirectory(const std::string& strPath) {
  const DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CPackExtractor::MakeDirectory(const std::string& strPath) {
  CreateDirectoryA(strPath.c_str(), nullptr);
  return IsDirectory(strPath);
}

bool CPackExtractor::WriteNewFile(const char* pszOutFile, const unsigned char* pbyData, uint32_t dwSize) {
  CScopedHandle hFile(
      CreateFileA(pszOutFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  DWORD dwWritten = 0;
  if (WriteFile(hFile.Get(), pbyData, dwSize, &dwWritten, nullptr) && dwWritten == dwSize) return true;
  const DWORD dwError = dwWritten == dwSize ? GetLastError() : ERROR_DISK_FULL;
  hFile.Reset();
  DeleteFileA(pszOutFile);
  SetLastError(dwError);
  return false;
}

int CPackFile::ExtractFile(const char* pszName, const char* pszOutFile) {
  if (!pszName || !pszOutFile || !pszOutFile[0]) return 0;
  auto itEntry = m_mapEntry.find(pszName);
  if (itEntry == m_mapEntry.end()) return 0;
  // Reading (and decoding) comes before the output file is created, so an
  // entry that cannot be read leaves no file at all.
  CEntryBytes bytes;
  if (!ReadPlainBytes(*itEntry->second, bytes)) return 0;
  return CPackExtractor::WriteNewFile(pszOutFile, bytes.pbyData, bytes.dwSize) ? 1 : 0;
}

void CPackFile::ExtractAll(const char* pszOutFile) {
  if (!pszOutFile || m_mapEntry.empty()) return;
  for (const auto& item : m_mapEntry) ExtractFile(item.first.c_str(), pszOutFile);
}

bool CPackExtractor::PackPathOf(const CPackFile& pack, const char* pchPackPath, std::string& strPackPath) {
  // Only the first 256 characters of the caller's path are looked at.
  char szFolded[MAX_PATH] = {};
  std::strncpy(szFolded, pchPackPath, 256);
  CPackFile::MakeLower(szFolded);
  const std::string strFolded(szFolded);
  const size_t nRoot = strFolded.find(pack.m_strRootPath);
  if (nRoot == std::string::npos) return false;
  strPackPath = strFolded.substr(nRoot);
  return true;
}

int CPackFile::ExtractPath(const char* pchPackPath, int nExtractMode, const char* pchSinglefile) {
  assert(NULL != pchPackPath);
  assert('\0' != *pchPackPath);
  assert(NULL != pchSinglefile);
  assert('\0' != *pchSinglefile);
  assert(0 < m_strRootPath.length());
  if (!pchPackPath || !pchPackPath[0] || !pchSinglefile || !pchSinglefile[0] || m_strRootPath.empty()) return 0;
  if (strnlen(pchPackPath, MAX_PATH) >= MAX_PATH) return 0;

  std::string strPackPath;
  if (!CPackExtractor::PackPathOf(*this, pchPackPath, strPackPath)) return 0;
  m_strExtractDir = CurrentDirectory();
  if (m_strExtractDir.empty()) return 0;
  if (nExtractMode != 1) {
    if (strnlen(pchSinglefile, MAX_PATH) >= MAX_PATH) return 0;
    return ExtractFile(strPackPath.c_str(), pchSinglefile);
  }
  return CPackExtractor::ExtractTree(*this, strPackPath);
}

int CPackExtractor::ExtractTree(CPackFile& pack, const std::string& strPackPath) {
  const std::string strTop = LastComponent(strPackPath);
  if (!pack.m_mapDir.count(strPackPath) || !IsSafeEntryName(strTop)) return 0;
  const std::string strDiskDir = JoinPath(pack.m_strExtractDir, strTop);
  if (!FitsPathBuffer(strDiskDir) || !MakeDirectory(strDiskDir)) return 0;
  SetCurrentDirectoryA(strDiskDir.c_str());
  CWalked walked;
  WriteDirectory(pack, strPackPath, strDiskDir, walked);
  return 1;
}

int CPackFile::ExtractDir(const char* szDir) {
  assert(szDir);
  if (!szDir || m_strExtractDir.empty() || !IsSafeEntryName(szDir)) return 1;
  const std::string strDiskDir = JoinPath(m_strExtractDir, szDir);
  if (!FitsPathBuffer(strDiskDir) || !CPackExtractor::IsDirectory(strDiskDir)) return 1;
  CPackExtractor::CWalked walked;
  CPackExtractor::WriteDirectory(*this, szDir, strDiskDir, walked);
  return 1;
}

void CPackExtractor::WriteDirectory(CPackFile& pack, const std::string& strKey, const std::string& strDiskDir,
                                    CWalked& walked) {
  auto itDir = pack.m_mapDir.find(strKey);
  if (itDir == pack.m_mapDir.end() || !walked.insert(strKey).second) return;
  for (const PackDirRecord& child : itDir->second) {
    SetCurrentDirectoryA(strDiskDir.c_str());
    WriteChild(pack, strKey, child, strDiskDir, walked);
  }
}

void CPackExtractor::WriteChild(CPackFile& pack, const std::string& strKey, const PackDirRecord& child,
                                const std::string& strDiskDir, CWalked& walked) {
  const std::string strFullPath = FieldString(child.szFullPath, kPackNameSize);
  // A child's path extends its directory's key; a record that does not
  // (one naming its own directory, say) could only loop.
  if (strFullPath.size() <= strKey.size() + 1 || strFullPath.compare(0, strKey.size(), strKey) != 0 ||
      strFullPath[strKey.size()] != '\\') {
    return;
  }
  const std::string strLeaf = LastComponent(strFullPath);
  if (!IsSafeEntryName(strLeaf)) return;
  const std::string strDiskPath = JoinPath(strDiskDir, strLeaf);
  if (!FitsPathBuffer(strDiskPath)) return;
  if (child.nKind == kPackDirKindFile) {
    pack.ExtractFile(strFullPath.c_str(), strDiskPath.c_str());
    return;
  }
  if (!MakeDirectory(strDiskPath)) return;
  SetCurrentDirectoryA(strDiskPath.c_str());
  WriteDirectory(pack, strFullPath, strDiskPath, walked);
}
