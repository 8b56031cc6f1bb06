// Builds driven by text lists: "ConfigDir.txt", whose lines name directories
// or files below the current directory, and a file list whose first line
// names the root.
//
// Both lists are split the same way: a CR ends a line and the byte after it
// is dropped (the LF of a CR LF pair), an LF alone ends nothing, and what
// follows the last line end is the last line. The text is raw code page 936
// and ends at its first NUL. A line longer than a path buffer holds (259
// characters) rejects the whole list: cutting it would name another file.
#include <algorithm>
#include <cassert>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/cp936.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/text_case.h"
#include "tools/filepacktools_lib/crealizepack.h"

namespace {

constexpr char kConfigDirFile[] = "ConfigDir.txt";
constexpr size_t kMaxLineLength = MAX_PATH - 1;

struct CListLine {
  std::string strText;
  bool bEnded;  // closed by a CR; false only for a last line without one
};

enum class ListRead { kRead, kMissing, kRejected };

// The non-blank lines of a list, in file order; false when one is too long.
bool SplitLines(const std::string& strText, std::vector<CListLine>& vecLines) {
  const size_t nEnd = std::min(strText.find('\0'), strText.size());
  std::string strLine;
  for (size_t i = 0; i < nEnd; ++i) {
    if (strText[i] != '\r') {
      strLine += strText[i];
      continue;
    }
    if (!strLine.empty()) vecLines.push_back({strLine, true});
    strLine.clear();
    ++i;  // the byte after a CR is not looked at
  }
  if (!strLine.empty()) vecLines.push_back({strLine, false});
  for (const CListLine& line : vecLines) {
    if (line.strText.size() > kMaxLineLength) return false;
  }
  return true;
}

ListRead ReadList(const char* pszPath, std::vector<CListLine>& vecLines) {
  std::string strText;
  if (!ReadWholeFile(pszPath, strText)) return ListRead::kMissing;
  if (!SplitLines(strText, vecLines)) {
    vecLines.clear();
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return ListRead::kRejected;
  }
  return ListRead::kRead;
}

// The last component of a path, or the whole text when it has no backslash.
std::string LastComponent(const std::string& strPath) {
  const size_t nSep = LastSeparator(strPath);
  return nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
}

}  // namespace

// A list that is there but rejected builds nothing, so that a pack built
// before from the full list is not replaced by one that lacks lines.
void CPackFile::PackConfigDirs(bool bCompress) {
  if (!CollectConfigDirs()) return;
  const std::string strWorkDir = WorkDirectory();
  CreatePack(strWorkDir.c_str(), strWorkDir.c_str(), bCompress, nullptr, nullptr, false);
}

bool CPackFile::CollectConfigDirs() {
  const std::string strWorkDir = LowerCopy(CurrentDirectory());
  if (strWorkDir.empty())
    return Fail(false, ERROR_FILENAME_EXCED_RANGE);  // no current directory that fits a path buffer
  SetField(m_szWorkDir, sizeof(m_szWorkDir), strWorkDir);
  if (LastSeparator(strWorkDir) == std::string::npos) return Fail(false, ERROR_BAD_PATHNAME);
  std::vector<CListLine> vecLines;
  if (ReadList(kConfigDirFile, vecLines) == ListRead::kRejected) return false;

  m_strPackName = LastComponent(strWorkDir);
  m_strRootDir = strWorkDir;
  SetField(m_szSrcRoot, sizeof(m_szSrcRoot), m_strPackName);
  m_mapDir.clear();
  m_mapDir[m_strPackName];
  m_vecConfigDir.clear();
  for (const CListLine& line : vecLines) m_vecConfigDir.push_back(line.strText);
  for (const std::string& strLine : m_vecConfigDir) CollectFiles((strWorkDir + '\\' + strLine).c_str());
  return true;
}

void CPackFile::ReadConfigDir() {
  std::vector<CListLine> vecLines;
  if (ReadList(kConfigDirFile, vecLines) != ListRead::kRead) return;
  for (const CListLine& line : vecLines) m_vecConfigDir.push_back(line.strText);
}

// Lines closed by CR name the root while there is no pack name; every other
// line is a file, without its trailing spaces, listed once.
bool CPackFile::ReadFileList(const char* pszConfigFile) {
  assert(NULL != pszConfigFile);
  assert('\0' != pszConfigFile[0]);
  if (!pszConfigFile || !pszConfigFile[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<CListLine> vecLines;
  if (ReadList(pszConfigFile, vecLines) != ListRead::kRead) return false;

  std::unordered_set<std::string> setListed(m_vecFileList.begin(), m_vecFileList.end());
  for (const CListLine& line : vecLines) {
    std::string strText = LowerCopy(line.strText);
    if (line.bEnded && m_strPackName.empty()) {
      m_strPackName = LastComponent(strText);
      // Files below the root line's directory are named relative to it.
      if (LastSeparator(strText) != std::string::npos) m_strRootDir = strText;
      m_mapDir.clear();
      m_mapDir[m_strPackName];
      continue;
    }
    strText.erase(strText.find_last_not_of(' ') + 1);
    if (!strText.empty() && setListed.insert(strText).second) m_vecFileList.push_back(strText);
  }
  SetField(m_szSrcRoot, sizeof(m_szSrcRoot), m_strPackName);
  return true;
}
