#include "tools/filepacktools_lib/packexclude.h"

#include <algorithm>

#include "platform/cp936.h"
#include "platform/paths.h"
#include "platform/text_case.h"

namespace {

constexpr char kAnyComponents[] = "**";

// The characters of a component: a double-byte character is one.
std::vector<std::string> Characters(const std::string& strText) {
  std::vector<std::string> vecChars;
  for (size_t i = 0; i < strText.size();) {
    const size_t nLength = Cp936IsLeadByte(static_cast<unsigned char>(strText[i])) && i + 1 < strText.size() ? 2 : 1;
    vecChars.push_back(strText.substr(i, nLength));
    i += nLength;
  }
  return vecChars;
}

// One component against one pattern component of '*', '?' and literal
// characters: the usual backtracking over the last '*'.
bool MatchComponent(const std::string& strPattern, const std::string& strText) {
  const std::vector<std::string> vecPattern = Characters(strPattern);
  const std::vector<std::string> vecText = Characters(strText);
  size_t nPattern = 0;
  size_t nText = 0;
  size_t nStar = std::string::npos;
  size_t nStarText = 0;
  while (nText < vecText.size()) {
    if (nPattern < vecPattern.size() && vecPattern[nPattern] == "*") {
      nStar = nPattern++;
      nStarText = nText;
    } else if (nPattern < vecPattern.size() &&
               (vecPattern[nPattern] == "?" || vecPattern[nPattern] == vecText[nText])) {
      ++nPattern;
      ++nText;
    } else if (nStar != std::string::npos) {
      nPattern = nStar + 1;
      nText = ++nStarText;
    } else {
      return false;
    }
  }
  while (nPattern < vecPattern.size() && vecPattern[nPattern] == "*") ++nPattern;
  return nPattern == vecPattern.size();
}

// The pattern's components from nPattern on against the path's from nPath
// on. Once the pattern is used up, what is left of the path lies below a
// directory it matched.
bool MatchFrom(const std::vector<std::string>& vecPattern, size_t nPattern, const std::vector<std::string>& vecPath,
               size_t nPath) {
  if (nPattern == vecPattern.size()) return nPath > 0;
  if (vecPattern[nPattern] == kAnyComponents) {
    for (size_t nSkip = nPath; nSkip <= vecPath.size(); ++nSkip) {
      if (MatchFrom(vecPattern, nPattern + 1, vecPath, nSkip)) return true;
    }
    return false;
  }
  return nPath < vecPath.size() && MatchComponent(vecPattern[nPattern], vecPath[nPath]) &&
         MatchFrom(vecPattern, nPattern + 1, vecPath, nPath + 1);
}

}  // namespace

CBuildExcludes::CBuildExcludes(const std::vector<std::string>& vecPatterns) {
  for (const std::string& strPattern : vecPatterns) {
    std::string strFolded = LowerCopy(strPattern);
    std::replace(strFolded.begin(), strFolded.end(), '/', '\\');  // '/' is never a trail byte
    std::vector<std::string> vecComponents = SplitPath(strFolded);
    if (vecComponents.empty()) continue;
    if (Cp936StrChr(strFolded.c_str(), '\\') == nullptr) vecComponents.insert(vecComponents.begin(), kAnyComponents);
    m_vecPatterns.push_back(std::move(vecComponents));
  }
}

bool CBuildExcludes::Excludes(const std::string& strEntryName) const {
  if (m_vecPatterns.empty()) return false;
  std::vector<std::string> vecPath = SplitPath(strEntryName);
  if (vecPath.size() < 2) return false;
  vecPath.erase(vecPath.begin());  // the root name
  return std::any_of(
      m_vecPatterns.begin(), m_vecPatterns.end(),
      [&vecPath](const std::vector<std::string>& vecPattern) { return MatchFrom(vecPattern, 0, vecPath, 0); });
}
