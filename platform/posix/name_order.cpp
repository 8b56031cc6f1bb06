#include "platform/posix/name_order.h"

#include <algorithm>
#include <vector>

#include "platform/posix/utf8.h"

namespace {

char32_t FoldUpper(char32_t ch) { return (ch >= U'a' && ch <= U'z') ? ch - U'a' + U'A' : ch; }

// Code points of a name; each byte of an invalid sequence stands for itself
// as a lone low surrogate so that no two names decode alike.
std::u32string DecodeName(const std::string& strName) {
  std::u32string strOut;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(strName.data());
  size_t nLeft = strName.size();
  while (nLeft > 0) {
    char32_t ch = 0;
    size_t nLen = DecodeUtf8(p, nLeft, &ch);
    if (nLen == 0) {
      ch = 0xDC00 + *p;
      nLen = 1;
    }
    strOut.push_back(ch);
    p += nLen;
    nLeft -= nLen;
  }
  return strOut;
}

}  // namespace

std::u16string NameSortKey(const std::string& strName) {
  std::u16string strKey;
  for (char32_t ch : DecodeName(strName)) {
    ch = FoldUpper(ch);
    if (ch >= 0x10000) {
      ch -= 0x10000;
      strKey.push_back(static_cast<char16_t>(0xD800 + (ch >> 10)));
      strKey.push_back(static_cast<char16_t>(0xDC00 + (ch & 0x3FF)));
    } else {
      strKey.push_back(static_cast<char16_t>(ch));
    }
  }
  return strKey;
}

namespace {

// Backtracking glob over code points: after a mismatch, the last '*' takes
// one more character and matching resumes behind it.
bool Glob(const std::u32string& strPattern, const std::u32string& strName) {
  size_t nPat = 0;
  size_t nName = 0;
  size_t nStarPat = std::u32string::npos;
  size_t nStarName = 0;
  while (nName < strName.size()) {
    if (nPat < strPattern.size() && strPattern[nPat] == U'*') {
      nStarPat = nPat++;
      nStarName = nName;
    } else if (nPat < strPattern.size() &&
               (strPattern[nPat] == U'?' || FoldUpper(strPattern[nPat]) == FoldUpper(strName[nName]))) {
      ++nPat;
      ++nName;
    } else if (nStarPat != std::u32string::npos) {
      nPat = nStarPat + 1;
      nName = ++nStarName;
    } else {
      return false;
    }
  }
  while (nPat < strPattern.size() && strPattern[nPat] == U'*') ++nPat;
  return nPat == strPattern.size();
}

}  // namespace

bool EqualsIgnoringAsciiCase(const std::string& strLeft, const std::string& strRight) {
  return strLeft.size() == strRight.size() &&
         std::equal(strLeft.begin(), strLeft.end(), strRight.begin(), [](char chLeft, char chRight) {
           return FoldUpper(static_cast<unsigned char>(chLeft)) == FoldUpper(static_cast<unsigned char>(chRight));
         });
}

bool NameLess(const std::string& strLeft, const std::string& strRight) {
  std::u16string strKeyLeft = NameSortKey(strLeft);
  std::u16string strKeyRight = NameSortKey(strRight);
  if (strKeyLeft != strKeyRight) return strKeyLeft < strKeyRight;
  return strLeft < strRight;
}

bool MatchesWildcard(const std::string& strPattern, const std::string& strName) {
  if (strPattern == "*" || strPattern == "*.*") return true;
  return Glob(DecodeName(strPattern), DecodeName(strName));
}

bool HasWildcard(const std::string& strText) { return strText.find_first_of("*?") != std::string::npos; }
