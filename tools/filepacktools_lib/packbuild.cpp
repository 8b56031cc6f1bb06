// Building a new pack from files on disk: the build root, the directory walk
// that fills the file list, and the build itself (packbuilder.cpp).
#include <cassert>
#include <cstring>
#include <string>

#include "platform/cp936.h"
#include "platform/paths.h"
#include "platform/scoped_handle.h"
#include "platform/text_case.h"
#include "tools/filepacktools_lib/crealizepack.h"
#include "tools/filepacktools_lib/packbuilder.h"
#include "tools/filepacktools_lib/packjournal.h"

namespace {

bool OpensForReading(const char* pszPath) {
  CScopedHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(hFile);
}

bool IsSkippedName(const char* pszName) {
  return std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0 || std::strcmp(pszName, ".svn") == 0;
}

}  // namespace

CBuildSettings CPackFile::BuildSettings(bool bCompress) const {
  CBuildSettings settings;
  settings.strPackName = m_strPackName;
  settings.strRootPath = m_strRootPath;
  settings.strSrcRoot = FieldString(m_szSrcRoot, sizeof(m_szSrcRoot));
  settings.strRootDir = m_strRootDir;
  settings.excludes = CBuildExcludes(m_vecExcludes);
  settings.bCompress = bCompress;
  settings.bTags = m_bContentTags;
  settings.nWorkers = m_nBuildWorkers;
  return settings;
}

CPackBuilder CPackFile::Builder(bool bCompress) {
  return CPackBuilder({m_header, m_mapEntry, m_mapDir, m_vecFreeBlock, m_hBuildFile, m_nAddedCount},
                      BuildSettings(bCompress));
}

void CPackFile::SetBuildExcludes(const std::vector<std::string>& vecPatterns) { m_vecExcludes = vecPatterns; }

void CPackFile::SetRootPath(const char* szPath) {
  assert(NULL != szPath);
  assert('\0' != szPath[0]);
  if (!szPath || !szPath[0]) return;
  m_strRootPath = LowerCopy(szPath);
  const size_t nSep = LastSeparator(m_strRootPath);
  if (nSep == std::string::npos) return;
  m_strPackName = m_strRootPath.substr(nSep + 1);
  m_strRootDir = m_strRootPath;
  m_mapDir.clear();
  m_mapDir[m_strPackName];
  SetField(m_szWorkDir, sizeof(m_szWorkDir), CurrentDirectory());
}

// A path too long for a path buffer is listed as it is, so that the build
// fails on it instead of leaving the file out without a word.
void CPackFile::CollectFiles(const char* chSrcDir) {
  assert(NULL != chSrcDir);
  if (!chSrcDir) return;
  const std::string strDir(chSrcDir);
  if (strDir.size() >= MAX_PATH || OpensForReading(chSrcDir)) {
    m_vecFileList.push_back(strDir);
    return;
  }
  if (!SetCurrentDirectoryA(chSrcDir)) return;
  WIN32_FIND_DATAA data;
  CFindHandle hFind(FindFirstFileA("*.*", &data));
  if (!hFind) return;
  do {
    if (IsSkippedName(data.cFileName)) continue;
    const std::string strChild = strDir + '\\' + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectFiles(strChild.c_str());
    } else {
      m_vecFileList.push_back(strChild);
    }
  } while (FindNextFileA(hFind.Get(), &data));
}

bool CPackFile::CreatePack(const char* chSrcFilePath, const char* chDesFilePath, bool bCompress, char* pszOutPath,
                           const char* pszPackName, bool bDeleteSrc) {
  assert(NULL != chSrcFilePath);
  assert('\0' != chSrcFilePath[0]);
  assert(NULL != chDesFilePath);
  assert('\0' != chDesFilePath[0]);
  if (!chSrcFilePath || !chSrcFilePath[0] || !chDesFilePath || !chDesFilePath[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (std::strlen(chSrcFilePath) >= MAX_PATH || !Cp936StrChr(chSrcFilePath, '\\')) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  CPackBuilder builder = Builder(bCompress);
  return BuildInto(builder, CBuildSource(m_vecFileList), m_strPackName, chDesFilePath, pszOutPath, pszPackName,
                   bDeleteSrc);
}

// Builds a pack of root name strPackName into chDesFilePath\<pszPackName
// or strPackName>.pak; the object's build state is reset once it is there.
bool CPackFile::BuildInto(CPackBuilder& builder, const CBuildSource& source, const std::string& strPackName,
                          const char* chDesFilePath, char* pszOutPath, const char* pszPackName, bool bDeleteSrc) {
  const std::string strDir = LowerCopy(chDesFilePath);
  const std::string strPackPath = strDir + '\\' + (pszPackName ? pszPackName : strPackName) + ".pak";
  if (strPackPath.size() >= MAX_PATH || strPackName.size() > kPackRootNameSize) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (pszOutPath) std::memcpy(pszOutPath, strPackPath.data(), strPackPath.size());

  // A journal beside the pack is restored into the file it was made for
  // before the build replaces it, putting back the loose files that merge
  // touched too; left there, it would be dropped unapplied by the next open.
  if (!RestoreFromJournal(strPackPath)) return false;
  if (!builder.Build(strDir, strPackPath, source)) return false;
  if (bDeleteSrc) builder.DeleteSources(strPackPath);

  m_mapEntry.clear();
  m_vecFreeBlock.clear();
  m_header = DefaultPackHeader();
  m_nAddedCount = 0;
  m_vecFileList.clear();
  m_mapDir.clear();
  m_strRootPath.clear();
  m_strRootDir.clear();
  return true;
}

// Deleting a source is CreatePack's last step, once the pack is complete;
// a single append has no pack to vouch for yet, so bDeleteSrc is not acted
// on here.
bool CPackFile::AddFileToPack(const char* szFile, bool bCompress, bool /*bDeleteSrc*/) {
  if (!szFile) return true;
  return Builder(bCompress).AppendFile(szFile) != CPackBuilder::Step::kFailed;
}
